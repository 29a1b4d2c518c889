; Epsilon: a setup that starts the program it installed at its end, as
; "Run the program now" on a finish page does, also when it runs silently.
;   makensis -DEPSILON=epsilon.exe -DOUTFILE=epsilon-setup.exe startprog.nsi
; Its own uninstaller removes everything.
Unicode true
!ifndef TARGET
!define TARGET "amd64-unicode"
!endif
Target ${TARGET}

!ifndef OUTFILE
!define OUTFILE "epsilon-setup.exe"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Epsilon"

Name "Epsilon"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Epsilon"
RequestExecutionLevel admin

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Epsilon"
    SetOutPath "$INSTDIR"
    File "/oname=epsilon.exe" "${EPSILON}"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Epsilon"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    Exec '"$INSTDIR\epsilon.exe"'
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\epsilon.exe"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
