; The Windows setup program: the program folder made by scripts/windows-deploy, a Start-menu
; entry, start at login on request, and an uninstaller that removes what was installed and
; leaves the user's config.ini, Command.log and backups.
;   makensis -DVERSION=x.y.z -DDEPLOY=<program folder> -DUNINSTALL_LIST=<nsh> -DOUTFILE=<exe>
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

Name "Vestrel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vestrel"
InstallDirRegKey HKLM "Software\Vestrel" "InstallDir"
RequestExecutionLevel admin
BrandingText "Vestrel ${VERSION}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vestrel"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Italian"

Function .onInit
  SetRegView 64
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Vestrel richiede Windows a 64 bit."
    Abort
  ${EndIf}
FunctionEnd

Section "Vestrel" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File /r "${DEPLOY}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The Start-menu entry for every user of the machine, as the program folder is.
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\Vestrel.lnk" "$INSTDIR\vestrel.exe"
  WriteRegStr HKLM "Software\Vestrel" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vestrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vestrel developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vestrel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Off unless chosen (with /S: unless /AUTOSTART is given).
Section /o "Avvia all'accesso a Windows" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "Vestrel" '"$INSTDIR\vestrel.exe"'
SectionEnd

Section "-silent autostart"
  ${If} ${Silent}
    ClearErrors
    ${GetParameters} $0
    ${GetOptions} $0 "/AUTOSTART" $1
    ${IfNot} ${Errors}
      WriteRegStr HKCU "${RUN_KEY}" "Vestrel" '"$INSTDIR\vestrel.exe"'
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetRegView 64
  ; Only what setup put there: config.ini, Command.log and backups beside the program stay,
  ; and so does the folder when they do.
  !include "${UNINSTALL_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Vestrel.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "Vestrel"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Vestrel"
SectionEnd
