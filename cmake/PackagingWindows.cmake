# The Windows installer, made with NSIS (packaging/windows/qelvane.nsi):
#
#   build-win/qelvane-setup-<version>.exe
#
# It holds the programs qel-panel.exe and qelctl.exe (stripped), the
# panel's pictures (res\) and the compiled translations (locale\), all from
# the build's bin/. Made with every build;
# `qelvane-setup-<version>.exe /S` installs silently, and the installed
# uninstall.exe /S removes everything again.
find_program(QEL_MAKENSIS makensis REQUIRED)

set(QEL_INSTALLER ${CMAKE_BINARY_DIR}/qelvane-setup-${PROJECT_VERSION}.exe)
set(qel_installer_bin ${CMAKE_BINARY_DIR}/installer)
set(qel_installer_script ${PROJECT_SOURCE_DIR}/packaging/windows/qelvane.nsi)
file(GLOB qel_installer_pictures CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/*.png)

add_custom_command(OUTPUT ${QEL_INSTALLER}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${qel_installer_bin}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${qel_installer_bin}/res ${qel_installer_bin}/locale
  COMMAND ${CMAKE_STRIP} -o ${qel_installer_bin}/qel-panel.exe $<TARGET_FILE:qel-panel>
  COMMAND ${CMAKE_STRIP} -o ${qel_installer_bin}/qelctl.exe $<TARGET_FILE:qelctl>
  COMMAND ${CMAKE_COMMAND} -E copy ${qel_installer_pictures} ${qel_installer_bin}/res
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_BINARY_DIR}/bin/locale
          ${qel_installer_bin}/locale
  COMMAND ${QEL_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DBIN_DIR=${qel_installer_bin}
          -DOUT_FILE=${QEL_INSTALLER} ${qel_installer_script}
  DEPENDS qel-panel qelctl qel_translations ${qel_installer_script} ${qel_installer_pictures}
  COMMENT "Making the installer qelvane-setup-${PROJECT_VERSION}.exe"
  VERBATIM)
add_custom_target(qel_installer ALL DEPENDS ${QEL_INSTALLER})
