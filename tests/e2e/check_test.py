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
write outside its prefix, through drive Z: and through Wine's own paths to
Linux files, and leaves a folder window open: the files outside stay
unwritten, the window is named and ended, and its folder is reported. For
every check the residue must agree with e2e.py's own state diff of the run's
prefix, the JSON must pass docs/check.schema.json (jsonschema), the JUnit
file docs/junit.xsd (xmllint) and read as one test case per setup with the
residue as its failure, the HTML page must load in headless Chromium with nothing in
its console and show the residue highlighted, and the base prefix must be
byte for byte as it was.

usage: check_test.py {check,check-all} --bin BUILD/bin --prefix BASE_PREFIX --work FOLDER
"""

import hashlib
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree


import e2e  # puts scripts/ on the import path
from check import RUN_FOLDER
from trun95lib import STEP_SECONDS, Prefix, printed_before, read_text, run_bounded, windows_path

# Through the launcher, with the programs of --bin (TRUN95_BIN): no build.
LAUNCHER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "trun95")
# The bound of one check or check-all run: far above what they take here.
CHECK_SECONDS = 1800
SCHEMA = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "check.schema.json")
JUNIT_SCHEMA = os.path.join(os.path.dirname(SCHEMA), "junit.xsd")
# How long headless Chromium may take to load the page: seconds here.
BROWSER_SECONDS = 300
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
# caption, text and answer of a transcript line of the run.
SETUP_ANSWERS = [
    ("ask-setup.exe", r"Zeta Setup\tKeep the Zeta samples too\?\tYes"),
    ("wizard-setup.exe", r"Zeta Setup: License Agreement\tI &accept the terms .*\tticked"),
    ("wizard-setup.exe", r"Zeta Setup: Installation Folder\t.*\tInstall"),
    ("wizard-setup.exe", r"Zeta Setup: Completed\t.*\tClose"),
    ("epsilon-setup.exe", r"Epsilon\tclosed the program setup started: epsilon\.exe\tClose")]


# A setup that reaches for the Linux files through drive Z: and through
# Wine's own path to them, and leaves a window of its folder open.
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
    FileOpen $0 "\\?\unix${OUTSIDE_UNIX}" w
    FileWrite $0 "outside"
    FileClose $0
    Exec '"explorer.exe" "$PROGRAMFILES64\Escape Probe"'
SectionEnd
"""


def build_escape_probe(folder, outside, outside_unix):
    script = os.path.join(folder, "escape-probe.nsi")
    with open(script, "w") as stream:
        stream.write(ESCAPE_PROBE)
    run_bounded(["makensis", "-V2", "-DOUTFILE=" + os.path.join(folder, "escape-probe.exe"),
                 "-DOUTSIDE=" + windows_path(outside),
                 "-DOUTSIDE_UNIX=" + outside_unix.replace("/", "\\"), script], STEP_SECONDS,
                check=True)
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
    residue_prefix = Prefix(os.path.join(runs, RUN_FOLDER, "prefix"))
    cautions = {"c:/" + state_diff_name(c) for c in result["cautions"]["residue"]}
    lines = e2e.compare(e2e.snapshot(Prefix(base)), e2e.snapshot(residue_prefix),
                        cautions)
    # Wine's own keys, which the state diff leaves out, cannot be compared.
    items = [i for i in result["residue"] if not any(
        pattern.search(state_diff_name(i).partition(":")[2]) for pattern in e2e.IGNORED_KEYS)]
    return (["not in the state diff: " + i["text"] for i in items
             if not any(covers(i, line) for line in lines)] +
            ["not reported: " + line for line in lines if not any(covers(i, line) for i in items)])


def format_errors(document, results):
    """What the JSON breaks of its schema, and counts that disagree."""
    import jsonschema  # Debian's python3-jsonschema; not needed for --residue-only
    with open(SCHEMA, encoding="utf-8") as stream:
        validator = jsonschema.Draft202012Validator(json.load(stream))
    worst = jsonschema.exceptions.best_match(validator.iter_errors(document))
    while worst is not None and worst.context:  # the branch of a oneOf it failed in
        worst = jsonschema.exceptions.best_match(worst.context)
    errors = ["schema: %.300s at /%s" % (worst.message, "/".join(map(str, worst.absolute_path)))
              ] if worst else []
    for result in results:
        left = len(result["residue"]) + len(result["cautions"]["residue"])
        if result["leftBehind"] != left or result["exitStatus"] != int(left > 0):
            errors.append("leftBehind or exitStatus of " + " ".join(result["setup"]))
    return errors


def junit_errors(path, results, names):
    """The JUnit file validated by xmllint against docs/junit.xsd, then read:
    one test case per setup, in order, a failure exactly for a residue with
    each residue item in its text, the footprint's count in its standard
    output."""
    valid = run_bounded(["xmllint", "--noout", "--schema", JUNIT_SCHEMA, path], STEP_SECONDS,
                        capture_output=True, text=True)
    if valid.returncode:
        return ["junit: " + valid.stderr.strip()]
    suites = ElementTree.parse(path).getroot()
    cases = suites.findall("./testsuite/testcase")
    errors = [] if suites.tag == "testsuites" and suites.get("tests") == str(len(results)) else [
        "junit: root %s tests=%s" % (suites.tag, suites.get("tests"))]
    if [c.get("name") for c in cases] != names:
        errors.append("junit: test cases %r" % [c.get("name") for c in cases])
    for case, result in zip(cases, results):
        failure = case.find("failure")
        residue = result["residue"] + result["cautions"]["residue"]
        footprint = len(result["footprint"]) + len(result["cautions"]["footprint"])
        if (failure is not None) != bool(residue) or any(
                i["text"] not in failure.text for i in residue) or (
                "Footprint: %d items" % footprint) not in case.findtext("system-out"):
            errors.append("junit: test case %s" % case.get("name"))
    return errors


