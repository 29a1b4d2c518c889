; Acme Update: a setup that replaces what is already there. It writes new
; versions beside the old files and renames them over the old ones, replaces
; a DLL in the system folder, and rewrites a settings file in the Windows
; folder. The end-to-end test puts the old versions in place first.
Unicode true
; The build passes the stub of its own architecture (x86-unicode for win32).
!ifndef TARGET
!define TARGET "amd64-unicode"
!endif
Target ${TARGET}

!ifndef OUTFILE
!define OUTFILE "replace-setup.exe"
!endif

Name "Acme Update"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
Page instfiles

Section "Update"
    ; The shared library in the system folder, swapped by renaming.
    SetOutPath "$SYSDIR"
    File "/oname=acmecore.dl_" "files\acmecore-2.dll"
    Delete "$SYSDIR\acmecore.dll"
    Rename "$SYSDIR\acmecore.dl_" "$SYSDIR\acmecore.dll"

    ; The program's data file in its own folder, swapped the same way.
    SetOutPath "$PROGRAMFILES64\Acme Update"
    File "/oname=data.new" "files\data-2.txt"
    Delete "$PROGRAMFILES64\Acme Update\data.txt"
    Rename "$PROGRAMFILES64\Acme Update\data.new" "$PROGRAMFILES64\Acme Update\data.txt"

    ; A settings file in the Windows folder, rewritten in place.
    WriteINIStr "$WINDIR\acme.ini" "Update" "Version" "2"
SectionEnd
