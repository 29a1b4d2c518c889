"""The commands of the launcher ./trun95, which has installed what is missing,
built the host and sourced scripts/wine-env before it starts this script:

  launcher.py COMMAND [ARGS...]   (the commands are described at the top of ./trun95)

TRUN95_LAUNCHER names the launcher as it was called, for its messages.
"""

import contextlib
import os
import re
import select
import shutil
import subprocess
import sys

import check
from trun95lib import (BIN, ROOT, SETTLE_SECONDS, Prefix, default_prefix, describe_status,
                       find_paths, leading_options, read_text, run_host, say, setup_path,
                       windows_path)

# Folders, icons and keys of the demo's Acme Notes, as the demo looks for
# what is left of it.
ACME_PATHS = ["*/Program Files/Acme Notes*", "*/Acme Notes.lnk",
              "*Start Menu/Programs/Acme Notes*"]
ACME_KEYS = re.compile(r"^Software\\(Acme|Classes\\(\.acmenote|AcmeNotes)|.*Uninstall\\AcmeNotes)")
# How long Xvfb may take to start.
XVFB_SECONDS = 60


class Refused(Exception):
    """Arguments the launcher cannot take: said with its name, status 2."""


def host_options(arguments):
    """The host's options up to the first other argument, file names as
    Windows paths; the rest of the arguments."""
    options, rest = leading_options(arguments)
    return [name + "=" + windows_path(value) if name in ("--report", "--transcript") and value
            else option for option, name, value in options], rest


def host_arguments(arguments):
    """The host's options, then the setup program as Windows sees it and its
    arguments unchanged."""
    options, rest = host_options(arguments)
    if not rest:
        raise Refused("no setup program given (see the top of %s)"
                      % os.environ.get("TRUN95_LAUNCHER", "trun95"))
    return options + [setup_path(rest[0])] + rest[1:]


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


def run_session(arguments, quiet_wine=True):
    """The host in the launcher's prefix, with a display when there is one."""
    prefix = Prefix(default_prefix())
    with display() as (driver, variables):
        prefix.make(driver)
        return run_host(prefix, arguments, quiet_wine=quiet_wine,
                        env=prefix.env(**variables)).status


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
    found = logs()
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
    os.makedirs(logs_folder(), exist_ok=True)
    status = run_session(host_arguments(["--install-log=" + windows_path(logs_folder())]
                                        + arguments))
    if status != 0:
        say(describe_status(status))
        return status
    say("trun95: the program stays installed; its install log is saved:")
    return run_list()


def run_uninstall(arguments):
    options, names = host_options(arguments)
    if len(names) != 1:
        raise Refused("uninstall takes one program name (see: trun95 list)")
    folder = find_log(names[0])
    if not folder:
        say('trun95: there is no install log of "%s": it was uninstalled already, or never '
            "installed with trun95 install." % names[0])
        return 2
    status = run_session(options + ["--uninstall-log=" + windows_path(folder)])
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
    # Lines end at \n alone: a \r inside an answer is the host's to show.
    for line in lines[:-1] if lines[-1] == "" else lines:
        caption, text, answer = (line.split("\t") + ["", ""])[:3]
        say("  [%s] %s\n      -> %s" % (caption, text, answer))


def run_demo(arguments=()):
    work = os.path.join(ROOT, "build", "demo")
    say("== TRUN95 demo: installing and uninstalling Acme Notes (NSIS) ==")
    base = Prefix(os.path.join(ROOT, "build", "win64", "wineprefix"))
    base.make("null")
    shutil.rmtree(work, ignore_errors=True)
    prefix = Prefix.copy_of(base.path, os.path.join(work, "prefix"))
    report, transcript = (os.path.join(work, name) for name in ("report.txt", "transcript.txt"))
    status = run_host(prefix, ["--unattended=all", "--report=" + windows_path(report),
                               "--transcript=" + windows_path(transcript),
                               windows_path(os.path.join(BIN, "acme-setup.exe")), "/S"],
                      transcript=transcript).status
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
    return status


def run_standalone(arguments=()):
    return run_session([], quiet_wine=False)


def run_setup(arguments):
    """A setup program watched, then the user's choice of what to undo."""
    status = run_session(host_arguments(arguments), quiet_wine=False)
    say(describe_status(status))
    return status


COMMANDS = {"demo": run_demo, "install": run_install, "list": run_list,
            "uninstall": run_uninstall, "standalone": run_standalone}


def main(argv):
    if argv[0] in ("check", "check-all"):
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