class Highlighted(html.parser.HTMLParser):
    """The texts of the list items a page highlights (class "stayed")."""

    def __init__(self):
        super().__init__()
        self.texts, self.inside = [], False

    def handle_starttag(self, tag, attributes):
        self.inside = tag == "li" and ("class", "stayed") in attributes
        if self.inside:
            self.texts.append("")

    def handle_data(self, data):
        if self.inside:
            self.texts[-1] += data

    def handle_endtag(self, tag):
        self.inside = False


def html_errors(path, results):
    """The page as headless Chromium loaded it: no console message, and
    every residue item among the highlighted ones of its page."""
    with tempfile.TemporaryDirectory() as home:
        try:
            browser = subprocess.run(
                ["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                 "--user-data-dir=" + os.path.join(home, "profile"), "--enable-logging=stderr",
                 "--v=0", "--dump-dom", "file://" + os.path.abspath(path)],
                env=dict(os.environ, HOME=home), capture_output=True, text=True,
                timeout=BROWSER_SECONDS)
        except subprocess.TimeoutExpired as expired:
            return ["chromium had not loaded the page after %d s; it printed: %s"
                    % (BROWSER_SECONDS, printed_before(expired) or "nothing")]
    errors = ["html console: " + line for line in browser.stderr.splitlines() if ":CONSOLE" in line]
    page = Highlighted()
    page.feed(browser.stdout)
    for result in results:
        errors += ["html: not highlighted: " + i["text"] for i in
                   result["residue"] + result["cautions"]["residue"] if i["text"] not in page.texts]
    return errors if browser.stdout else errors + ["html: no page; chromium: " + browser.stderr]


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
    # --residue-only: the emulated machine's run, whose formats the 64-bit
    # run has validated already (it has no validators or browser).
    args = e2e.parse_arguments("case", ["check", "check-all"], ["--residue-only"])
    setups = ["acme-setup.exe"] if args.case == "check" else [
        "acme-clean-setup.exe", "acme-tools.msi", "ask-setup.exe", "epsilon-setup.exe",
        "peruser-clean-setup.exe", "peruser-setup.exe", "wizard-setup.exe"]
    missing = [name for name in setups if not os.path.exists(os.path.join(args.bin, name))]
    if missing:
        e2e.log("SKIPPED %s: not built: %s" % (args.case, ", ".join(missing)))
        return e2e.SKIPPED
    work = os.path.abspath(os.path.join(args.work, args.case))
    shutil.rmtree(work, ignore_errors=True)
    base, runs, report, junit, page = (os.path.join(work, name) for name in (
        "base", "runs", "check.json", "check.xml", "check.html"))
    outside = [os.path.join(work, "outside.txt"), os.path.join(work, "outside-unix.txt")]
    os.makedirs(work)
    run_bounded(["cp", "-a", os.path.abspath(args.prefix), base], STEP_SECONDS, check=True)
    if args.case == "check":
        command = ["check", os.path.join(args.bin, "acme-setup.exe"), "/S"]
    else:
        os.makedirs(os.path.join(work, "setups"))
        for name in setups:
            shutil.copy(os.path.join(args.bin, name), os.path.join(work, "setups"))
        build_escape_probe(os.path.join(work, "setups"), *outside)
        setups.append("escape-probe.exe")
        # Options after the folder, as the documents show them.
        command = ["check-all", os.path.join(work, "setups"), "-j", "2"]
    hashes = prefix_hashes(base)
    env = Prefix(base).env(TRUN95_BIN=os.path.abspath(args.bin), TRUN95_CHECK_WORK=runs)
    run = run_check([LAUNCHER, command[0], "--json=" + report, "--junit=" + junit,
                     "--html=" + page, "--prefix=" + base, *command[1:]], env, runs)
    e2e.log(run.stdout)
    with open(report, encoding="utf-8") as stream:
        document = json.load(stream)
    results = document["checks"] if args.case == "check-all" else [document]
    failures = [] if args.residue_only else (
        format_errors(document, results) + html_errors(page, results) +
        junit_errors(junit, results, sorted(setups)))
    if prefix_hashes(base) != hashes:
        failures.append("the base prefix was changed")
    for name, result in zip(sorted(setups), results):
        failures += disagreements(result, base, os.path.join(runs, name))
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
                       runs, name, RUN_FOLDER, "prefix")).run_file("transcript.txt")), re.M)],
               ("folder", "C:\\Program Files\\Escape Probe\\") in [
                   (i["kind"], i["object"]) for i in results[4]["residue"]],
               any(os.path.exists(path) for path in outside),
               "Escape Probe" in run.stdout.split("still running after the host ended")[-1])
    if got != expected:
        failures.append("expected %r, got %r" % (expected, got))
    e2e.log("\n".join(["FAILED " + args.case] + failures) if failures else "PASSED " + args.case)
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return int(bool(failures))


if __name__ == "__main__":
    sys.exit(main())
