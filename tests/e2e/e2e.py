#!/usr/bin/env python3
"""End-to-end runs of real setup programs under TRUN95.

Each scenario copies the build's Windows 95 prefix into a folder of its own
(with its own wineserver), records every file of drive C: (path, size,
SHA-1) and the registry as Wine stores it, runs tarnel32.exe unattended
around a setup program, and compares the state after the uninstall with the
state before. What is left over must be empty apart from:
  - the files named in the caution messages of the session's report (changes
    the uninstaller reports but cannot undo, such as a replaced system DLL);
  - what the uninstaller knowingly does not look at: registry outside
    HKEY_LOCAL_MACHINE\\Software, HKEY_CURRENT_USER and HKEY_USERS, keys whose
    names are on its skip list (MRU lists and the like), and Wine's own
    bookkeeping listed in IGNORED_FILES and IGNORED_KEYS below;
  - the host's own settings file C:\\windows\\tarnel32.ini, which the host
    must write (it is removed from the copy first);
  - what a scenario names as knowingly left (see SCENARIOS).
A scenario may run a second session in the same prefix right after the first,
or (install-log) install with an install log, use the program, and uninstall
it later from the log.

usage: e2e.py SCENARIO --bin BUILD/bin --prefix BASE_PREFIX --work FOLDER
"""

import argparse
import hashlib
import os
import re
import shutil
import sys
import time

# The helpers shared with the launcher and check.py; the emulated machine
# gets them at the same place beside this file (scripts/test-win32).
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from trun95lib import (GIVEN_UP, LOG_REFUSED, Prefix, msiexec_command, read_text, run_host,
                       windows_path)

# Files Wine or the host change on every run, whatever setup did.
IGNORED_FILES = [
    re.compile(r"^windows/tarnel32\.ini$"),           # the host's settings
    re.compile(r"^users/[^/]+/temp/", re.I),           # temporary files
    re.compile(r"^users/[^/]+/appdata/local/temp/", re.I),
    re.compile(r"^windows/temp/", re.I),
    re.compile(r"^windows/installer/", re.I),          # msiexec's package cache
    re.compile(r"^trun95-prefix\.reg$"),
    re.compile(r"^trun95-setup(/|$)"),                 # the setup an isolated run copied in
]
# Registry keys that Wine rewrites by itself, and the uninstaller's skip list.
IGNORED_KEYS = [
    re.compile(r"\\(InstallLocationsMRU|RunMRU|StreamMRU|Streams|recent|Recent|"
               r"Recent File List|RecentDocs|UuidPersistentData)(\\|$)"),
    re.compile(r"^Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib", re.I),
    re.compile(r"^Software\\Wine\\", re.I),
    # The Linux fonts, which Wine registers at start by the drive it finds
    # them through: Z: in the base prefix, none in an isolated copy.
    re.compile(r"^Software\\Microsoft\\Windows( NT)?\\CurrentVersion\\Fonts$", re.I),
    re.compile(r"^Volatile Environment", re.I),
    # Wine's file dialog keeps its view settings here; a run given up while
    # the report's "Save As" dialog is open leaves them.
    re.compile(r"^Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced$", re.I),
    # Knowingly left by the session: the shell's unload setting, which it
    # creates with the value "1" when it was missing before.
    re.compile(r"^Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL$",
               re.I),
]
# Registry files and the part of each that the uninstaller snapshots
# (None: all of it).
REGISTRY_FILES = {"system.reg": "Software\\", "user.reg": None, "userdef.reg": None}


def log(*parts):
    print(*parts, flush=True)


def file_state(prefix):
    state = {}
    root = prefix.drive_c()
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            full = os.path.join(folder, name)
            relative = os.path.relpath(full, root).replace(os.sep, "/")
            if any(pattern.search(relative.lower() if pattern.flags & re.I else relative)
                   for pattern in IGNORED_FILES):
                continue
            if os.path.islink(full):
                state[relative] = ("link", os.readlink(full))
            elif os.path.isdir(full):
                state[relative + "/"] = ("folder",)
            else:
                with open(full, "rb") as stream:
                    digest = hashlib.sha1(stream.read()).hexdigest()
                state[relative] = ("file", os.path.getsize(full), digest)
    return state


