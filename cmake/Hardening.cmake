# Hardening of the optimised builds: buffer overflow checks in the C
# library's string and memory functions, stack protection, and a read-only
# relocation table resolved at start (the installed programs link with it).
# Not in builds with sanitizers or for fuzzing, whose instrumentation does
# the checking there, not in unoptimised builds, where the C library's
# checks do not work, and not in the Windows build, whose C library has no
# fortified functions and whose stack protector would need a library of its
# own.
option(QEL_HARDEN "Harden the optimised builds (fortified functions, stack protector, RELRO)" ON)

set(QEL_HARDENED OFF)
if(QEL_HARDEN AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$"
   AND NOT QEL_SANITIZE AND NOT QEL_BUILD_FUZZ AND NOT WIN32)
  set(QEL_HARDENED ON)
  # Every library, as the programs are made of them; a compiler that
  # fortifies by itself is given the same level.
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
endif()

# qel_harden_program(<target>): the link options of an installed program.
function(qel_harden_program target)
  if(QEL_HARDENED)
    target_link_options(${target} PRIVATE -Wl,-z,relro,-z,now)
  endif()
endfunction()
