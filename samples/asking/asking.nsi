; Zeta: setups that ask even when told to be silent, as some real ones do.
;   makensis -DOUTFILE=ask-setup.exe asking.nsi
;       asks a question in a message box without a silent answer (/SD), also
;       with /S;
;   makensis -DWIZARD -DOUTFILE=wizard-setup.exe asking.nsi
;       has no silent switch: a licence page whose Next waits for its box to
;       be ticked, the folder page, the progress page with Close.
; Their own uninstaller removes everything.
Unicode true
!ifndef TARGET
!define TARGET "amd64-unicode"
!endif
Target ${TARGET}

!ifndef OUTFILE
!define OUTFILE "ask-setup.exe"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zeta"

Name "Zeta"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Zeta"
RequestExecutionLevel admin

!ifdef WIZARD
LicenseData "license.txt"
LicenseForceSelection checkbox
Page license
!endif
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!ifdef WIZARD
Function .onInit
    SetSilent normal
FunctionEnd
!endif

Section "Zeta"
    SetOutPath "$INSTDIR"
    File "license.txt"
    MessageBox MB_YESNO|MB_ICONQUESTION "Keep the Zeta samples too?" IDNO +2
    File "/oname=samples.txt" "license.txt"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Zeta"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\license.txt"
    Delete "$INSTDIR\samples.txt"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
