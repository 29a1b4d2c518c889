; Acme Pad: a per-user setup, as installers that need no administrator are
; made. It installs below the user's local application data and registers
; its uninstaller under HKEY_CURRENT_USER, not the machine's Uninstall key.
;   makensis -DOUTFILE=peruser-setup.exe peruser.nsi
; Its uninstaller keeps the user's settings key; with -DCLEAN_UNINSTALL it
; removes them too (peruser-clean-setup.exe).
Unicode true
!ifndef TARGET
!define TARGET "amd64-unicode"
!endif
Target ${TARGET}

!ifndef OUTFILE
!define OUTFILE "peruser-setup.exe"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall"

Name "Acme Pad"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Acme Pad"
RequestExecutionLevel user

Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Acme Pad"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    FileOpen $0 "$INSTDIR\pad.txt" w
    FileWrite $0 "Acme Pad$\r$\n"
    FileClose $0
    WriteRegStr HKCU "Software\Acme Pad" "Folder" "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}\AcmePad" "DisplayName" "Acme Pad"
    WriteRegStr HKCU "${UNINSTALL_KEY}\AcmePad" "UninstallString" '"$INSTDIR\Uninstall.exe"'
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\pad.txt"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
!ifdef CLEAN_UNINSTALL
    DeleteRegKey HKCU "Software\Acme Pad"
!endif
    DeleteRegKey HKCU "${UNINSTALL_KEY}\AcmePad"
    ; The user's Uninstall key, when this setup was the first to make it.
    DeleteRegKey /ifempty HKCU "${UNINSTALL_KEY}"
SectionEnd
