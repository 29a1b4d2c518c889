#!/usr/bin/env python3
"""What a setup program does, and what its own uninstaller leaves behind.

  check [--json=FILE] [--timeout=SECONDS] [--prefix=DIR] [--quiet] SETUP [ARGS...]
  check-all DIR [--json=FILE] [--timeout=SECONDS] [--prefix=DIR] [--quiet]
            [--exe-args=ARGS]

Started by the launcher (./trun95 check, ./trun95 check-all), which has built
the host and set up Wine's environment. Each check works in two throwaway
copies of the base prefix, which itself is never changed:
  footprint: setup runs under watch; the session declines the program's own
             uninstaller, writes its report and undoes nothing;
  residue:   setup runs again in a fresh copy; the session runs the program's
             registered uninstaller, then writes the report of what is still
             on offer, undoing nothing.
Exit status: 0 clean, 1 something left behind, else the host's own status
(2 bad arguments or setup cannot start, 3 the session could not begin, ...).
The JSON format is described in docs/check.md.
"""

import json
import os
import re
import shutil
import sys
import tempfile
import time

from trun95lib import (Prefix, default_prefix, leading_options, msiexec_command, run_host,
                       setup_path, windows_path)

# Where the throwaway prefixes go; when set, they are kept there for a look
# afterwards (DIR/SETUP-NAME/footprint, .../residue).
KEEP_IN = os.environ.get("TRUN95_CHECK_WORK")
FORMAT_VERSION = 1
UNINSTALL_KEY = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
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


