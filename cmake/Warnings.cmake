# The project's warning set, applied to its own targets only. QEL_WERROR turns
# warnings into errors (scripts/test and CI always set it).
option(QEL_WERROR "Treat warnings as errors" OFF)

function(qel_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(QEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
