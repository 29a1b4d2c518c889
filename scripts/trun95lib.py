"""What the launcher (scripts/launcher.py), scripts/check.py and the
end-to-end tests (tests/e2e/) share: Windows paths of Linux files, setup
command lines, Wine prefixes and their registry files, and runs of the host
program with every wait bounded.

Wine's settings (WINE64, WINESERVER, WINEDEBUG, ...) come from scripts/wine-env,
which whoever starts these scripts has sourced: the launcher, CTest and the
emulated machine's run script.

Run as a program, `trun95lib.py settle [SECONDS]` waits for the prefix in
WINEPREFIX to end, as Prefix.settle does; the shell scripts use it.
"""

import fnmatch
import glob
import os
import shutil
import subprocess
import sys
import threading
import time

ROOT = os.environ.get("TRUN95_ROOT") or os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Installed by the package (/usr/lib/trun95, which holds its version), the
# launcher never builds, finds the programs beside itself and keeps its work
# in the user's cache folder; in a source tree, in the build folder.
INSTALLED = os.path.isfile(os.path.join(ROOT, "package-version"))
WINE = os.environ.get("WINE64", "/usr/lib/wine/wine64")
# The machine field of a PE header, for the programs Wine runs here.
PE_MACHINES = {0x14c: "i386", 0x8664: "amd64"}
# What a Wine that runs 32-bit programs installs: Debian's 32-bit loader
# (wine32:i386, an i386 ELF program), or the 32-bit ntdll.dll of Wine's
# Windows side, which a WoW64 Wine has without a 32-bit loader.
WINE32_LOADERS = ("/usr/lib/wine/wine",)
WINE32_NTDLLS = ("/usr/lib/*/wine/i386-windows/ntdll.dll", "/usr/lib/wine/i386-windows/ntdll.dll",
                 "/opt/wine*/lib*/wine/i386-windows/ntdll.dll")
ELF_I386 = 3


def pe_machine(path):
    """What a Windows program was built for ("i386", "amd64"), from its PE
    header; None for anything else (a package, a script, a damaged file)."""
    try:
        with open(path, "rb") as stream:
            head = stream.read(64)
            if len(head) < 64 or head[:2] != b"MZ":
                return None
            stream.seek(int.from_bytes(head[60:64], "little"))
            signature = stream.read(6)
    except (OSError, ValueError):
        return None
    if len(signature) < 6 or signature[:4] != b"PE\0\0":
        return None
    return PE_MACHINES.get(int.from_bytes(signature[4:6], "little"))


def has_wine32():
    """Whether Wine runs 32-bit programs here, told by the files it installs
    for them: a machine without it cannot run a 32-bit program to find out."""
    for loader in WINE32_LOADERS:
        try:
            with open(loader, "rb") as stream:
                head = stream.read(20)
        except OSError:
            continue
        if head[:4] == b"\x7fELF" and int.from_bytes(head[18:20], "little") == ELF_I386:
            return True
    return any(glob.glob(pattern) for pattern in WINE32_NTDLLS)


def cannot_run(setup):
    """Why this machine cannot run a setup program, in one line, or None."""
    if pe_machine(setup) == "i386" and not has_wine32():
        return ("%s is a 32-bit program; this machine has no 32-bit Wine (install wine32, "
                "see docs/check.md)" % os.path.basename(setup))
    return None


def programs_for(setup=None):
    """The folder of the host and its libraries: TRUN95_BIN when set
    (programs built elsewhere, run without a build, as in the emulated
    machine), else the build of the setup program's own kind: the shipping
    32-bit build for a 32-bit setup, its 64-bit twin for the rest."""
    if os.environ.get("TRUN95_BIN"):
        return os.environ["TRUN95_BIN"]
    preset = "win32" if setup and pe_machine(setup) == "i386" else "win64"
    if INSTALLED:
        return os.path.join(ROOT, "bin" if preset == "win64" else "win32")
    return os.path.join(ROOT, "build", preset, "bin")


BIN = programs_for()
WINESERVER = os.environ.get("WINESERVER", "/usr/lib/wine/wineserver")
# Wine's notices about drive Z: (the Linux root) say nothing about a session.
WINE_NOISE = "Read access denied for device"

