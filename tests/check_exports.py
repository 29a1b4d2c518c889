#!/usr/bin/env python3
"""Checks the shipping 32-bit TRUN95.dll: its export directory (module name,
ordinal base, 99 address slots, the ten exports with their exact names and
ordinals, slots 10 to 98 empty) and that it imports only system DLLs."""
import re
import subprocess
import sys

EXPECTED = {
    "already_running": 1,
    "deinstal_about": 2,
    "is_version_ok": 3,
    "post_setup_cleanup": 4,
    "post_setup_uninstall": 5,
    "pre_setup_save": 6,
    "timer_proc": 7,
    "uninstall_standalone": 8,
    "_caution_dlg_proc@16": 9,
    "show_deinstall_dialog": 99,
}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
               "comctl32.dll", "comdlg32.dll", "ole32.dll", "msvcrt.dll"}


def main(dll):
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", dll], check=True,
                          capture_output=True, text=True).stdout
    failures = []

    def expect(what, got, want):
        if got != want:
            failures.append(f"{what}: got {got!r}, want {want!r}")

    if "file format pei-i386" not in subprocess.run(
            ["i686-w64-mingw32-objdump", "-f", dll], capture_output=True, text=True).stdout:
        failures.append("not a 32-bit PE image")
    expect("module name", re.search(r"^Name\s+\S+\s+(\S+)", dump, re.M).group(1), "TRUN95.dll")
    expect("ordinal base", re.search(r"Ordinal Base\s+(\d+)", dump).group(1), "1")
    expect("address table slots",
           int(re.search(r"Export Address Table\s+([0-9a-f]+)", dump).group(1), 16), 99)

    table = dump.split("Export Address Table -- Ordinal Base")[1].split("\n\n")[0]
    used = sorted(int(m) for m in re.findall(r"\+base\[\s*(\d+)\]", table))
    expect("used ordinals", used, sorted(EXPECTED.values()))

    names = dump.split("[Ordinal/Name Pointer] Table")[1].split("\n\n")[0]
    exported = {name: int(index) + 1
                for index, name in re.findall(r"\[\s*(\d+)\]\s+(\S+)", names)}
    expect("exported names and ordinals", exported, EXPECTED)

    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    foreign = sorted(imports - SYSTEM_DLLS)
    expect("imports beyond system DLLs and the C runtime", foreign, [])

    for failure in failures:
        print("FAIL", failure)
    print(f"{10 - min(len(failures), 10)} checks passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
