"""The commands of the launcher ./trun95, which has installed what is missing,
built the host and sourced scripts/wine-env before it starts this script:

  launcher.py COMMAND [ARGS...]   (trun95 --help; the usage texts are in usage.py)

TRUN95_LAUNCHER names the launcher as it was called, for its messages.
"""

import contextlib
import fcntl
import os
import re
import select
import shutil
import subprocess
import sys
import threading
import time

import check
import usage
from trun95lib import (BIN, INSTALLED, ROOT, RUN_DRIVE, SETTLE_SECONDS, SETUP_POLICIES,
                       STAGED_SETUPS, STEP_SECONDS, VERBOSE, Prefix, Refused, cannot_run,
                       default_prefix, describe_status, file_name_problem, find_paths,
                       parse_options, phase, programs_for, read_text, require_sandbox, run_host,
                       say, setup_path, transcript_fields, windows_path, work_folder)

# Folders, icons and keys of the demo's Acme Notes, as the demo looks for
# what is left of it.
ACME_PATHS = ["*/Program Files/Acme Notes*", "*/Acme Notes.lnk",
              "*Start Menu/Programs/Acme Notes*"]
ACME_KEYS = re.compile(r"^Software\\(Acme|Classes\\(\.acmenote|AcmeNotes)|.*Uninstall\\AcmeNotes)")
# How long Xvfb may take to start.
XVFB_SECONDS = 60
# The host's status when a session cannot begin (another one runs).
SESSION_NOT_BEGUN = 3
# How long a demo waits for another one to end.
DEMO_WAIT_SECONDS = 600


POLICIES = ("all", "own-then-continue", "own-then-stop", "cancel", "report-only",
            "own-then-report")
# The options each command takes before its setup program (or name); the
# launcher's own (--isolate, --verbose) are not passed to the host.
SESSION_OPTIONS = {"--unattended": "text", "--report": "text", "--transcript": "text",
                   "--timeout": "count", "--quiet": "flag", "--verbose": "flag", "--setup": "text"}
SETUP_OPTIONS = dict(SESSION_OPTIONS, **{"--isolate": "flag"})
INSTALL_OPTIONS = dict(SETUP_OPTIONS, **{"--name": "text"})
LAUNCHER_OWN = ("--isolate", "--verbose")
LIST_OPTIONS = {"--names": "flag"}
DEMO_OPTIONS = {"--verbose": "flag"}
# Options that name a file the host writes, and folders inside the prefix.
OUTPUT_OPTIONS = ("--report", "--transcript")
PREFIX_FOLDER_OPTIONS = ("--install-log", "--uninstall-log")


def session_options(arguments, known=SESSION_OPTIONS):
    """The options before the first other argument, as (name, value), with
    what Windows could not take Refused here rather than by a dialog; the
    other arguments."""
    options, rest = parse_options(arguments, known)
    VERBOSE[0] = ("--verbose", True) in options
    for name, value in options:
        if name == "--unattended" and value not in POLICIES:
            raise Refused("unknown policy %s (one of: %s)" % (value, ", ".join(POLICIES)))
        if name == "--setup" and value not in SETUP_POLICIES:
            raise Refused("unknown setup policy %s (one of: %s)"
                          % (value, ", ".join(SETUP_POLICIES)))
        if name == "--report" and file_name_problem(value):
            raise Refused("cannot save the report as %s: %s" % (value, file_name_problem(value)))
        if name == "--isolate":
            require_sandbox()
    return options, rest


def setup_given(rest):
    if not rest:
        raise Refused("no setup program given (see: trun95 --help)")
    return rest


def host_option(prefix, name, value, isolated):
    """One option as the host takes it: Linux files as Windows paths, through
    the run drive in an isolated prefix (see Prefix.isolate)."""
    if value is True:
        return name
    if name in OUTPUT_OPTIONS:
        value = (Prefix.run_file_windows(os.path.basename(value)) if isolated
                 else windows_path(value))
    elif name in PREFIX_FOLDER_OPTIONS:
        value = (RUN_DRIVE.upper() + "\\" + os.path.relpath(value, prefix.path).replace("/", "\\")
                 if isolated else windows_path(value))
    return name + "=" + value