# The host's exit statuses and what the launcher says about each.
HOST_STATUSES = {
    0: "the session ran to its end.",
    1: "the session was abandoned after an internal failure.",
    2: "the setup program could not be started (see above).",
    4: "the host was closed before setup had finished; the session was abandoned.",
    5: "the unattended run was given up (see above); the session was abandoned.",
    6: "the install log was refused (see above); nothing was undone.",
}
GIVEN_UP = 5
LOG_REFUSED = 6

# How long Wine's services may take to end after the last program of a
# prefix: a few seconds when the machine is quiet.
SETTLE_SECONDS = 120
# How long what setup left running after the host may take to end by
# itself before it is ended.
LEFTOVER_SECONDS = 5
WINE_SERVICES = {"services.exe", "winedevice.exe", "plugplay.exe", "svchost.exe", "rpcss.exe",
                 "conhost.exe", "winemenubuilder.exe", "start.exe"}
# Copying a prefix, making one, and small programs such as reg.exe.
STEP_SECONDS = 600
# The host's own bound of an unattended run (its --timeout default), and what
# Wine's start and the session's end may add to it.
UNATTENDED_SECONDS = 1800
HOST_MARGIN_SECONDS = 300
# A person answering the dialogs has a working day.
INTERACTIVE_SECONDS = 8 * 3600


def say(text="", stream=None):
    """Writes one line as the files it comes from hold it, whatever their bytes."""
    stream = stream or sys.stderr
    stream.flush()
    stream.buffer.write(text.encode("utf-8", "surrogateescape") + b"\n")
    stream.buffer.flush()


def read_text(path):
    """A file the host or Wine wrote, with its bytes kept (see say)."""
    with open(path, encoding="utf-8", errors="surrogateescape") as stream:
        return stream.read()


# The start of this command (the launcher's, when it started this script),
# and whether each phase's time is said (--verbose), so that a user sees
# where the time goes.
STARTED = int(os.environ.get("TRUN95_STARTED") or time.time_ns()) / 1e9
VERBOSE = [False]


def transcript_fields(line):
    """The caption, text and answer of a transcript line, unescaped: the host
    writes a backslash, tab, line feed or carriage return inside a field as
    \\\\, \\t, \\n or \\r."""
    marks = {"\\": "\\", "t": "\t", "n": "\n", "r": "\r"}
    fields = []
    for field in (line.split("\t") + ["", ""])[:3]:
        text, i = "", 0
        while i < len(field):
            if field[i] == "\\" and field[i + 1:i + 2] in marks:
                text += marks[field[i + 1]]
                i += 2
            else:
                text += field[i]
                i += 1
        fields.append(text)
    return fields


def phase(name):
    if VERBOSE[0]:
        say("trun95: [%5.1f s] %s" % (time.time() - STARTED, name))


def describe_status(status):
    return "trun95: " + HOST_STATUSES.get(
        status, "the session could not begin (status %d)." % status)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def setup_path(setup):
    """A Linux file becomes a Z: path; a name such as msiexec.exe is left for
    Windows to find."""
    return windows_path(setup) if os.path.exists(setup) else setup


def msiexec_command(package):
    return ["msiexec.exe", "/i", windows_path(package), "/qn"]


# Where an isolated run keeps the setup program (in drive C:) and the host's
# own files (beside drive C:, through RUN_DRIVE).
STAGED_SETUPS = "trun95-setup"
RUN_FOLDER = "trun95-run"
RUN_DRIVE = "t:"
# What the unattended user does with setup's own windows (--setup): the
# default button of its boxes and wizard pages, or nothing.
SETUP_POLICIES = ("answer", "wait")
# What the host needs of the build's binaries.
HOST_FILES = ("tarnel32.exe", "TRUN95.dll", "trun95check.dll", "tr95.vxd")
DRIVES_KEY = "HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives"
# The sandbox of an isolated prefix's Wine processes (Prefix.command).
BWRAP = "bwrap"
X11_SOCKETS = "/tmp/.X11-unix"


