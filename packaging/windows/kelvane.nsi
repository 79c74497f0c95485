; The Windows installer: Kelvane in one folder under Program Files, a
; Start-menu shortcut, and an uninstaller that removes both and keeps the
; user's settings (%APPDATA%\Kelvane). "/S" installs and uninstalls silently.
;   makensis -DVERSION=1.0.3 -DFILEVERSION=1.0.0.3 -DSOURCE=<installed folder> -DOUTFILE=<setup.exe> kelvane.nsi
Unicode true
; A 64-bit installer: the program is 64-bit, and a 32-bit one would install
; into the 32-bit Program Files (and does nothing under a 64-bit-only wine).
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"

Name "Kelvane"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kelvane"
InstallDirRegKey HKLM "Software\Lumetra\Kelvane" "InstallDir"
RequestExecutionLevel admin
VIProductVersion "${FILEVERSION}"
VIAddVersionKey "ProductName" "Kelvane"
VIAddVersionKey "FileDescription" "Kelvane installer"
VIAddVersionKey "FileVersion" "${FILEVERSION}"
VIAddVersionKey "LegalCopyright" "Lumetra"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvane"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Kelvane"
  SetShellVarContext all
  SetRegView 64
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Kelvane.lnk" "$INSTDIR\kelvane.exe"
  WriteRegStr HKLM "Software\Lumetra\Kelvane" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kelvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Lumetra"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kelvane.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; The settings stay: they belong to the user, and a reinstall finds them.
Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  Delete "$SMPROGRAMS\Kelvane.lnk"
  ; What the installer put there, by name: the folder may have been one the
  ; user keeps other files in.
  Delete "$INSTDIR\kelvane.exe"
  Delete "$INSTDIR\Qt6Core.dll"
  Delete "$INSTDIR\Qt6Gui.dll"
  Delete "$INSTDIR\Qt6Widgets.dll"
  Delete "$INSTDIR\Qt6Network.dll"
  Delete "$INSTDIR\libstdc++-6.dll"
  Delete "$INSTDIR\libgcc_s_seh-1.dll"
  Delete "$INSTDIR\libwinpthread-1.dll"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\help"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Lumetra\Kelvane"
  DeleteRegKey /ifempty HKLM "Software\Lumetra"
SectionEnd