@contextlib.contextmanager
def display():
    """The display the host's windows appear on: the user's, else a private
    Xvfb that outlives Wine's services, else none."""
    if os.environ.get("DISPLAY") or not shutil.which("Xvfb"):
        yield ("x11" if os.environ.get("DISPLAY") else "null"), {}
        return
    read, write = os.pipe()
    # The same screen as xvfb-run's; -displayfd picks a free display number.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=(write,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    try:
        with os.fdopen(read) as stream:
            # Xvfb writes its display's number once it takes clients.
            ready = select.select([stream], [], [], XVFB_SECONDS)[0]
            number = stream.readline().strip() if ready else ""
        if not number:
            raise RuntimeError("Xvfb gave no display within %d s" % XVFB_SECONDS)
        yield "x11", {"DISPLAY": ":" + number}
    finally:
        xvfb.terminate()
        try:
            xvfb.wait(timeout=SETTLE_SECONDS)
        except subprocess.TimeoutExpired:
            xvfb.kill()


def run_session(options, command=(), quiet_wine=True):
    """The host in the launcher's prefix, with a display when there is one;
    with --isolate the prefix has no drive outside itself for the run, and
    the setup file is copied into it."""
    prefix = Prefix(default_prefix())
    isolated = ("--isolate", True) in options
    with display() as (driver, variables):
        prefix.make(driver)
        phase("prefix ready")
        if isolated and prefix.leftovers():
            # Its drives are not this run's to take away.
            say("trun95: another session runs in the prefix:\n  " + "\n  ".join(prefix.leftovers()))
            return SESSION_NOT_BEGUN
        removed = prefix.isolate() if isolated else None
        try:
            arguments = [host_option(prefix, name, value, isolated) for name, value in options
                         if name not in LAUNCHER_OWN]
            if command:
                setup = prefix.stage(command[0]) if isolated else setup_path(command[0])
                arguments += [setup] + list(command[1:])
            binaries = programs_for(command[0] if command else None)
            status = run_host(prefix, arguments, quiet_wine=quiet_wine,
                              env=prefix.env(**variables),
                              binaries=prefix.stage_host(binaries) if isolated else binaries).status
            phase("host ended")
        finally:
            if isolated:
                bring_out(prefix, options)
                prefix.put_back(removed)
    return status


def bring_out(prefix, options):
    """After an isolated run: the host's files where the user asked for
    them; the staged setup file removed."""
    for name, value in options:
        if name in OUTPUT_OPTIONS and os.path.exists(prefix.run_file(os.path.basename(value))):
            shutil.move(prefix.run_file(os.path.basename(value)), value)
    shutil.rmtree(prefix.run_file(""), ignore_errors=True)
    shutil.rmtree(prefix.drive_c(STAGED_SETUPS), ignore_errors=True)


def logs_folder():
    """Install logs live in the prefix, beside its drive C: one folder a program."""
    return os.path.join(default_prefix(), "trun95-logs")


def manifest(folder):
    """A log's header fields (name, installed) and its "end" line's item count."""
    fields = {}
    with open(os.path.join(folder, "manifest.txt"), encoding="utf-8",
              errors="surrogateescape") as stream:
        for line in stream:
            key, _, value = line.rstrip("\n").partition("\t")
            fields.setdefault(key, value.split("\t")[0])
    return fields


def logs():
    folder = logs_folder()
    names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    return [os.path.join(folder, n) for n in names
            if os.path.isfile(os.path.join(folder, n, "manifest.txt"))]


def log_name(folder):
    """The name a log goes by: its folder's, which its manifest records too in
    the ANSI code page; a file name here carries it as typed."""
    return os.path.basename(folder)


def find_log(name):
    """The log folder of the program called name (case does not matter)."""
    return next((f for f in logs() if log_name(f).lower() == name.lower()), None)