def staged_path(setup):
    """The Windows path of a setup file staged into an isolated prefix."""
    return "C:\\%s\\%s" % (STAGED_SETUPS, os.path.basename(setup))


def work_folder():
    """Where the launcher's own runs (the demo) keep their files."""
    if not INSTALLED:
        return os.path.join(ROOT, "build")
    cache = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(os.path.abspath(cache), "trun95")


def default_prefix():
    data = os.environ.get("XDG_DATA_HOME") or os.path.join(os.path.expanduser("~"), ".local/share")
    return os.path.abspath(os.environ.get("TRUN95_PREFIX") or os.path.join(data, "trun95", "prefix"))


class Refused(Exception):
    """Arguments a command cannot take: said in one line, status 2."""


# Characters no Windows file name may hold.
NOT_IN_WINDOWS_NAMES = set('?*<>|":')
# The code page of Wine's ANSI functions here, through which the library's
# Save As dialog passes the report's name.
ANSI_CODE_PAGE = "cp1252"


def parse_options(arguments, known, anywhere=False):
    """The options of a command line and its other arguments.

    known maps each option's name to "flag" (--quiet), "text" (--json=FILE)
    or "count" (--timeout=SECONDS, a whole number above 0); "-j N" and "-jN"
    stand for --jobs=N. Options end at the first other argument, whose own
    arguments follow it unread, unless anywhere is set. The options come back
    as (name, value) in their order; an unknown or incomplete one is Refused."""
    options, rest = [], []
    words = list(arguments)
    while words:
        word = words.pop(0)
        if rest and not anywhere or not word.startswith("-") or word == "-":
            rest.append(word)
            continue
        if word == "-j" and words:
            word = "--jobs=" + words.pop(0)
        elif word.startswith("-j") and not word.startswith("--"):
            word = "--jobs=" + word[2:]
        name, equals, value = word.partition("=")
        kind = known.get(name)
        if kind is None:
            raise Refused("unknown option " + name)
        if (kind == "flag") == bool(equals) or (kind != "flag" and not value) or (
                kind == "count" and not (value.isdigit() and int(value) > 0)):
            raise Refused("option %s takes %s" % (name, {"flag": "no value",
                                                          "text": "a value",
                                                          "count": "a whole number above 0"}[kind]))
        options.append((name, value if equals else True))
    return options, rest


def file_name_problem(path):
    """Why Windows cannot write a file of that name through a Save As dialog,
    or None: a character outside its code page or one no file name may hold,
    a missing folder, or a read-only file."""
    name = os.path.basename(path)
    if not name or set(name) & NOT_IN_WINDOWS_NAMES:
        return "a Windows file name cannot hold any of ?*<>|\":"
    try:
        name.encode(ANSI_CODE_PAGE)
    except UnicodeEncodeError:
        return "the name has characters outside Windows' code page (%s)" % ANSI_CODE_PAGE
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        return "there is no folder " + folder
    if os.path.exists(path) and not os.stat(path).st_mode & 0o222:
        return "the file is read-only"
    return None


