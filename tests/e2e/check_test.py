#!/usr/bin/env python3
"""`trun95 check` and `check-all` on the bundled samples.

check: Acme Notes, whose own uninstaller keeps the user's settings, must
report exactly that residue and end with status 1. check-all: a folder with the variant whose
uninstaller removes everything (clean, status 0), the MSI package (Wine's
msiexec, run as its uninstaller, removes nothing), Epsilon, which starts
the program it installs (closed and named, then clean), Zeta, which asks a
question even with /S, and its variant with a wizard and no silent switch
(both answered and clean), the per-user setup Acme
Pad, which registers its uninstaller under HKEY_CURRENT_USER (one variant
keeps the user's settings key, exactly that is left; the other is clean),
and a setup that tries to
write through drive Z: and leaves a folder window open: the file outside
stays unwritten, the window is named and ended, and its folder is reported. For
every check the residue must agree with e2e.py's own state diff of the
residue run's prefix, the JSON must follow docs/check.md, and the base
prefix must be byte for byte as it was.

usage: check_test.py {check,check-all} --bin BUILD/bin --prefix BASE_PREFIX --work FOLDER
"""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys

import e2e  # puts scripts/ on the import path
from trun95lib import STEP_SECONDS, Prefix, printed_before, read_text, run_bounded, windows_path

# Through the launcher, with the programs of --bin (TRUN95_BIN): no build.
LAUNCHER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "trun95")
# The bound of one check or check-all run: far above what they take here.
CHECK_SECONDS = 1800
ITEM_KINDS = {"file", "folder", "group", "icon", "restore", "registry"}
# Registry roots as Wine stores them: file and key prefix. HKEY_USERS holds
# the default user (userdef.reg) and the current one, whose key is HKCU.
HIVES = {"HKEY_LOCAL_MACHINE": "system.reg:", "HKEY_CURRENT_USER": "user.reg:",
         "HKEY_CLASSES_ROOT": "system.reg:Software\\Classes\\", ".DEFAULT": "userdef.reg:",
         "S-1-5-21-0-0-0-1000": "user.reg:"}
# The user's settings that the sample's uninstaller keeps: settings.ini (in
# the folder it leaves), the WIN.INI section, the HKCU key (also seen in HKU).
ACME_RESIDUE = [("folder", "C:\\Program Files\\Acme Notes\\"),
                ("registry", "Hkey_current_user\\Software\\Acme"),
                ("registry", "Hkey_users\\S-1-5-21-0-0-0-1000\\Software\\Acme"),
                ("restore", "C:\\windows\\win.ini")]
# What Acme Pad's own uninstaller keeps: its settings key (also seen in HKU).
PERUSER_RESIDUE = [("registry", "Hkey_current_user\\Software\\Acme Pad"),
                   ("registry", "Hkey_users\\S-1-5-21-0-0-0-1000\\Software\\Acme Pad")]

# How the unattended user met setups that ask or start their program:
# caption, text and answer of a transcript line of the footprint run.
SETUP_ANSWERS = [
    ("ask-setup.exe", r"Zeta Setup\tKeep the Zeta samples too\?\tYes"),
    ("wizard-setup.exe", r"Zeta Setup: License Agreement\tI &accept the terms .*\tticked"),
    ("wizard-setup.exe", r"Zeta Setup: Installation Folder\t.*\tInstall"),
    ("wizard-setup.exe", r"Zeta Setup: Completed\t.*\tClose"),
    ("epsilon-setup.exe", r"Epsilon\tclosed the program setup started: epsilon\.exe\tClose")]


# A setup that reaches for the Linux files through drive Z: and leaves a
# window of its folder open.
ESCAPE_PROBE = r"""Unicode true
Target amd64-unicode
Name "Escape Probe"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SilentInstall silent
Section
    SetOutPath "$PROGRAMFILES64\Escape Probe"
    FileOpen $0 "$PROGRAMFILES64\Escape Probe\inside.txt" w
    FileWrite $0 "inside"
    FileClose $0
    FileOpen $0 "${OUTSIDE}" w
    FileWrite $0 "outside"
    FileClose $0
    Exec '"explorer.exe" "$PROGRAMFILES64\Escape Probe"'
SectionEnd
"""


