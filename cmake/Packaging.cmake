# Installation and the Debian package.
#
# The panel finds its pictures next to its executable (in res/) and makes the
# executable's directory its working directory, so the programs live in a
# private directory with the pictures beside them, and bin/ holds links:
#
#   bin/qel-panel, bin/qel-manager, bin/qelctl  links to lib/qelvane/...
#   lib/qelvane/qel-panel, qel-manager, qelctl  the programs
#   lib/qelvane/res                           link to share/qelvane/res
#   share/qelvane/res/*.png                   the pictures, the panel's also
#                                             at twice the size (*@2x.png)
#   share/applications/example.qelvane.Panel.desktop    the desktop entry
#   share/metainfo/example.qelvane.Panel.metainfo.xml   the AppStream data
#   share/locale/<lang>/LC_MESSAGES/qelvane.mo           the translations
#   share/icons/hicolor/<n>x<n>/apps/qelvane.png, scalable/apps/qelvane.svg
#   share/man/man1/qel-panel.1.gz, qel-manager.1.gz, qelctl.1.gz  the manual pages
#   share/bash-completion/completions/qelctl  qelctl's completion
#   share/doc/qelvane/copyright, changelog.Debian.gz
#   lib/systemd/user/qel-manager.service      the manager as a user service
#
# A start through the link is the same executable to the single-instance
# rule: the kernel reports the program's real path.
#
#   cmake --install build [--prefix DIR]
#   cd build && cpack -G DEB
include(GNUInstallDirs)

# Directories the installation makes are rwxr-xr-x whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(QEL_INSTALL_PRIVATEDIR "lib/qelvane" CACHE STRING
  "Directory, relative to the prefix, of the programs and their pictures")
set(QEL_INSTALL_DATADIR "${CMAKE_INSTALL_DATADIR}/qelvane")

install(TARGETS qel-panel qel-manager qelctl RUNTIME DESTINATION ${QEL_INSTALL_PRIVATEDIR})
# A stripped installation (cmake --install --strip, and the package) drops
# the compiler's notes too, as Debian's own packaging tools do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program IN ITEMS qel-panel qel-manager qelctl)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QEL_INSTALL_PRIVATEDIR}/\${program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
")

# Every rendered picture, the double-size ones ("<name>@2x.png") among them.
file(GLOB qel_install_pictures CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/*.png)
install(FILES ${qel_install_pictures} DESTINATION ${QEL_INSTALL_DATADIR}/res)

# The desktop entry is named after the application's AppStream id.
set(QEL_APP_ID "example.qelvane.Panel")
install(FILES ${PROJECT_SOURCE_DIR}/res/${QEL_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/${QEL_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

foreach(size IN ITEMS 16 24 32 48 256)
  install(FILES ${PROJECT_SOURCE_DIR}/res/qel_icon-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME qelvane.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/res/src/qel_icon-256.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  RENAME qelvane.svg)

# Manual pages and the package's change log go in compressed as Debian
# wants them: gzip -9n, which stores no name and no time, so that the same
# text gives the same file.
find_program(QEL_GZIP gzip REQUIRED)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man ${CMAKE_BINARY_DIR}/packaging)
set(qel_compressed "")
function(qel_compress source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${QEL_GZIP} -9n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${source}"
    VERBATIM)
  set(qel_compressed ${qel_compressed} ${output} PARENT_SCOPE)
endfunction()
foreach(page IN ITEMS qel-panel qel-manager qelctl)
  qel_compress(${PROJECT_SOURCE_DIR}/man/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
qel_compress(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian
  ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_target(qel_compressed ALL DEPENDS ${qel_compressed})

# Bash completes qelctl's commands, keys and the manager's values.
install(FILES ${PROJECT_SOURCE_DIR}/qelctl/qelctl.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME qelctl)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
  ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Relative links, made under DESTDIR too (the package is staged that way).
function(qel_install_link link target)
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link}\")
    get_filename_component(dir \"\${link}\" DIRECTORY)
    file(MAKE_DIRECTORY \"\${dir}\")
    file(REMOVE \"\${link}\")
    message(STATUS \"Installing: \${link} -> ${target}\")
    file(CREATE_LINK \"${target}\" \"\${link}\" SYMBOLIC)
  ")
endfunction()

# The manager as a service of the user's own. The unit names the installed
# program, so it is written when the prefix is known: at install time (CPack
# installs into /usr whatever prefix the build was configured with).
set(QEL_INSTALL_USERUNITDIR "lib/systemd/user" CACHE STRING
  "Directory, relative to the prefix, of systemd user units")
install(CODE "
  set(QEL_MANAGER_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/qel-manager\")
  set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QEL_INSTALL_USERUNITDIR}/qel-manager.service\")
  message(STATUS \"Installing: \${unit}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/res/qel-manager.service.in\" \"\${unit}\" @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${unit}\")
")

file(RELATIVE_PATH qel_bin_to_private
  /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${QEL_INSTALL_PRIVATEDIR})
file(RELATIVE_PATH qel_private_to_data /prefix/${QEL_INSTALL_PRIVATEDIR} /prefix/${QEL_INSTALL_DATADIR})
qel_install_link(${CMAKE_INSTALL_BINDIR}/qel-panel ${qel_bin_to_private}/qel-panel)
qel_install_link(${CMAKE_INSTALL_BINDIR}/qel-manager ${qel_bin_to_private}/qel-manager)
qel_install_link(${CMAKE_INSTALL_BINDIR}/qelctl ${qel_bin_to_private}/qelctl)
qel_install_link(${QEL_INSTALL_PRIVATEDIR}/res ${qel_private_to_data}/res)

# ---- the Debian package ----------------------------------------------------
set(CPACK_PACKAGE_NAME "qelvane")
set(CPACK_PACKAGE_VENDOR "Qelvane")
set(CPACK_PACKAGE_CONTACT "Qelvane developers <dev@qelvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel of the Qelvane virtual sound card")
set(CPACK_PACKAGE_DESCRIPTION "\
The desktop control panel of the Qelvane virtual sound card, which carries
a computer's audio to and from Lirva audio-network devices. It talks to the
QEL Manager service on 127.0.0.1:8899, shows the sound card's state and
sends the user's settings.
.
The package also holds qelctl, which shows and changes the same settings
from the command line, and qel-manager, a stand-in manager service that
lets the panel run without the real one.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "qelvane")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The package's own revision; packaging/changelog.Debian names the same.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://help.qelvane.example/")
# dpkg-shlibdeps finds and versions every shared library the programs use,
# the toolkit's among them; without it the list is written out.
find_program(QEL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QEL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libwxbase3.2-1 (>= 3.2.2), libwxgtk3.2-1 (>= 3.2.2), \
libgtk-3-0 (>= 3.24), libc6 (>= 2.34), libgcc-s1 (>= 3.3.1), libstdc++6 (>= 11)")
endif()
# The help button opens the user guide in the desktop's browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)