class CheckFailed(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


def say(text=""):
    print(text, flush=True)


def setup_command(setup, arguments):
    """The command as Windows sees it: a package goes through msiexec."""
    if setup.lower().endswith(".msi") and os.path.exists(setup):
        return msiexec_command(setup) + arguments
    return [setup_path(setup)] + arguments


class Run:
    """One session in a throwaway copy of the base prefix."""

    def __init__(self, base, work, name):
        self.folder = os.path.join(work, name)
        os.makedirs(self.folder)
        self.prefix = Prefix.copy_of(base, os.path.join(self.folder, "prefix"), headless=True)

    def file(self, name):
        return os.path.join(self.folder, name)

    def host(self, policy, command, options):
        arguments = ["--unattended=" + policy,
                     "--report=" + windows_path(self.file("report.txt")),
                     "--transcript=" + windows_path(self.file("transcript.txt")),
                     "--items=" + windows_path(self.file("items.txt"))]
        return run_host(self.prefix, arguments + options + command, out=sys.stdout,
                        transcript=self.file("transcript.txt")).status

    def items(self):
        items = []
        with open(self.file("items.txt"), encoding="latin-1") as stream:
            for line in stream.read().splitlines():
                kind, obj, text = (line.split("\t", 2) + ["", ""])[:3]
                if kind == "caution":
                    quoted = re.search(r'"([^"]+)"', text)
                    obj = quoted.group(1) if quoted else ""
                items.append({"kind": kind, "object": obj, "text": text})
        return items

    def transcript(self):
        path = self.file("transcript.txt")
        return open(path, encoding="latin-1").read().splitlines() if os.path.exists(path) else []


def run_session(run, policy, command, args):
    if not args["quiet"]:
        say("== %s ==" % ("footprint: setup under watch, nothing undone" if policy == "report-only"
                          else "residue: setup, then the program's own uninstaller"))
    status = run.host(policy, command, args["host_options"])
    if status != 0:
        raise CheckFailed(status, "the host ended with status %d in the %s run" % (status, policy))
    return run.items()


def split_cautions(items):
    return ([i for i in items if i["kind"] != "caution"], [i for i in items if i["kind"] == "caution"])


def check(setup, arguments, args):
    """One setup program: its footprint, its residue and what it says about them."""
    command = setup_command(setup, arguments)
    result = {"version": FORMAT_VERSION, "setup": command, "status": "failed",
              "exitStatus": None, "ownUninstaller": None, "footprint": [], "residue": [],
              "cautions": {"footprint": [], "residue": []}, "leftBehind": None, "note": ""}
    if KEEP_IN:
        work = os.path.join(KEEP_IN, os.path.basename(setup))
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
    else:
        work = tempfile.mkdtemp(prefix="trun95-check-")
    started = time.monotonic()
    try:
        footprint_run = Run(args["prefix"], work, "footprint")
        footprint = run_session(footprint_run, "report-only", command, args)
        # The library writes the root keys as "Hkey_local_machine".
        uninstall_keys = [i["object"] for i in footprint
                          if i["kind"] == "registry" and i["text"].startswith("Key Added")
                          and i["object"].lower().startswith(UNINSTALL_KEY.lower())
                          and "\\" not in i["object"][len(UNINSTALL_KEY):]]
        registered = [footprint_run.prefix.registry_string(key, "UninstallString")
                      for key in uninstall_keys]
        if registered:
            residue_run = Run(args["prefix"], work, "residue")
            residue = run_session(residue_run, "own-then-report", command, args)
            ran = any(line.startswith(OWN_UNINSTALLER_CAPTION + "\t" + OWN_UNINSTALLER_OFFER)
                      and line.endswith("\tYes") for line in residue_run.transcript())
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
    finally:
        for name in ("footprint", "residue"):
            Prefix(os.path.join(work, name, "prefix")).kill()
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


def parse(argv):
    """Options first, then the setup program (or folder) and its arguments."""
    args = {"json": None, "prefix": default_prefix(), "quiet": False, "host_options": [],
            "exe_args": ["/S"]}
    options, argv = leading_options(argv)
    for option, name, value in options:
        if name == "--json" and value:
            args["json"] = os.path.abspath(value)
        elif name == "--prefix" and value:
            args["prefix"] = os.path.abspath(value)
        elif name == "--timeout" and value.isdigit():
            args["host_options"].append(option)
        elif option == "--quiet":
            args["quiet"] = True
            args["host_options"].append(option)
        elif name == "--exe-args":
            args["exe_args"] = value.split()
        else:
            raise CheckFailed(2, "unknown or incomplete option " + option)
    if not argv:
        raise CheckFailed(2, "no setup program given")
    base = Prefix(args["prefix"])
    if args["prefix"] == default_prefix() and not base.exists():
        # The launcher's prefix is made on first use, as for any other run;
        # an existing one is left exactly as it is.
        base.make("null")
    if not base.exists():
        raise CheckFailed(2, "no Windows prefix in " + args["prefix"])
    return args, argv


def setups_in(folder):
    names = sorted(n for n in os.listdir(folder) if n.lower().endswith((".exe", ".msi")))
    return [os.path.join(folder, n) for n in names]


def check_all(folder, args):
    if not os.path.isdir(folder):
        raise CheckFailed(2, "no folder " + folder)
    results = []
    for setup in setups_in(folder):
        arguments = args["exe_args"] if setup.lower().endswith(".exe") else []
        results.append(check(setup, arguments, args))
        say("\n".join(summary(results[-1])) + "\n")
    say("%-32s %9s %8s  %s" % ("setup", "footprint", "residue", "status"))
    for setup, result in zip(setups_in(folder), results):
        counted = result["status"] != "failed"
        say("%-32s %9s %8s  %s" % (
            os.path.basename(setup)[:32],
            len(result["footprint"]) + len(result["cautions"]["footprint"]) if counted else "-",
            result["leftBehind"] if counted else "-",
            result["status"] if counted else "failed (%d)" % result["exitStatus"]))
    if args["json"]:
        write_json(args["json"], {"version": FORMAT_VERSION, "checks": results})
    failures = [r["exitStatus"] for r in results if r["status"] == "failed"]
    return failures[0] if failures else int(any(r["status"] == "residue" for r in results))


def main(argv):
    command = argv.pop(0) if argv else ""
    try:
        args, rest = parse(argv)
        if command == "check-all":
            return check_all(rest[0], args)
        result = check(rest[0], rest[1:], args)
        say("\n".join(summary(result)))
        if args["json"]:
            write_json(args["json"], result)
        return result["exitStatus"]
    except CheckFailed as failure:
        print("trun95 %s: %s" % (command, failure), file=sys.stderr)
        return failure.status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