def build_escape_probe(folder, outside):
    script = os.path.join(folder, "escape-probe.nsi")
    with open(script, "w") as stream:
        stream.write(ESCAPE_PROBE)
    run_bounded(["makensis", "-V2", "-DOUTFILE=" + os.path.join(folder, "escape-probe.exe"),
                 "-DOUTSIDE=" + windows_path(outside), script], STEP_SECONDS, check=True)
    os.remove(script)


def prefix_hashes(path):
    """Every file of a prefix, registry files included, by content."""
    hashes = {}
    for folder, _, files in os.walk(path):
        for name in files:
            full = os.path.join(folder, name)
            if not os.path.islink(full):
                with open(full, "rb") as stream:
                    hashes[full] = hashlib.sha1(stream.read()).hexdigest()
    return hashes


def state_diff_name(item):
    """What e2e.py's state diff calls the object of a check item."""
    obj = item["object"]
    if item["kind"] == "registry":
        hive, _, key = obj.partition("\\")
        if hive.upper() == "HKEY_USERS":
            hive, _, key = key.partition("\\")
        return HIVES[hive.upper()] + key
    return obj[3:].replace("\\", "/").rstrip("/").lower()


def covers(item, line):
    """Whether a state-diff line is about the item's object or something below it."""
    name = state_diff_name(item)
    about = line.split(": ", 1)[1]
    about = about if item["kind"] == "registry" else about.rstrip("/").lower()
    return about == name or about.startswith((name + "/", name + "\\", name + ": "))


def disagreements(result, base, runs):
    """Residue items the state diff does not see, and state-diff lines no item covers."""
    run = "residue" if result["ownUninstaller"]["registered"] else "footprint"
    residue_prefix = Prefix(os.path.join(runs, run, "prefix"))
    cautions = {"c:/" + state_diff_name(c) for c in result["cautions"]["residue"]}
    lines = e2e.compare(e2e.snapshot(Prefix(base)), e2e.snapshot(residue_prefix),
                        cautions)
    # Wine's own keys, which the state diff leaves out, cannot be compared.
    items = [i for i in result["residue"] if not any(
        pattern.search(state_diff_name(i).partition(":")[2]) for pattern in e2e.IGNORED_KEYS)]
    return (["not in the state diff: " + i["text"] for i in items
             if not any(covers(i, line) for line in lines)] +
            ["not reported: " + line for line in lines if not any(covers(i, line) for i in items)])


def format_errors(result):
    errors = []
    own = result.get("ownUninstaller") or {}
    if result.get("version") != 1 or result.get("status") not in ("clean", "residue"):
        errors.append("version or status")
    if not isinstance(result.get("setup"), list) or set(own) != {"registered", "ran", "exitStatus"}:
        errors.append("setup or ownUninstaller")
    for part in ("footprint", "residue"):
        for item in result[part] + result["cautions"][part]:
            if set(item) != {"kind", "object", "text"} or item["kind"] not in ITEM_KINDS | {
                    "caution"} or (item["kind"] == "caution") != (item in result["cautions"][part]):
                errors.append("item %r" % item)
    left = len(result["residue"]) + len(result["cautions"]["residue"])
    if result["leftBehind"] != left or result["exitStatus"] != int(left > 0):
        errors.append("leftBehind or exitStatus")
    return errors


def run_check(command, env, runs):
    """The check run to its end; one that outlives its bound fails with what
    it printed and what still ran in its prefixes."""
    try:
        return subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, timeout=CHECK_SECONDS)
    except subprocess.TimeoutExpired as expired:
        e2e.log(printed_before(expired))
        for folder, _, _ in os.walk(runs):
            prefix = Prefix(folder)
            if prefix.exists():
                e2e.log("still running in %s:\n  %s" % (folder, "\n  ".join(prefix.processes())))
                prefix.kill()
        raise