def registry_state(prefix):
    state = {}
    for file_name, part in REGISTRY_FILES.items():
        for key, values in prefix.registry(file_name).items():
            if (part and not key.startswith(part)) or any(p.search(key) for p in IGNORED_KEYS):
                continue
            state[file_name + ":" + key] = set(values)
            # Wine writes a key without values only while it has no subkeys:
            # every ancestor counts as present.
            while "\\" in key:
                key = key[:key.rindex("\\")]
                state.setdefault(file_name + ":" + key, set())
    return state


def snapshot(prefix):
    if not prefix.settle():
        raise RuntimeError("the prefix did not settle before its state was read (see above)")
    return file_state(prefix), registry_state(prefix)


def compare(before, after, allowed_files):
    files_before, keys_before = before
    files_after, keys_after = after
    residue = []
    for path in sorted(set(files_before) | set(files_after)):
        if files_before.get(path) == files_after.get(path):
            continue
        if "c:/" + path.rstrip("/").lower() in allowed_files:
            continue
        what = ("added" if path not in files_before else
                "removed" if path not in files_after else "changed")
        residue.append("file %s: %s" % (what, path))
    for key in sorted(set(keys_before) | set(keys_after)):
        values_before = keys_before.get(key)
        values_after = keys_after.get(key)
        if values_before == values_after:
            continue
        if values_before is None:
            residue.append("key added: " + key)
        elif values_after is None:
            residue.append("key removed: " + key)
        else:
            for line in sorted(values_after - values_before):
                residue.append("value added or changed: %s: %s" % (key, line))
            for line in sorted(values_before - values_after):
                residue.append("value removed or changed: %s: %s" % (key, line))
    return residue


def caution_paths(report_text):
    """The files named in the report's caution messages, as c:/... paths."""
    paths = set()
    in_cautions = False
    for line in report_text.splitlines():
        if line.startswith("Caution Messages:"):
            in_cautions = True
        elif line.startswith("List of Items to Uninstall:"):
            in_cautions = False
        elif in_cautions:
            for quoted in re.findall(r'"([^"]+)"', line):
                paths.add(quoted.replace("\\", "/").lower())
    return paths


def run_session(prefix, binaries, work, scenario, arguments=None):
    report = os.path.join(work, "report.txt")
    transcript = os.path.join(work, "transcript.txt")
    for old in (report, transcript):
        if os.path.exists(old):
            os.remove(old)
    options = ["--timeout=%d" % scenario.timeout] if scenario.timeout else []
    started = time.monotonic()
    run = run_host(prefix, ["--unattended=" + scenario.policy, "--report=" + windows_path(report),
                            "--transcript=" + windows_path(transcript), *options,
                            *(arguments or scenario.setup(binaries))],
                   out=False, merge_output=True, transcript=transcript, binaries=binaries,
                   seconds=HOST_SECONDS)
    seconds = time.monotonic() - started
    texts = {}
    for name, path in (("report", report), ("transcript", transcript)):
        texts[name] = read_text(path) if os.path.exists(path) else ""
        log("---- %s ----\n%s" % (name, texts[name]))
    texts["host"] = run.text
    if run.text.strip():
        log("---- host output ----\n" + run.text)
    log("host exit status: %d after %.0f s" % (run.status, seconds))
    return run.status, seconds, texts


