; The Windows installer: one folder under Program Files with the programs and
; everything tools/windows-deploy gathered beside them, the operator's guide in
; guide\, Start-menu entries for the window, the bench window and the guide,
; an Add/Remove Programs entry and an
; uninstaller. Built by tools/windows-package
; with
;   makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DSTAGE=folder -DLICENSE=file
;     -DFILELIST=uninstall-files.nsh -DICON=vostrel.ico -DOUTFILE=setup.exe
;     [-DSIGN=command]
; FILELIST holds a Delete line for each file of the stage and an RMDir line
; for each of its folders, deepest first: the uninstaller removes what this
; version installed and nothing else. SIGN, when given, is a command that
; signs the file named after it in place: the uninstaller is signed before
; it is packed into the installer, and the installer once it is made.
; Exit codes: 2 a program of Vostrel runs, 3 Windows older than 10, 4 the
; previous version's uninstaller refused.
; A 64-bit installer for a 64-bit program; it also runs where no 32-bit
; Windows layer is installed.
Target amd64-unicode
ManifestDPIAware true
ManifestSupportedOS all
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WinVer.nsh"

!ifdef SIGN
  !uninstfinalize `${SIGN} "%1"` = 0
  !finalize `${SIGN} "%1"` = 0
!endif

Name "Vostrel"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vostrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vostrel"
; An upgrade goes where the last version is, wherever the operator put it.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
; Per machine: the ports belong to the machine, and so does the programmer.
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Vostrel"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Установка программы Vostrel"
VIAddVersionKey "CompanyName" "The Vostrel developers"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 The Vostrel developers"

; Qt 6 needs Windows 10: on anything older the programs would not start.
; The uninstaller asks nothing of the version, so an old system can still be
; cleaned up.
Function RefuseOldWindows
  ${IfNot} ${AtLeastWin10}
    MessageBox MB_OK|MB_ICONSTOP \
      "Vostrel работает на Windows 10 и Windows 11.$\r$\nНа этой версии Windows программа не запустится." \
      /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
FunctionEnd

; Each program holds the mutex VostrelRunning while it runs
; (packaging/windows/Running.cpp), in its own session and globally, where
; any user may wait on it; files in use could be neither replaced nor
; removed. Access denied to an existing mutex (an older version's, another
; user's) counts as running too.
!macro RefuseWhileRunning un
Function ${un}RefuseWhileRunning
  retry:
  StrCpy $2 0
  ${ForEach} $3 0 1 + 1
    ${If} $3 = 0
      StrCpy $4 "VostrelRunning"
    ${Else}
      StrCpy $4 "Global\VostrelRunning"
    ${EndIf}
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w r4) p .r0 ?e'
    Pop $1
    ${If} $0 != 0
      System::Call 'kernel32::CloseHandle(p r0)'
      StrCpy $2 1
    ${ElseIf} $1 = 5
      StrCpy $2 1
    ${EndIf}
  ${Next}
  ${If} $2 = 1
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "Программа Vostrel, стенд Vostrel или vostrel-cli сейчас работает.$\r$\nЗакройте её и нажмите «Повтор»." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro RefuseWhileRunning ""
!insertmacro RefuseWhileRunning "un."

Function .onInit
  Call RefuseOldWindows
  Call RefuseWhileRunning
FunctionEnd

Function un.onInit
  Call un.RefuseWhileRunning
FunctionEnd

Section "Vostrel" SecProgram
  ; Once more: the program may have been started while the pages were shown.
  Call RefuseWhileRunning
  SetShellVarContext all
  ; The last version's own uninstaller takes its files first, so none that
  ; this version no longer has stays behind. Run in place (_?=) it is waited
  ; for and leaves itself, which WriteUninstaller replaces.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    DetailPrint "Удаление предыдущей версии из $0"
    ; An uninstaller that refused (a program of it runs, files it could not
    ; remove) or could not start leaves the previous version in place: the
    ; new one must not be written over it.
    ClearErrors
    ExecWait '"$0\uninstall.exe" /S _?=$0' $1
    ${If} ${Errors}
      StrCpy $1 -1
    ${EndIf}
    ${If} $1 <> 0
      MessageBox MB_OK|MB_ICONSTOP \
        "Не удалось удалить предыдущую версию из $0 (код $1).$\r$\nЗакройте программы Vostrel и запустите установку снова." \
        /SD IDOK
      SetErrorLevel 4
      Quit
    ${EndIf}
    ${If} $0 != $INSTDIR
      Delete "$0\uninstall.exe"
      RMDir "$0"
    ${EndIf}
  ${EndIf}

  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Vostrel.lnk" "$INSTDIR\vostrel.exe"
  CreateShortCut "$SMPROGRAMS\Vostrel — стенд.lnk" "$INSTDIR\vostrel-stand.exe"
  CreateShortCut "$SMPROGRAMS\Руководство оператора.lnk" "$INSTDIR\guide\guide-ru.html"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vostrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Vostrel developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vostrel.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; In KB, as the compiler counted this section's files.
  SectionGetSize ${SecProgram} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Vostrel.lnk"
  Delete "$SMPROGRAMS\Vostrel — стенд.lnk"
  Delete "$SMPROGRAMS\Руководство оператора.lnk"
  ; Only what this version installed; the folder goes only when that leaves
  ; it empty.
  !include "${FILELIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
