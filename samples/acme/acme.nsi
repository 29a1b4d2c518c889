; Acme Notes: a small but complete setup program, built with NSIS, on which
; the demo and the end-to-end tests run a full install and uninstall.
;   makensis -DOUTFILE=acme-setup.exe acme.nsi
; With -DCLEAN_UNINSTALL its uninstaller leaves nothing behind (acme-clean-setup.exe).
Unicode true
; The build passes the stub of its own architecture (x86-unicode for win32).
!ifndef TARGET
!define TARGET "amd64-unicode"
!endif
Target ${TARGET}

!ifndef OUTFILE
!define OUTFILE "acme-setup.exe"
!endif

Name "Acme Notes"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Acme Notes"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
BrandingText "Acme Notes 1.0"

Page directory
Page instfiles
; The uninstaller asks as most do: a question, a page to confirm, and a
; Close button once it is done.
UninstPage uninstConfirm
UninstPage instfiles

Function un.onInit
    MessageBox MB_YESNO|MB_ICONQUESTION "Remove Acme Notes from your computer?" IDYES +2
    Abort
FunctionEnd

Section "Acme Notes"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "files\readme.txt"
    File "files\license.txt"
    SetOutPath "$INSTDIR\templates"
    File "files\letter.acmenote"
    SetOutPath "$INSTDIR"

    ; Settings the program would keep for the user.
    FileOpen $0 "$INSTDIR\settings.ini" w
    FileWrite $0 "[Window]$\r$\nLeft=100$\r$\nTop=100$\r$\n"
    FileClose $0

    WriteRegStr HKLM "Software\Acme\Notes" "InstallDir" "$INSTDIR"
    WriteRegStr HKLM "Software\Acme\Notes" "Version" "1.0"
    WriteRegDWORD HKLM "Software\Acme\Notes" "Build" 42
    WriteRegStr HKCU "Software\Acme\Notes" "LastDocument" "$INSTDIR\templates\letter.acmenote"
    WriteRegDWORD HKCU "Software\Acme\Notes" "ShowToolbar" 1

    ; The document type.
    WriteRegStr HKCR ".acmenote" "" "AcmeNotes.Document"
    WriteRegStr HKCR "AcmeNotes.Document" "" "Acme Note"
    WriteRegStr HKCR "AcmeNotes.Document\shell\open\command" "" 'notepad.exe "%1"'

    WriteINIStr "$WINDIR\win.ini" "Acme Notes" "Installed" "1"
    WriteINIStr "$WINDIR\win.ini" "Acme Notes" "Folder" "$INSTDIR"

    CreateDirectory "$SMPROGRAMS\Acme Notes"
    CreateShortcut "$SMPROGRAMS\Acme Notes\Read Me.lnk" "$INSTDIR\readme.txt"
    CreateShortcut "$SMPROGRAMS\Acme Notes\License.lnk" "$INSTDIR\license.txt"
    CreateShortcut "$SMPROGRAMS\Acme Notes\Uninstall Acme Notes.lnk" "$INSTDIR\Uninstall.exe"
    CreateShortcut "$DESKTOP\Acme Notes.lnk" "$INSTDIR\readme.txt"

    WriteUninstaller "$INSTDIR\Uninstall.exe"
    WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\AcmeNotes" \
        "DisplayName" "Acme Notes"
    WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\AcmeNotes" \
        "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\AcmeNotes" \
        "Publisher" "Acme"
SectionEnd

; Like many real uninstallers, this one keeps the user's settings: the
; settings file, the user's registry key and the WIN.INI section stay.
Section "Uninstall"
    SetShellVarContext current
    Delete "$INSTDIR\readme.txt"
    Delete "$INSTDIR\license.txt"
    Delete "$INSTDIR\templates\letter.acmenote"
    RMDir "$INSTDIR\templates"
!ifdef CLEAN_UNINSTALL
    ; The variant whose uninstaller removes the user's settings too.
    Delete "$INSTDIR\settings.ini"
    DeleteRegKey HKCU "Software\Acme\Notes"
    DeleteRegKey /ifempty HKCU "Software\Acme"
    DeleteINISec "$WINDIR\win.ini" "Acme Notes"
!endif
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"

    DeleteRegKey HKLM "Software\Acme\Notes"
    DeleteRegKey /ifempty HKLM "Software\Acme"
    DeleteRegKey HKCR ".acmenote"
    DeleteRegKey HKCR "AcmeNotes.Document"

    Delete "$SMPROGRAMS\Acme Notes\Read Me.lnk"
    Delete "$SMPROGRAMS\Acme Notes\License.lnk"
    Delete "$SMPROGRAMS\Acme Notes\Uninstall Acme Notes.lnk"
    RMDir "$SMPROGRAMS\Acme Notes"
    Delete "$DESKTOP\Acme Notes.lnk"

    DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\AcmeNotes"
SectionEnd
