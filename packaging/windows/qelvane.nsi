; The Windows installer of the Qelvane control panel, made by makensis from
; the Windows build (the qel_installer target of cmake/PackagingWindows.cmake).
; It installs the panel with its pictures and translations, and qelctl, into
; "Program Files\Qelvane", a Start menu entry and an uninstaller, and
; registers the uninstaller with Windows. /S installs and uninstalls without
; a word.
;
; Defines: VERSION (the project's), BIN_DIR (the programs, res\ and locale\),
; OUT_FILE (the installer to write).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "x64.nsh"

!define PRODUCT "Qelvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Qelvane"
!define MENU_ENTRY "$SMPROGRAMS\Qelvane\Qelvane control panel.lnk"

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION} Setup"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "Software\${PRODUCT}" "InstallDir"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} control panel setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PRODUCT}"
VIAddVersionKey "LegalCopyright" "${PRODUCT} developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; For every user of the machine: the 64-bit registry, the common Start menu.
Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Qelvane control panel"
  SetOutPath "$INSTDIR"
  File "${BIN_DIR}/qel-panel.exe"
  File "${BIN_DIR}/qelctl.exe"
  SetOutPath "$INSTDIR\res"
  File "${BIN_DIR}/res/*.png"
  SetOutPath "$INSTDIR\locale"
  File /r "${BIN_DIR}/locale/*"
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "${MENU_ENTRY}" "$INSTDIR\qel-panel.exe" "" "$INSTDIR\qel-panel.exe" 0

  WriteRegStr HKLM "Software\${PRODUCT}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} control panel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qel-panel.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The installation directory goes last: once it is gone, everything is.
Section "Uninstall"
  Delete "${MENU_ENTRY}"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\${PRODUCT}"
  Delete "$INSTDIR\qel-panel.exe"
  Delete "$INSTDIR\qelctl.exe"
  RMDir /r "$INSTDIR\res"
  RMDir /r "$INSTDIR\locale"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