def put_old_versions(prefix):
    """What the update scenario replaces: the old files, in place before setup."""
    files = {
        "windows/system32/acmecore.dll": b"ACMECORE version 1 (not a real library)\r\n",
        "Program Files/Acme Update/data.txt": b"data version 1\r\n",
        "windows/acme.ini": b"[Update]\r\nVersion=1\r\n",
    }
    for relative, content in files.items():
        path = prefix.drive_c(relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as stream:
            stream.write(content)


# The host's exit status for arguments it does not take.
BAD_ARGUMENTS = 2
# The exit status that tells CTest a test was skipped.
SKIPPED = 77
# The bound of one host run: far above what the slowest session takes here.
HOST_SECONDS = 900
# What Wine's start and the end of a session may add to a run's --timeout, in
# multiples of the same run's Wine start: cmd.exe started in the fresh prefix
# until Wine's services have ended again, the same work that comes on top of
# the host's own time. A busy machine slows both alike.
OVERRUN_WINE_STARTS = 6


def missing_setups(command):
    """The build's sample setups that a command names but that were not built
    (makensis or wixl missing)."""
    return [part for part in command
            if part.startswith("Z:") and not os.path.exists(part[2:].replace("\\", "/"))]


def acme_setup(binaries):
    return [windows_path(os.path.join(binaries, "acme-setup.exe")), "/S"]


def acme_tools(binaries):
    return msiexec_command(os.path.join(binaries, "acme-tools.msi"))


class Scenario:
    def __init__(self, policy, setup, prepare=None, cautions=(), knowingly_left=(), answers=(),
                 status=0, timeout=None, report=True, then=None, run=None):
        self.policy = policy
        self.setup = setup                    # binaries folder -> command
        self.prepare = prepare                # puts files in place before setup
        self.cautions = cautions              # caution lines the report must hold
        self.knowingly_left = knowingly_left  # drive C: paths left as setup made them
        self.answers = answers                # transcript lines that must appear
        self.status = status                  # the host's exit status
        self.timeout = timeout                # --timeout, which the run must keep
        self.report = report                  # whether the uninstall dialog saves a report
        self.then = then                      # a second session in the same prefix
        self.run = run                        # runs the sessions itself instead

    def check(self, name, status, seconds, texts, wine_start=0.0):
        """What this session's run got wrong, one text each; wine_start is how
        long Wine's start took in this run (seconds)."""
        failures = []
        if status != self.status:
            failures.append("%s: tarnel32 ended with status %d, not %d"
                            % (name, status, self.status))
        overrun = OVERRUN_WINE_STARTS * wine_start
        if self.timeout and seconds > self.timeout + overrun:
            failures.append("%s: the run took %.0f s, given %d and %.0f s for Wine's start and end"
                            % (name, seconds, self.timeout, overrun))
        if self.report != texts["report"].startswith("Tarnel Uninstaller version"):
            failures.append("%s: a report was %s through the Report button"
                            % (name, "not written" if self.report else "written"))
        report_lines = texts["report"].splitlines()
        failures += ["%s: the report lacks the caution %s" % (name, caution)
                     for caution in self.cautions if caution not in report_lines]
        transcript_lines = texts["transcript"].splitlines()
        failures += ["%s: the transcript lacks the answer %s" % (name, answer)
                     for answer in self.answers if answer not in transcript_lines]
        # A run given up ends its transcript with the windows still open; the
        # host's own is one of them, whatever the session was doing.
        if self.status == GIVEN_UP and not any(
                line.startswith("Tarnel32 Install Monitor\t")
                and line.endswith("\tnot answered; buttons: Setup is done")
                for line in transcript_lines):
            failures.append("%s: the transcript lacks the host window's line" % name)
        return failures


# A setup that changes nothing: the session answers message 110 and ends.
NOTHING_CHANGED = Scenario(
    "all", lambda b: ["rundll32.exe"], report=False,
    answers=["Tarnel Uninstaller\tNo configuration changes detected.\\nThere is nothing to "
             "uninstall.\tOK"])


def group_folder(manifest_text):
    """The Start Menu folder of the log's group item, as a c:/... path."""
    for line in manifest_text.decode("latin-1").splitlines():
        fields = line.split("\t")
        if fields[:2] == ["item", "1"]:
            return fields[5].replace("\\\\", "/").rstrip("/")
    return "c:/no-group"


def use_acme_notes(prefix, group):
    """What a person does with Acme Notes after installing it: settings
    changed, documents saved beside the program and in its group, and another
    Acme program installed (its key beside the Notes key)."""
    folder = prefix.drive_c("Program Files/Acme Notes")
    with open(os.path.join(folder, "settings.ini"), "ab") as stream:
        stream.write(b"Width=640\r\n")
    for document in (os.path.join(folder, "notes.txt"), prefix.drive_c(group[3:] + "/list.txt")):
        with open(document, "wb") as stream:
            stream.write(b"my own notes\r\n")
    prefix.wine("reg.exe", "add", "HKLM\\Software\\Acme\\Notes", "/v", "Version", "/d", "2.0",
                "/f")
    prefix.wine("reg.exe", "add", "HKLM\\Software\\Acme\\Tools", "/v", "Installed", "/d", "1",
                "/f")


def kept_since_install(prefix, group):
    """What the uninstall got wrong about what was made or changed since
    install; then the person removes it, so that nothing else may be left."""
    failures = []
    notes = prefix.registry("system.reg").get("Software\\Acme\\Notes", [])
    if [line.split("=")[0].lower() for line in notes] != ['"version"']:
        failures.append("the Notes key holds %s, not only the Version changed since" % notes)
    if prefix.registry_string("HKLM\\Software\\Acme\\Tools", "Installed") != "1":
        failures.append("the key Acme\\Tools made since install is gone")
    if not os.path.exists(prefix.drive_c(group[3:] + "/list.txt")):
        failures.append("the document saved into the group is gone")
    prefix.wine("reg.exe", "delete", "HKLM\\Software\\Acme", "/f")
    return failures


def uninstall_from_log(prefix, binaries, work, scenario, folder, status, message, options=()):
    """One uninstall from the log folder; its failures."""
    stopped, _, texts = run_session(prefix, binaries, work, scenario,
                                 [*options, "--uninstall-log=" + windows_path(folder)])
    failures = [] if stopped == status else [
        "uninstall ended with status %d, not %d" % (stopped, status)]
    if message and message not in texts.get("host", ""):
        failures.append("uninstall did not say: " + message)
    return failures, texts


def install_then_uninstall(prefix, binaries, work, scenario):
    """Acme Notes installed with an install log under a name of its own (one
    the ANSI code page cannot write is refused), used, refused as a damaged log,
    given up at the selection dialog, uninstalled from the log (WIN.INI comes
    back from the log's copy), then asked again."""
    logs = os.path.join(prefix.path, "trun95-logs")
    # A log of that name is kept already: the new one gets a name of its own.
    os.makedirs(os.path.join(logs, "Café"))
    install = ["--install-log=" + windows_path(logs), *acme_setup(binaries)]
    status, _, texts = run_session(prefix, binaries, work, scenario, ["--name=日本", *install])
    failures = [] if status == BAD_ARGUMENTS and "ANSI code page" in texts["host"] else [
        "a name the ANSI code page cannot write was taken (status %d)" % status]
    status, _, _ = run_session(prefix, binaries, work, scenario, ["--name=Café", *install])
    folder = os.path.join(logs, "Café (2)")
    manifest = os.path.join(folder, "manifest.txt")
    if status != 0 or not os.path.exists(manifest):
        return ["install ended with status %d and no log in %s" % (status, folder)], set()
    good = open(manifest, "rb").read()
    if "\nname\tCafé (2)\n" not in good.decode("cp1252"):
        failures.append("the log's name is not its folder's name in the ANSI code page")
    group = group_folder(good)
    use_acme_notes(prefix, group)
    used = snapshot(prefix)
    # Every refusal has its unit test; this run shows that a refused log
    # changes nothing in the prefix.
    open(manifest, "wb").write(good.replace(b"\nitem\t", b"\nitem\tx", 1))
    failures += uninstall_from_log(prefix, binaries, work, scenario, folder, LOG_REFUSED,
                                   'unknown item kind "x')[0]
    open(manifest, "wb").write(good)
    # Given up at the selection dialog: its report cannot be saved as a folder.
    failures += uninstall_from_log(prefix, binaries, work, scenario, folder, GIVEN_UP, None,
                                   ["--report=C:\\windows", "--timeout=90"])[0]
    failures += ["refused or given-up log changed: " + line
                 for line in compare(used, snapshot(prefix), set())]
    found, texts = uninstall_from_log(prefix, binaries, work, scenario, folder, 0, None)
    failures += found + scenario.check("uninstall", 0, 0, texts)
    if os.path.exists(folder):
        failures.append("the log is still there after everything was undone")
    failures += uninstall_from_log(prefix, binaries, work, scenario, folder, LOG_REFUSED,
                                   "uninstalled already")[0]
    failures += kept_since_install(prefix, group)
    return failures, caution_paths(texts["report"]) | {group.lower()}


SCENARIOS = {
    "nsis-all": Scenario("all", acme_setup),
    # The program's own uninstaller asks, shows its wizard and keeps
    # settings.ini, its HKCU key and its WIN.INI section; the session removes
    # them afterwards.
    "nsis-own-then-continue": Scenario(
        "own-then-continue", acme_setup,
        answers=["Acme Notes Uninstall\tRemove Acme Notes from your computer?\tYes",
                 "Acme Notes Uninstall: Completed\tAcme Notes 1.0\\nCompleted\tClose"]),
    # Wine's msiexec registers "MsiExec.exe /I{...}" as the package's own
    # uninstaller, which removes nothing here; `check-all` runs it.
    "msi-all": Scenario("all", acme_tools),
    # The system DLL replaced by renaming is reported, since only start-up and
    # .ini files are backed up; acme.ini in the Windows folder is restored.
    # Files outside the Windows and system folders that existed before are
    # not compared, so the replaced data.txt stays as setup left it.
    "replace-files": Scenario(
        "all", lambda b: [windows_path(os.path.join(b, "replace-setup.exe")), "/S"],
        prepare=put_old_versions,
        cautions=['File "c:\\windows\\system32\\acmecore.dll" was altered'],
        knowingly_left=["Program Files/Acme Update/data.txt"]),
    # One key under HKEY_CURRENT_USER\\Software: the tree form then holds
    # only the collapsed "Registry Changes" category, with the focus on it.
    "hkcu-key": Scenario(
        "all", lambda b: ["reg.exe", "add", "HKCU\\Software\\Acme Key", "/v", "Installed",
                          "/d", "1", "/f"]),
    # Kept for a while, then uninstalled from its log: the settings file the
    # user changed and the user's own files stay, with their folders; so do
    # the registry value changed and the key made since install.
    "install-log": Scenario(
        "all", acme_setup, run=install_then_uninstall,
        knowingly_left=["Program Files/Acme Notes"],
        cautions=['File "C:\\Program Files\\Acme Notes\\settings.ini" was changed since it was '
                  'installed: it is offered unchecked, and its folder is kept for it',
                  'File "C:\\Program Files\\Acme Notes\\notes.txt" was not made by setup: it '
                  'stays, and so does its folder',
                  'Registry key Hkey_local_machine\\Software\\Acme\\Tools was made since '
                  'install: it stays, and so does the key above it']),
    # A setup that starts the program it installed: once setup has ended and
    # the program sits idle, the unattended user closes it, as a person would,
    # before anything is undone (its own file can then be deleted).
    "starts-program": Scenario(
        "all", lambda b: [windows_path(os.path.join(b, "epsilon-setup.exe")), "/S"], timeout=120,
        answers=["Epsilon\tclosed the program setup started: epsilon.exe\tClose"]),
    # A setup whose window never closes is given up within its time, and
    # leaves no session behind: the next one starts at once.
    "never-closes": Scenario(
        "all", lambda b: ["notepad.exe"], timeout=30, status=GIVEN_UP, report=False,
        then=NOTHING_CHANGED),
}


def parse_arguments(first, choices, flags=()):
    """The command line the CTest entries give: FIRST --bin --prefix --work,
    and the test's own flags."""
    parser = argparse.ArgumentParser()
    parser.add_argument(first, choices=choices)
    for option in ("--bin", "--prefix", "--work"):
        parser.add_argument(option, required=True)
    for flag in flags:
        parser.add_argument(flag, action="store_true")
    return parser.parse_args()


def main():
    args = parse_arguments("scenario", sorted(SCENARIOS))
    scenario = SCENARIOS[args.scenario]
    missing = missing_setups(scenario.setup(args.bin))
    if missing:
        log("SKIPPED %s: not built: %s" % (args.scenario, ", ".join(missing)))
        return SKIPPED
    work = os.path.abspath(os.path.join(args.work, args.scenario))
    prefix = Prefix.copy_of(os.path.abspath(args.prefix), os.path.join(work, "prefix"))
    host_ini = prefix.drive_c("windows/tarnel32.ini")
    failures = []
    allowed = {"c:/" + path.lower() for path in scenario.knowingly_left}
    try:
        # Start Wine's own services once, so that what they write on first
        # start is part of the state before.
        started = time.monotonic()
        prefix.wine("cmd.exe", "/c", "exit", check=False)
        prefix.settle()
        wine_start = time.monotonic() - started
        log("Wine started and ended in %.1f s" % wine_start)
        if os.path.exists(host_ini):
            os.remove(host_ini)
        if scenario.prepare:
            scenario.prepare(prefix)
        before = snapshot(prefix)
        session, name = scenario, args.scenario
        if scenario.run:
            found, cautioned = scenario.run(prefix, args.bin, work, scenario)
            failures += found
            allowed |= cautioned
            session = None
        while session:
            status, seconds, texts = run_session(prefix, args.bin, work, session)
            failures += session.check(name, status, seconds, texts, wine_start)
            allowed |= caution_paths(texts["report"])
            session, name = session.then, "then"
        after = snapshot(prefix)
    finally:
        prefix.kill()
    residue = compare(before, after, allowed)
    if "UninstallerTreeview=1" not in read_text(host_ini):
        failures.append("the host did not write UninstallerTreeview=1 into tarnel32.ini")
    failures += ["residue: " + line for line in residue]
    if failures:
        log("\n".join(["FAILED " + args.scenario] + failures))
        return 1
    shutil.rmtree(work, ignore_errors=True)
    log("PASSED " + args.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
