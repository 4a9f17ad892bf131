; The Windows installer: one folder under Program Files with the program and
; everything tools/windows-deploy gathered beside it, a Start-menu entry and
; an uninstaller. Built by tools/windows-package with
;   makensis -DVERSION=x.y.z -DSTAGE=folder -DLICENSE=file -DOUTFILE=setup.exe
; A 64-bit installer for a 64-bit program; it also runs where no 32-bit
; Windows layer is installed.
Target amd64-unicode
!include "MUI2.nsh"

Name "Vostrel"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vostrel"
; Per machine: the ports belong to the machine, and so does the programmer.
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vostrel"

!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "English"

Section "Vostrel"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Vostrel.lnk" "$INSTDIR\vostrel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vostrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Vostrel.lnk"
  ; Only what the installer put there: the folder goes only when it is empty.
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\translations"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\*.exe"
  Delete "$INSTDIR\qt.conf"
  Delete "$INSTDIR\LICENSE.txt"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