def require_sandbox(checked=[]):
    """Refused (one line) when Wine cannot run in a sandbox here; checked once,
    with a sandbox of the kind that sandboxed makes."""
    if not checked:
        problem = None
        if not shutil.which(BWRAP):
            problem = "bubblewrap (bwrap) is not installed; scripts/install-deps installs it"
        else:
            probe = run_bounded([BWRAP, "--ro-bind", "/", "/", "--dev", "/dev", "--proc", "/proc",
                                 "--tmpfs", "/tmp", "true"], STEP_SECONDS,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            if probe.returncode != 0:
                problem = ("bubblewrap cannot make a sandbox on this machine (%s); are user "
                           "namespaces turned off?" % " ".join(probe.stdout.split()))
        checked.append(problem)
    if checked[0]:
        raise Refused("a setup cannot be cut off from the Linux files here: " + checked[0])


def sandboxed(command, prefix, tmp):
    r"""The command in a sandbox where the Linux files are read-only except the
    prefix and a /tmp of its own (tmp, shared by every Wine process of the
    prefix, so that they find one wineserver), and the user's home is hidden:
    Wine's \\?\unix\ paths reach nothing there that they could change, nor
    the home. The display's sockets stay reachable."""
    home = os.path.realpath(os.path.expanduser("~"))
    arguments = [BWRAP, "--ro-bind", "/", "/", "--dev", "/dev", "--proc", "/proc",
                 "--bind", tmp, "/tmp", "--die-with-parent"]
    if os.path.isdir(X11_SOCKETS):
        arguments += ["--bind", X11_SOCKETS, X11_SOCKETS]
    if home != "/":
        arguments += ["--tmpfs", home]
    authority = os.environ.get("XAUTHORITY")
    if authority and os.path.isfile(authority):
        arguments += ["--ro-bind", authority, authority]
    return arguments + ["--bind", prefix, prefix, "--chdir", prefix, "--"] + list(command)


def run_bounded(command, seconds, **options):
    """subprocess.run with a bound; a step that outlives it fails with what it printed."""
    try:
        return subprocess.run(command, timeout=seconds, **options)
    except subprocess.TimeoutExpired as expired:
        raise RuntimeError("%s did not end within %d s; it printed: %s"
                           % (" ".join(command), seconds,
                              printed_before(expired).strip() or "nothing")) from None


def printed_before(expired):
    """What a program that was stopped at its bound had printed (captured
    output comes as bytes then, whatever the run asked for)."""
    printed = expired.output or b""
    return printed.decode(errors="replace") if isinstance(printed, bytes) else printed


def read_registry(path):
    """A Wine registry file as key name -> its value lines, in the file's
    order; continued lines are joined and Wine's timestamps left out."""
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="surrogateescape") as stream:
        for raw in stream:
            line = pending + raw.rstrip("\n")
            if line.endswith("\\") and current is not None and not line.startswith("["):
                pending = line[:-1]
                continue
            pending = ""
            if line.startswith("["):
                current = keys.setdefault(line[1:line.rindex("]")].replace("\\\\", "\\"), [])
            elif current is not None and line and not line.startswith("#"):
                current.append(line)
    return keys