def run_list(arguments=()):
    options, rest = parse_options(arguments, LIST_OPTIONS)
    if rest:
        raise Refused("list takes no arguments")
    found = logs()
    if options:
        # For the shell's completion of uninstall.
        for folder in found:
            say(log_name(folder), sys.stdout)
        return 0
    if not found:
        say("trun95: no install logs (install a program with: trun95 install SETUP.EXE)")
        return 0
    say("%-32s %-24s %s" % ("program", "installed", "items"), sys.stdout)
    for folder in found:
        fields = manifest(folder)
        say("%-32s %-24s %s" % (log_name(folder), fields.get("installed", ""),
                                fields.get("end", "")), sys.stdout)
    return 0


def run_install(arguments):
    options, rest = session_options(arguments, INSTALL_OPTIONS)
    os.makedirs(logs_folder(), exist_ok=True)
    status = run_session([("--install-log", logs_folder())] + options, setup_given(rest))
    if status != 0:
        say(describe_status(status))
        return status
    say("trun95: the program stays installed; its install log is saved:")
    return run_list()


def run_uninstall(arguments):
    options, names = session_options(arguments)
    if len(names) != 1:
        raise Refused("uninstall takes one program name (see: trun95 list)")
    folder = find_log(names[0])
    if not folder:
        say('trun95: there is no install log of "%s": it was uninstalled already, or never '
            "installed with trun95 install." % names[0])
        return 2
    status = run_session(options + [("--uninstall-log", folder)])
    say(describe_status(status))
    if status == 0 and os.path.isdir(folder):
        say('trun95: the install log of "%s" is kept with %s items left.'
            % (names[0], manifest(folder).get("end", "")))
    elif status == 0:
        say('trun95: the install log of "%s" is removed: nothing it recorded is left.' % names[0])
    return status


def acme_leftovers(prefix):
    """Files and keys of Acme Notes still in the prefix after the demo, one a line."""
    drive_c = prefix.drive_c().rstrip("/")
    lines = ["C:/" + path[len(drive_c) + 1:] for path in find_paths(drive_c, ACME_PATHS)]
    for file_name in ("system.reg", "user.reg"):
        if os.path.exists(os.path.join(prefix.path, file_name)):
            lines += ["registry: [%s]" % key for key in prefix.registry(file_name)
                      if ACME_KEYS.match(key)]
    win_ini = prefix.drive_c("windows/win.ini")
    if os.path.exists(win_ini) and "[Acme Notes]" in read_text(win_ini).splitlines():
        lines.append("WIN.INI section [Acme Notes]")
    return lines


def say_transcript(path):
    """Each question the unattended user was asked, with its answer."""
    lines = read_text(path).split("\n") if os.path.exists(path) else [""]
    # One answer a line: its line breaks are shown as the host wrote them.
    for line in lines[:-1] if lines[-1] == "" else lines:
        caption, text, answer = transcript_fields(line)
        text = text.replace("\r", "\\r").replace("\n", "\\n")
        say("  [%s] %s\n      -> %s" % (caption, text, answer))


