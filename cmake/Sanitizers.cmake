# Whole-build sanitizers. QEL_SANITIZE is a comma-separated list for
# -fsanitize= (for example "address,undefined" or "thread"); empty for none.
# QEL_BUILD_FUZZ compiles everything for libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer; the fuzz targets add the fuzzer runtime at link.
set(QEL_SANITIZE "" CACHE STRING "Sanitizers for the whole build, e.g. address,undefined")

if(QEL_SANITIZE)
  add_compile_options(-fsanitize=${QEL_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QEL_SANITIZE})
endif()

if(QEL_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QEL_BUILD_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
