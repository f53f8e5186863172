# wxWidgets through wx-config: one imported target per layer's need.
#   qel::wxbase  strings, arrays, threads, events, the event loop (no windows)
#   qel::wxcore  everything the windows need
find_program(WX_CONFIG wx-config REQUIRED)

function(qel_wx_target name libs)
  execute_process(COMMAND ${WX_CONFIG} --cxxflags ${libs}
                  OUTPUT_VARIABLE cxxflags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${WX_CONFIG} --libs ${libs}
                  OUTPUT_VARIABLE ldflags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(cxxflags UNIX_COMMAND "${cxxflags}")
  separate_arguments(ldflags UNIX_COMMAND "${ldflags}")
  # The Windows port's flags would make every program that links the
  # windows a GUI program; only the panel is one (add_executable WIN32), the
  # tests stay console programs whose output the test runner reads.
  list(REMOVE_ITEM ldflags -mwindows -Wl,--subsystem,windows)
  set(includes "")
  set(definitions "")
  set(options "")
  foreach(flag IN LISTS cxxflags)
    if(flag MATCHES "^-I(.*)")
      list(APPEND includes "${CMAKE_MATCH_1}")
    elseif(flag MATCHES "^-DwxUSE_GUI=0$")
      # Said by the base flags only; passed on it would hide the GUI classes
      # from every target that links a base-only library together with core.
    elseif(flag MATCHES "^-D(.*)")
      list(APPEND definitions "${CMAKE_MATCH_1}")
    else()
      list(APPEND options "${flag}")
    endif()
  endforeach()
  add_library(${name} INTERFACE IMPORTED GLOBAL)
  # System includes: the toolkit's headers are not ours to warn about.
  set_target_properties(${name} PROPERTIES
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${includes}"
    INTERFACE_INCLUDE_DIRECTORIES "${includes}"
    INTERFACE_COMPILE_DEFINITIONS "${definitions}"
    INTERFACE_COMPILE_OPTIONS "${options}"
    INTERFACE_LINK_LIBRARIES "${ldflags}")
endfunction()

qel_wx_target(qel::wxbase "base")
qel_wx_target(qel::wxcore "core,base")

# The interface reaches a few native dialog functions of the toolkit's GTK
# port (ending a message box on shutdown) directly.
execute_process(COMMAND ${WX_CONFIG} --cxxflags core
                OUTPUT_VARIABLE qel_wx_core_flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(qel_wx_core_flags MATCHES "__WXGTK__")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(QEL_GTK REQUIRED IMPORTED_TARGET GLOBAL gtk+-3.0)
  add_library(qel::gtk ALIAS PkgConfig::QEL_GTK)
else()
  add_library(qel_no_gtk INTERFACE)
  add_library(qel::gtk ALIAS qel_no_gtk)
endif()