@contextlib.contextmanager
def held(path, seconds):
    """A lock on a file, waited for at most seconds: two demos share their
    folder, so the second one waits for the first rather than break it."""
    with open(path, "w") as stream:
        deadline = time.monotonic() + seconds
        while True:
            try:
                fcntl.flock(stream, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise Refused("another demo still ran after %d s" % seconds) from None
                time.sleep(0.5)
        yield


def run_demo(arguments=()):
    session_options(arguments, DEMO_OPTIONS)
    os.makedirs(work_folder(), exist_ok=True)
    with held(os.path.join(work_folder(), "demo.lock"), DEMO_WAIT_SECONDS):
        return demo()


def demo():
    work = os.path.join(work_folder(), "demo")
    say("== TRUN95 demo: installing and uninstalling Acme Notes (NSIS) ==")
    # The build's prefix in a source tree; installed, the user's, made on
    # first use (the demo works in a copy of it).
    base = Prefix(default_prefix() if INSTALLED else
                  os.path.join(ROOT, "build", "win64", "wineprefix"))
    base.make("null")
    remover = set_aside(work)
    phase("base prefix ready")
    prefix = Prefix.copy_of(base.path, os.path.join(work, "prefix"))
    phase("prefix copied")
    report, transcript = (os.path.join(work, name) for name in ("report.txt", "transcript.txt"))
    status = run_host(prefix, ["--unattended=all", "--report=" + windows_path(report),
                               "--transcript=" + windows_path(transcript),
                               windows_path(os.path.join(BIN, "acme-setup.exe")), "/S"],
                      transcript=transcript).status
    phase("host ended")
    say()
    say("-- What TRUN95 was asked, and what the unattended user answered --")
    say_transcript(transcript)
    say()
    say("-- The report: what setup changed (each item was then undone) --")
    if os.path.exists(report) and os.path.getsize(report):
        for line in read_text(report).replace("\r", "").splitlines():
            say("  " + line, sys.stdout)
    else:
        say("  (no report was written: the session showed no uninstall dialog)")
    say()
    say("-- Left behind after the uninstall --")
    leftovers = acme_leftovers(prefix)
    if not leftovers:
        say("  nothing of Acme Notes: its files, icons, registry keys and WIN.INI lines are gone")
    for line in leftovers:
        say("  " + line)
    say(describe_status(status))
    say("(report: %s, transcript: %s)" % (report, transcript))
    remover.join(timeout=STEP_SECONDS)
    return status


def set_aside(folder):
    """Moves the last run's folder aside and removes it while this run
    works: freeing a prefix's space takes a second on a busy machine."""
    old = folder + ".old"
    shutil.rmtree(old, ignore_errors=True)  # left by a run that was stopped
    if os.path.exists(folder):
        os.rename(folder, old)
    remover = threading.Thread(target=shutil.rmtree, args=(old, True))
    remover.start()
    return remover


def run_standalone(arguments=()):
    return run_session([], quiet_wine=False)


def run_setup(arguments):
    """A setup program watched, then the user's choice of what to undo."""
    options, rest = session_options(arguments, SETUP_OPTIONS)
    setup = setup_given(rest)[0]
    if not os.path.exists(setup) and "." not in os.path.basename(setup):
        raise Refused("no command or setup program %s (see: trun95 --help)" % setup)
    status = run_session(options, rest, quiet_wine=False)
    say(describe_status(status))
    return status


COMMANDS = {"demo": run_demo, "install": run_install, "list": run_list,
            "uninstall": run_uninstall, "standalone": run_standalone}
# The options each command's parser takes, for its usage (scripts/usage.py).
OPTION_TABLES = {"SETUP.EXE": SETUP_OPTIONS, "install": INSTALL_OPTIONS, "list": LIST_OPTIONS,
                 "uninstall": SESSION_OPTIONS, "check": check.CHECK_OPTIONS,
                 "check-all": check.CHECK_ALL_OPTIONS, "check-merge": check.MERGE_OPTIONS,
                 "standalone": {}, "demo": DEMO_OPTIONS, "help": {}}


def setup_named(argv):
    """The setup program of a command line, read as its command reads it;
    None for a command without one, or for a line its command will refuse."""
    known = {"check": check.CHECK_OPTIONS, "install": INSTALL_OPTIONS}.get(argv[0])
    if not known and (argv[0] in COMMANDS or argv[0].startswith("check")):
        return None
    try:
        rest = parse_options(argv[1:] if known else argv, known or SETUP_OPTIONS)[1]
    except Refused:
        return None
    return rest[0] if rest else None


def refuse_unrunnable(argv):
    """Before anything is built or made (./trun95 --before-build): a setup
    program this machine cannot run is refused in one line, status 2."""
    setup = setup_named(argv)
    problem = setup and cannot_run(setup)
    if problem:
        say("trun95: " + problem)
        return 2
    return 0


def main(argv):
    if argv and argv[0] == "--before-build":
        return refuse_unrunnable(argv[1:])
    if not argv:
        say(usage.overview(OPTION_TABLES))
        return 2
    answered = usage.front_door(argv, OPTION_TABLES)
    if answered is not None:
        return answered
    if argv[0] in ("check", "check-all", "check-merge"):
        return check.main(argv)
    try:
        if argv[0] in COMMANDS:
            return COMMANDS[argv[0]](argv[1:])
        return run_setup(argv)
    except Refused as refused:
        say("trun95: %s" % refused)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