class Prefix:
    """A Wine prefix: the programs run in it, its files and its registry."""

    def __init__(self, path):
        self.path = path

    @classmethod
    def copy_of(cls, base, path, headless=False):
        """A fresh copy of the base prefix at path, with its own wineserver."""
        prefix = cls(path)
        if os.path.exists(path):
            prefix.kill()
            shutil.rmtree(path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        run_bounded(["cp", "-a", base, path], STEP_SECONDS, check=True)
        if headless:
            # Whatever display the base prefix uses.
            prefix.make("null")
        return prefix

    def make(self, display):
        """Makes the prefix, or brings an existing one to the display driver."""
        if self.ready(display):
            return
        run_bounded([os.path.join(ROOT, "scripts", "wine-prefix"), self.path, display],
                    STEP_SECONDS, env=self.env(), check=True, stdout=subprocess.DEVNULL)

    def ready(self, display):
        """Whether scripts/wine-prefix would change nothing (it takes a second
        on a busy machine): made for this display, and no shell folder is a
        link, which could lead into the Linux home."""
        try:
            with open(os.path.join(self.path, ".trun95-prefix")) as stream:
                if stream.read().strip() != "version=win95 display=" + display:
                    return False
        except OSError:
            return False
        users = self.drive_c("users")
        return self.exists() and not any(links_below(os.path.join(users, home), 3)
                                          for home in os.listdir(users))

    def exists(self):
        return os.path.isfile(os.path.join(self.path, "system.reg"))

    def env(self, **more):
        return dict(os.environ, WINEPREFIX=self.path, **more)

    def isolated(self):
        """Whether isolate cut the prefix off (until put_back)."""
        return os.path.lexists(os.path.join(self.path, "dosdevices", RUN_DRIVE))

    def sandbox_tmp(self):
        """The /tmp of an isolated prefix's sandbox, beside the prefix."""
        return self.path + "-tmp"

    def command(self, command):
        """A command of a Wine process of this prefix: in an isolated prefix
        it runs in the sandbox, as every other Wine process of the prefix."""
        if self.isolated():
            return sandboxed(command, self.path, self.sandbox_tmp())
        return list(command)

    def run(self, *command, check=True, timeout=STEP_SECONDS):
        """A program run to its end, its output (both streams) collected."""
        return run_bounded(self.command(command), timeout, env=self.env(), check=check,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

    def wine(self, *arguments, check=True, timeout=STEP_SECONDS):
        return self.run(WINE, *arguments, check=check, timeout=timeout)

    def drive_c(self, relative=""):
        return os.path.join(self.path, "drive_c", relative)

    def registry(self, file_name):
        return read_registry(os.path.join(self.path, file_name))

    # The file Wine keeps each root in that the registry readers look at.
    ROOT_FILES = {"hkey_local_machine": "system.reg", "hklm": "system.reg",
                  "hkey_current_user": "user.reg", "hkcu": "user.reg"}

    def registry_keys(self, key):
        """The names (ROOT\\...) of the keys directly below a key of the
        machine's or the user's registry."""
        root, _, below = key.partition("\\")
        inside = below.lower() + "\\"
        return [root + "\\" + found for found in self.registry(self.ROOT_FILES[root.lower()])
                if found.lower().startswith(inside) and "\\" not in found[len(inside):]]

    def registry_string(self, key, name):
        """A string value of the machine's or the user's registry
        (HKEY_LOCAL_MACHINE\\... or HKEY_CURRENT_USER\\..., or HKLM and HKCU)."""
        root, _, wanted = key.partition("\\")
        start = '"%s"="' % name.lower()
        for found, lines in self.registry(self.ROOT_FILES[root.lower()]).items():
            if found.lower() == wanted.lower():
                for line in lines:
                    if line.lower().startswith(start):
                        return line[len(start):-1].replace('\\"', '"').replace("\\\\", "\\")
        return None

    def isolate(self):
        """Cuts the prefix off from the Linux files: every drive or device
        whose folder lies outside the prefix (Z:, the Linux root, among them)
        is removed, and the host's own files go through RUN_DRIVE, the
        prefix's own folder, which the monitor never watches (Wine is told it
        is a network drive). From then on its Wine processes run in a
        sandbox (see sandboxed), which Wine's paths to Linux files cannot
        leave. The prefix must not be running. Returns the removed links,
        for put_back."""
        require_sandbox()
        self.settle()
        os.makedirs(self.sandbox_tmp(), exist_ok=True)
        devices = os.path.join(self.path, "dosdevices")
        inside = os.path.realpath(self.path) + os.sep
        removed = []
        for name in sorted(os.listdir(devices)):
            link = os.path.join(devices, name)
            if os.path.islink(link) and not os.path.realpath(link).startswith(inside):
                removed.append((link, os.readlink(link)))
                os.remove(link)
        run_drive = os.path.join(devices, RUN_DRIVE)
        if not os.path.lexists(run_drive):
            os.symlink("..", run_drive)
        if self.registry_string(DRIVES_KEY, RUN_DRIVE) != "network":
            with open(os.path.join(self.path, "system.reg"), "a", encoding="utf-8") as stream:
                stream.write('\n[%s] 0\n"%s"="network"\n'
                             % (DRIVES_KEY.split("\\", 1)[1].replace("\\", "\\\\"), RUN_DRIVE))
        os.makedirs(self.run_file(""), exist_ok=True)
        return removed

    def put_back(self, removed):
        """The links that isolate removed, as they were, and the prefix out of
        its sandbox (its Wine processes have ended)."""
        os.remove(os.path.join(self.path, "dosdevices", RUN_DRIVE))
        shutil.rmtree(self.sandbox_tmp(), ignore_errors=True)
        for link, target in removed:
            if not os.path.lexists(link):
                os.symlink(target, link)

    def run_file(self, name):
        """A file of an isolated run's host (report, transcript, items)."""
        return os.path.join(self.path, RUN_FOLDER, name)

    @staticmethod
    def run_file_windows(name):
        return "%s\\%s\\%s" % (RUN_DRIVE.upper(), RUN_FOLDER, name)

    def stage_host(self, binaries=BIN):
        """A copy of the host and its libraries in the run folder: without a
        drive for the Linux files, Wine finds them only inside the prefix.
        Returns the copy's folder, for run_host."""
        folder = self.run_file("bin")
        os.makedirs(folder, exist_ok=True)
        for name in HOST_FILES:
            shutil.copy(os.path.join(binaries, name), folder)
        return folder

    def stage(self, setup):
        """A copy of the setup file in the prefix's drive C:, as Windows
        sees it there; a name such as msiexec.exe is left for Windows to find."""
        if not os.path.isfile(setup):
            return setup
        folder = self.drive_c(STAGED_SETUPS)
        os.makedirs(folder, exist_ok=True)
        shutil.copy(setup, folder)
        return staged_path(setup)

    def processes(self):
        """What runs in this prefix, one "PID COMMAND" text each."""
        found = []
        marker = ("WINEPREFIX=" + self.path).encode()
        ours = own_lineage()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/environ" % pid, "rb") as stream:
                    if marker not in stream.read().split(b"\0"):
                        continue
                with open("/proc/%s/cmdline" % pid, "rb") as stream:
                    command = stream.read().replace(b"\0", b" ").decode(errors="replace")
            except OSError:
                continue  # ended meanwhile, or not ours to read
            if int(pid) not in ours:
                found.append("%s %s" % (pid, " ".join(command.split())))
        return found

    def leftovers(self):
        """What runs in the prefix apart from Wine's own background programs."""
        return [p for p in self.processes() if not is_wine_service(p.split(" ", 1)[1])]

    def end_leftovers(self, grace=LEFTOVER_SECONDS):
        """After the host: what setup left running (a folder window, a
        service) gets a few seconds to end, then it is ended with everything
        in the prefix and named. Returns what was ended."""
        deadline = time.monotonic() + grace
        left = self.leftovers()
        while left and time.monotonic() < deadline:
            time.sleep(0.2)
            left = self.leftovers()
        if left:
            say("trun95: still running after the host ended; it is ended:\n  " + "\n  ".join(left))
            self.kill()
        return left

    def kill(self):
        run_bounded(self.command([WINESERVER, "-k"]), STEP_SECONDS, env=self.env(), check=False,
                    stderr=subprocess.DEVNULL)

    def settle(self, seconds=SETTLE_SECONDS):
        """Waits until the prefix's wineserver has written the registry and
        ended. A prefix still busy after the bound is ended, and what ran in it
        is said; the result tells whether it ended by itself."""
        try:
            subprocess.run(self.command([WINESERVER, "-w"]), env=self.env(), timeout=seconds,
                           check=False)
            return True
        except subprocess.TimeoutExpired:
            running = self.processes()
            say("trun95: Wine in %s had not ended after %d s; ending what still ran:\n  %s"
                % (self.path, seconds, "\n  ".join(running) or "(no process left)"))
            self.kill()
            return False


def links_below(folder, depth):
    """Symbolic links in folder and up to depth levels below it."""
    try:
        entries = list(os.scandir(folder))
    except OSError:
        return []
    found = [e.path for e in entries if e.is_symlink()]
    if depth > 1:
        for entry in entries:
            if entry.is_dir(follow_symlinks=False):
                found += links_below(entry.path, depth - 1)
    return found


def is_wine_service(command):
    """Whether a process of a prefix is one of Wine's background programs,
    which end by themselves a little after the last program."""
    program = command.split(" ", 1)[0].replace("\\", "/").rsplit("/", 1)[-1].lower()
    if program == "explorer.exe":
        return "/desktop" in command  # a folder window is the user's
    return program in WINE_SERVICES or program.startswith("wineserver")


def own_lineage():
    """This process and the ones that started it: they may carry the prefix in
    their environment, but they do not run in it."""
    pids = [os.getpid()]
    while pids[-1] > 1:
        with open("/proc/%d/stat" % pids[-1]) as stream:
            # The parent follows the command's name, which is in parentheses.
            pids.append(int(stream.read().rsplit(")", 1)[1].split()[1]))
    return set(pids)


class HostRun:
    """One run of tarnel32.exe in a prefix: its exit status, what it printed
    (without Wine's noise) and whether it was stopped at its bound."""

    def __init__(self, status, lines, stopped):
        self.status = status
        self.lines = lines
        self.stopped = stopped

    @property
    def text(self):
        return "".join(self.lines)


def host_bound(arguments):
    """How long a host run may take: its own --timeout when unattended, with room
    for Wine's start and the session's end; a working day with a person."""
    unattended = any(a.startswith("--unattended=") for a in arguments)
    given = [a.split("=", 1)[1] for a in arguments if a.startswith("--timeout=")]
    if given and given[-1].isdigit():
        return int(given[-1]) + HOST_MARGIN_SECONDS
    return UNATTENDED_SECONDS + HOST_MARGIN_SECONDS if unattended else INTERACTIVE_SECONDS


def run_host(prefix, arguments, out=None, merge_output=False, quiet_wine=True, transcript=None,
             env=None, binaries=BIN, seconds=None):
    """Runs the host with arguments in the prefix, collecting what it writes to
    standard error (and, with merge_output, to standard output) and copying it
    into out as it comes (None: standard error, False: nowhere).

    The run is bounded (seconds, else host_bound); a host that outlives its bound is ended
    with everything in the prefix, and what ran there and the transcript so
    far are said. Then what setup left running is ended (Prefix.end_leftovers)
    and the prefix settles, unless the prefix was in use before the host
    started (another session, which a second host refuses at once): that is
    neither waited for nor ended."""
    out = sys.stderr if out is None else out
    command = prefix.command([WINE, os.path.join(binaries, "tarnel32.exe")] + list(arguments))
    # Another session's programs: not this run's to wait for or to end.
    shared = bool(prefix.leftovers())
    lines = []
    stdout = subprocess.PIPE if merge_output else None
    stderr = subprocess.STDOUT if merge_output else (subprocess.PIPE if quiet_wine else None)
    process = subprocess.Popen(command, env=env or prefix.env(), stdout=stdout, stderr=stderr)
    pipe = process.stdout if merge_output else process.stderr
    copier = threading.Thread(target=copy_lines, args=(pipe, out, lines), daemon=True)
    if pipe:
        copier.start()
    seconds = seconds or host_bound(arguments)
    stopped = False
    try:
        process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        stopped = True
        say_stopped(prefix, seconds, transcript)
        process.kill()
        prefix.kill()
        process.wait(timeout=SETTLE_SECONDS)
    if not shared:
        prefix.end_leftovers()
        # Wine's services take seconds to end by themselves and hold nothing
        # of the session's: the wineserver writes the registry as it ends.
        prefix.kill()
        prefix.settle()
    if pipe:
        # Wine's services hold the pipe until they end, which settle waited
        # for; services of another session never had it.
        copier.join(timeout=SETTLE_SECONDS)
    return HostRun(GIVEN_UP if stopped else process.returncode, lines, stopped)


def copy_lines(pipe, out, lines):
    for raw in pipe:
        line = raw.decode("utf-8", "surrogateescape")
        if WINE_NOISE not in line:
            lines.append(line)
            if out:
                say(line.rstrip("\n"), out)


def say_stopped(prefix, seconds, transcript):
    say("trun95: the host had not ended after %d s; it is ended. Running in the prefix:\n  %s"
        % (seconds, "\n  ".join(prefix.processes()) or "(no process)"))
    if transcript and os.path.exists(transcript):
        say("trun95: the host's transcript so far:\n" + read_text(transcript))


def find_paths(root, patterns):
    """Paths below root that match any of the patterns, as find(1) lists them."""
    found = []
    try:
        entries = list(os.scandir(root))
    except OSError:
        return found
    for entry in entries:
        if any(fnmatch.fnmatchcase(entry.path, pattern) for pattern in patterns):
            found.append(entry.path)
        if entry.is_dir(follow_symlinks=False):
            found += find_paths(entry.path, patterns)
    return found


def main(argv):
    if argv[:1] == ["settle"] and len(argv) <= 2:
        seconds = int(argv[1]) if len(argv) == 2 else SETTLE_SECONDS
        return 0 if Prefix(os.environ["WINEPREFIX"]).settle(seconds) else 1
    say("usage: trun95lib.py settle [SECONDS]")
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
