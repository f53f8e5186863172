# Fails when the engine below the windows depends on a window:
#   cmake -DSOURCES=a.h|a.cpp|... -DALLOWED_DIRS=dir|dir|... -DLINKS=lib|lib|...
#         -P CheckEngine.cmake
# Every quoted include of a source must name another engine source or a
# header in one of ALLOWED_DIRS (the layers below); an angle include of the
# toolkit must be one of its base headers, and no native window system
# header may appear; LINKS (the engine's link libraries) must hold nothing
# above the engine and no window library.

cmake_minimum_required(VERSION 3.25)

set(base_headers
  wx/defs.h wx/debug.h wx/string.h wx/arrstr.h wx/thread.h wx/event.h wx/log.h
  wx/atomic.h wx/datetime.h wx/stopwatch.h wx/timer.h wx/weakref.h wx/vector.h)
set(window_systems gtk gdk glib-object X11 windows.h commctrl.h)
set(window_links qel_interface qel_app qel::wxcore qel::gtk PkgConfig::QEL_GTK)

string(REPLACE "|" ";" sources "${SOURCES}")
string(REPLACE "|" ";" allowed_dirs "${ALLOWED_DIRS}")
string(REPLACE "|" ";" links "${LINKS}")

set(own_names "")
foreach(source IN LISTS sources)
  get_filename_component(name "${source}" NAME)
  list(APPEND own_names "${name}")
endforeach()

set(problems "")
foreach(source IN LISTS sources)
  if(NOT EXISTS "${source}")
    list(APPEND problems "${source}: no such file")
    continue()
  endif()
  file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(header "${CMAKE_MATCH_1}")
      if(header IN_LIST own_names)
        continue()
      endif()
      set(found FALSE)
      foreach(dir IN LISTS allowed_dirs)
        if(EXISTS "${dir}/${header}")
          set(found TRUE)
        endif()
      endforeach()
      if(NOT found)
        list(APPEND problems "${source}: includes \"${header}\", which is no engine header")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
      set(header "${CMAKE_MATCH_1}")
      if(header MATCHES "^wx/" AND NOT header IN_LIST base_headers)
        list(APPEND problems "${source}: includes <${header}>, a window header of the toolkit")
      endif()
      foreach(system IN LISTS window_systems)
        if(header MATCHES "^${system}(/|$)")
          list(APPEND problems "${source}: includes <${header}>, a window system header")
        endif()
      endforeach()
    endif()
  endforeach()
endforeach()

foreach(link IN LISTS links)
  if(link IN_LIST window_links OR link MATCHES "wx_gtk|wx_msw|_core-")
    list(APPEND problems "the engine links ${link}")
  endif()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "The engine depends on a window:\n  ${text}")
endif()
