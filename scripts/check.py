#!/usr/bin/env python3
"""What a setup program does, and what its own uninstaller leaves behind.

  check SETUP [ARGS...], check-all DIR, check-merge RESULT.json...
  (their options: trun95 help check, and so on; scripts/usage.py)

Started by the launcher (./trun95 check, ./trun95 check-all), which has built
the host and set up Wine's environment. Each check works in one throwaway
copy of the base prefix, which itself is never changed, cut off from the
Linux files (Prefix.isolate; its Wine processes in a sandbox) with the setup
program copied into it. Setup runs under watch; the session compares and
writes what setup made (the footprint), runs the program's registered
uninstaller, compares again and writes what is still on offer (the residue),
undoing nothing.
Exit status: 0 clean, 1 something left behind, 7 the check itself failed,
else the host's own status (2 bad arguments or setup cannot start, 3 the
session could not begin, ...).
The JSON format is described in docs/check.md.
"""

import concurrent.futures
import json
import os
import re
import shutil
import sys
import tempfile
import threading
import time

import check_formats
from trun95lib import (SETUP_POLICIES, VERBOSE, Prefix, Refused, cannot_run, default_prefix,
                       file_name_problem, parse_options, phase, programs_for, require_sandbox,
                       run_host, staged_path)

# Where the throwaway prefixes go; when set, they are kept there for a look
# afterwards (DIR/SETUP-NAME/run/prefix).
KEEP_IN = os.environ.get("TRUN95_CHECK_WORK")
RUN_FOLDER = "run"
FORMAT_VERSION = 1
# The summary's groups, in the order in which they are shown, and the item
# kinds of the host's item list in each.
GROUPS = [("files and folders", ("file", "folder")),
          ("groups and icons", ("group", "icon")),
          ("INI and start-up file changes", ("restore",)),
          ("registry keys and values", ("registry",)),
          ("cautions", ("caution",))]
# The caption of the library's questions about a program's own uninstaller.
OWN_UNINSTALLER_CAPTION = "Program Uninstall Detected"
OWN_UNINSTALLER_OFFER = "The installed program ("
# Wine's own settings, which it writes when a program shows its windows
# (its temporary system parameters): never a setup's doing, left out.
WINE_OWN_KEY = re.compile(r"^Hkey_(current_user|users\\[^\\]+)\\Software\\Wine(\\|$)", re.I)
# The status of a check that failed in itself (a copy that could not be
# made, an error of this script): no status of the host's means it.
CHECK_BROKE = 7
# What each command takes; check-all's options may come anywhere, check's
# end at the setup program, whose own arguments follow it.
CHECK_OPTIONS = {"--json": "text", "--junit": "text", "--html": "text", "--timeout": "count",
                 "--prefix": "text", "--quiet": "flag", "--verbose": "flag", "--setup": "text"}
CHECK_ALL_OPTIONS = dict(CHECK_OPTIONS, **{"--exe-args": "text", "--jobs": "count",
                                           "--shard": "text"})
MERGE_OPTIONS = {"--json": "text", "--junit": "text", "--html": "text"}