def main():
    args = e2e.parse_arguments("case", ["check", "check-all"])
    setups = ["acme-setup.exe"] if args.case == "check" else [
        "acme-clean-setup.exe", "acme-tools.msi", "ask-setup.exe", "epsilon-setup.exe",
        "peruser-clean-setup.exe", "peruser-setup.exe", "wizard-setup.exe"]
    missing = [name for name in setups if not os.path.exists(os.path.join(args.bin, name))]
    if missing:
        e2e.log("SKIPPED %s: not built: %s" % (args.case, ", ".join(missing)))
        return e2e.SKIPPED
    work = os.path.abspath(os.path.join(args.work, args.case))
    shutil.rmtree(work, ignore_errors=True)
    base, runs, report = (os.path.join(work, name) for name in ("base", "runs", "check.json"))
    outside = os.path.join(work, "outside.txt")
    os.makedirs(work)
    run_bounded(["cp", "-a", os.path.abspath(args.prefix), base], STEP_SECONDS, check=True)
    if args.case == "check":
        command = ["check", os.path.join(args.bin, "acme-setup.exe"), "/S"]
    else:
        os.makedirs(os.path.join(work, "setups"))
        for name in setups:
            shutil.copy(os.path.join(args.bin, name), os.path.join(work, "setups"))
        build_escape_probe(os.path.join(work, "setups"), outside)
        setups.append("escape-probe.exe")
        # Options after the folder, as the documents show them.
        command = ["check-all", os.path.join(work, "setups"), "-j", "2"]
    hashes = prefix_hashes(base)
    env = Prefix(base).env(TRUN95_BIN=os.path.abspath(args.bin), TRUN95_CHECK_WORK=runs)
    run = run_check([LAUNCHER, command[0], "--json=" + report, "--prefix=" + base,
                     *command[1:]], env, runs)
    e2e.log(run.stdout)
    with open(report, encoding="utf-8") as stream:
        document = json.load(stream)
    results = document["checks"] if args.case == "check-all" else [document]
    failures = []
    if prefix_hashes(base) != hashes:
        failures.append("the base prefix was changed")
    for name, result in zip(sorted(setups), results):
        failures += format_errors(result) + disagreements(result, base, os.path.join(runs, name))
    # The summary's last line: the verdict of check, the table's last row of check-all.
    last = run.stdout.splitlines()[-1].split()
    if args.case == "check":
        residue = sorted((i["kind"], i["object"]) for i in results[0]["residue"])
        expected = (1, ACME_RESIDUE, True, ["4", "items", "left", "behind"])
        got = (run.returncode, residue, results[0]["ownUninstaller"]["ran"], last)
    else:
        # In the order of check-all's sorted folder.
        expected = (1, ["clean", "residue", "clean", "clean", "residue", "clean", "residue",
                        "clean"], [True, True, True, True, False, True, True, True],
                    "wizard-setup.exe", "clean", PERUSER_RESIDUE, [], True, False, True)
        got = (run.returncode, [r["status"] for r in results],
               [r["ownUninstaller"]["ran"] for r in results], last[0], last[-1],
               sorted((i["kind"], i["object"]) for i in results[6]["residue"]),
               [(name, line) for name, line in SETUP_ANSWERS if not re.search(
                   "^%s$" % line, read_text(Prefix(os.path.join(
                       runs, name, "footprint", "prefix")).run_file("transcript.txt")), re.M)],
               ("folder", "C:\\Program Files\\Escape Probe\\") in [
                   (i["kind"], i["object"]) for i in results[4]["residue"]],
               os.path.exists(outside),
               "Escape Probe" in run.stdout.split("still running after the host ended")[-1])
    if got != expected:
        failures.append("expected %r, got %r" % (expected, got))
    e2e.log("\n".join(["FAILED " + args.case] + failures) if failures else "PASSED " + args.case)
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return int(bool(failures))


if __name__ == "__main__":
    sys.exit(main())