class CheckFailed(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


# Lines of checks that run side by side do not mix.
SAYING = threading.Lock()


def say(text=""):
    with SAYING:
        print(text, flush=True)


def setup_command(setup, arguments):
    """The command as Windows sees it in an isolated copy, where the setup
    file is staged into drive C:: a package goes through msiexec, a batch
    file through cmd.exe."""
    if not os.path.isfile(setup):
        return [setup] + arguments
    staged = staged_path(setup)
    if setup.lower().endswith(".msi"):
        return ["msiexec.exe", "/i", staged, "/qn"] + arguments
    if setup.lower().endswith((".cmd", ".bat")):
        return ["cmd.exe", "/c", staged] + arguments
    return [staged] + arguments


class Run:
    """The session in an isolated throwaway copy of the base prefix."""

    def __init__(self, base, work, setup):
        self.folder = os.path.join(work, RUN_FOLDER)
        os.makedirs(self.folder)
        self.prefix = Prefix.copy_of(base, os.path.join(self.folder, "prefix"), headless=True)
        self.prefix.isolate()
        self.binaries = self.prefix.stage_host(programs_for(setup))
        self.prefix.stage(setup)

    def file(self, name):
        return self.prefix.run_file(name)

    def host(self, command, options, out):
        arguments = ["--unattended=own-then-report"] + [
            "--%s=%s" % (name, Prefix.run_file_windows(file_name))
            for name, file_name in (("report", "report.txt"), ("transcript", "transcript.txt"),
                                    ("items", "items.txt"),
                                    ("footprint-items", "footprint.txt"))]
        return run_host(self.prefix, arguments + options + command, out=out,
                        transcript=self.file("transcript.txt"), binaries=self.binaries).status

    def items(self, name):
        """The items of the host's list, and the registered uninstallers that
        the footprint list names after them (their UninstallString, None
        when an entry has none)."""
        items, uninstallers = [], []
        if not os.path.exists(self.file(name)):
            raise CheckFailed(CHECK_BROKE, "the session wrote no %s" % name)
        with open(self.file(name), encoding="latin-1") as stream:
            for line in stream.read().splitlines():
                kind, obj, text = (line.split("\t", 2) + ["", ""])[:3]
                if kind == "uninstaller":
                    uninstallers.append(text or None)
                    continue
                if kind == "caution":
                    quoted = re.search(r'"([^"]+)"', text)
                    obj = quoted.group(1) if quoted else ""
                if kind == "registry" and WINE_OWN_KEY.match(obj):
                    continue
                items.append({"kind": kind, "object": obj, "text": text})
        return items, uninstallers


def transcript_lines(path):
    return open(path, encoding="latin-1").read().splitlines() if os.path.exists(path) else []


def run_session(run, command, args):
    shown = not args["quiet"]
    if shown:
        say("== setup under watch, then the program's own uninstaller; nothing undone ==")
    phase("prefix copy ready")
    status = run.host(command, args["host_options"],
                      sys.stdout if shown and args["jobs"] == 1 else False)
    phase("host ended")
    if status != 0:
        raise CheckFailed(status, "the host ended with status %d" % status)


def split_cautions(items):
    return ([i for i in items if i["kind"] != "caution"], [i for i in items if i["kind"] == "caution"])


def check(setup, arguments, args):
    """One setup program: its footprint, its residue and what it says about them."""
    command = setup_command(setup, arguments)
    result = {"version": FORMAT_VERSION, "setup": command, "status": "failed",
              "exitStatus": None, "ownUninstaller": None, "footprint": [], "residue": [],
              "cautions": {"footprint": [], "residue": []}, "leftBehind": None, "note": ""}
    if cannot_run(setup):
        # A setup of check-all's folder that this machine cannot run.
        return dict(result, note=cannot_run(setup), exitStatus=2, seconds=0.0)
    if KEEP_IN:
        work = os.path.join(KEEP_IN, os.path.basename(setup))
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
    else:
        work = tempfile.mkdtemp(prefix="trun95-check-")
    started = time.monotonic()
    try:
        run = Run(args["prefix"], work, setup)
        run_session(run, command, args)
        footprint, registered = run.items("footprint.txt")
        if registered:
            residue = run.items("items.txt")[0]
            ran = any(line.startswith(OWN_UNINSTALLER_CAPTION + "\t" + OWN_UNINSTALLER_OFFER)
                      and line.endswith("\tYes")
                      for line in transcript_lines(run.file("transcript.txt")))
        else:
            residue, ran = footprint, False
            result["note"] = "no uninstaller registered"
        result["ownUninstaller"] = {"registered": registered[0] if registered else None,
                                    "ran": ran, "exitStatus": None}
        result["footprint"], result["cautions"]["footprint"] = split_cautions(footprint)
        result["residue"], result["cautions"]["residue"] = split_cautions(residue)
        result["leftBehind"] = len(residue)
        result["status"] = "clean" if not residue else "residue"
        result["exitStatus"] = 0 if not residue else 1
    except CheckFailed as failure:
        result["note"] = str(failure)
        result["exitStatus"] = failure.status
    except Exception as failure:  # the check's own fault, said in its result
        result["note"] = "the check failed: %s" % failure
        result["exitStatus"] = CHECK_BROKE
    finally:
        Prefix(os.path.join(work, RUN_FOLDER, "prefix")).kill()
        if not KEEP_IN:
            shutil.rmtree(work, ignore_errors=True)
    result["seconds"] = round(time.monotonic() - started, 1)
    return result


def group_counts(items):
    return [(name, [i for i in items if i["kind"] in kinds]) for name, kinds in GROUPS]


def summary(result):
    lines = ["Setup: " + " ".join(result["setup"])]
    if result["status"] == "failed":
        return lines + ["failed: " + result["note"]]
    footprint = result["footprint"] + result["cautions"]["footprint"]
    residue = result["residue"] + result["cautions"]["residue"]
    lines.append("Footprint: %d items" % len(footprint))
    lines += ["  %-31s %3d" % (name, len(items)) for name, items in group_counts(footprint)]
    own = result["ownUninstaller"]
    if own["registered"]:
        lines.append("Own uninstaller: %s (%s)" % (own["registered"],
                                                   "ran" if own["ran"] else "did not run"))
    else:
        lines.append("Own uninstaller: none: no uninstaller registered")
    lines.append("Residue: %d items" % len(residue))
    for name, items in group_counts(residue):
        lines.append("  %-31s %3d" % (name, len(items)))
        lines += ["      " + item["text"] for item in items]
    lines.append("clean" if not residue else "%d items left behind" % len(residue))
    return lines


def write_json(path, document):
    with open(path, "w", encoding="utf-8") as stream:
        json.dump(document, stream, indent=2)
        stream.write("\n")


def parse(command, argv):
    """The options of check (before the setup program) or check-all
    (anywhere), checked before anything runs; the other arguments."""
    options, rest = parse_options(argv, CHECK_ALL_OPTIONS if command == "check-all"
                                  else CHECK_OPTIONS, anywhere=command == "check-all")
    args = {"json": None, "junit": None, "html": None, "prefix": default_prefix(), "quiet": False,
            "host_options": [], "exe_args": ["/S"], "jobs": 1, "shard": (1, 1)}
    # The unattended user answers setup's own boxes and wizard pages unless
    # told to wait.
    setup_policy = dict(options).get("--setup", "answer")
    if setup_policy not in SETUP_POLICIES:
        raise Refused("unknown setup policy %s (one of: %s)"
                      % (setup_policy, ", ".join(SETUP_POLICIES)))
    args["host_options"].append("--setup=" + setup_policy)
    for name, value in options:
        if name in ("--json", "--junit", "--html", "--prefix"):
            args[name[2:]] = os.path.abspath(value)
        elif name == "--timeout":
            args["host_options"].append("--timeout=" + value)
        elif name == "--quiet":
            args["quiet"] = True
            args["host_options"].append(name)
        elif name == "--exe-args":
            args["exe_args"] = value.split()
        elif name == "--jobs":
            args["jobs"] = int(value)
        elif name == "--shard":
            args["shard"] = parse_shard(value)
        elif name == "--verbose":
            VERBOSE[0] = True
    if command == "check-all" and not any(n == "--jobs" for n, _ in options):
        args["jobs"] = os.cpu_count() or 1
    for path in filter(None, (args["json"], args["junit"], args["html"])):
        if file_name_problem(path):
            raise Refused("cannot write %s: %s" % (path, file_name_problem(path)))
    if not rest:
        raise Refused("no setup program given" if command == "check" else "no folder given")
    if command == "check-all" and (len(rest) > 1 or not os.path.isdir(rest[0])):
        raise Refused("check-all takes one folder, not: " + " ".join(rest))
    if command == "check" and not os.path.isfile(rest[0]) and os.path.sep in rest[0]:
        raise Refused("no setup program " + rest[0])
    require_sandbox()
    base = Prefix(args["prefix"])
    if args["prefix"] == default_prefix() and not base.exists():
        # The launcher's prefix is made on first use, as for any other run;
        # an existing one is left exactly as it is.
        base.make("null")
    if not base.exists():
        raise Refused("no Windows prefix in " + args["prefix"])
    return args, rest


def parse_shard(text):
    """K/N: the K-th of N slices, 1 <= K <= N."""
    part, _, count = text.partition("/")
    if not (part.isdigit() and count.isdigit() and 1 <= int(part) <= int(count)):
        raise Refused("--shard takes K/N with 1 <= K <= N, not " + text)
    return int(part), int(count)


def setups_in(folder, shard=(1, 1)):
    """The folder's setups in name order; of N shards, the K-th takes every
    N-th from the K-th on, so that shards of a sorted list stay alike."""
    names = sorted(n for n in os.listdir(folder) if n.lower().endswith((".exe", ".msi")))
    part, count = shard
    return [os.path.join(folder, n) for n in names[part - 1::count]]


def say_table(results):
    say("%-32s %9s %8s  %s" % ("setup", "footprint", "residue", "status"))
    for result in results:
        counted = result["status"] != "failed"
        say("%-32s %9s %8s  %s" % (
            setup_name(result)[:32],
            len(result["footprint"]) + len(result["cautions"]["footprint"]) if counted else "-",
            result["leftBehind"] if counted else "-",
            result["status"] if counted else "failed (%d)" % result["exitStatus"]))


def setup_name(result):
    """The setup file's name, from the command as Windows saw it."""
    command = result["setup"]
    path = command[2] if command[0].lower() in ("msiexec.exe", "cmd.exe") else command[0]
    return path.replace("\\", "/").rsplit("/", 1)[-1]


def overall_status(results):
    """The first failure's status, else 1 when anything is left behind, else 0."""
    failures = [r["exitStatus"] for r in results if r["status"] == "failed"]
    return failures[0] if failures else int(any(r["status"] == "residue" for r in results))


def check_all(folder, args):
    setups = setups_in(folder, args["shard"])

    def check_one(setup):
        arguments = args["exe_args"] if setup.lower().endswith(".exe") else []
        result = check(setup, arguments, args)
        say("\n".join(summary(result)) + "\n")
        return result

    # Each check has prefix copies of its own, so they can run side by side.
    with concurrent.futures.ThreadPoolExecutor(max_workers=args["jobs"]) as pool:
        results = list(pool.map(check_one, setups))
    say_table(results)
    if args["json"]:
        write_json(args["json"], {"version": FORMAT_VERSION, "checks": results})
    check_formats.write_requested(args, results)
    return overall_status(results)


def merge(paths, args):
    """check-all results (or single checks) joined into one check-all file."""
    results = []
    for path in paths:
        with open(path, encoding="utf-8") as stream:
            document = json.load(stream)
        if document.get("version") != FORMAT_VERSION:
            raise Refused("%s is not a check result of version %d" % (path, FORMAT_VERSION))
        results += document["checks"] if "checks" in document else [document]
    results.sort(key=setup_name)
    say_table(results)
    document = {"version": FORMAT_VERSION, "checks": results}
    if args["json"]:
        write_json(args["json"], document)
    check_formats.write_requested(args, results)
    return overall_status(results)


def main(argv):
    command = argv.pop(0) if argv else ""
    try:
        if command == "check-merge":
            options, paths = parse_options(argv, MERGE_OPTIONS, anywhere=True)
            missing = [p for p in paths if not os.path.isfile(p)]
            if not paths or missing:
                raise Refused("check-merge takes result files; missing: %s"
                              % (" ".join(missing) or "all"))
            return merge(paths, {name[2:]: dict(options).get(name) for name in MERGE_OPTIONS})
        args, rest = parse(command, argv)
        if command == "check-all":
            return check_all(rest[0], args)
        result = check(rest[0], rest[1:], args)
        say("\n".join(summary(result)))
        if args["json"]:
            write_json(args["json"], result)
        check_formats.write_requested(args, [result])
        return result["exitStatus"]
    except Refused as refused:
        print("trun95 %s: %s" % (command, refused), file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
