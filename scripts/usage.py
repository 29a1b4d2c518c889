"""The launcher's front door: its usage texts, --help, help COMMAND,
--version, and what is made from the same texts at build time, the manual
page trun95(1) and the bash completion.

Each command's synopsis is made from the option table its parser uses
(launcher.OPTION_TABLES), so that what --help shows is what is taken.

Run as a program (by the build): usage.py man FILE | completion FILE
"""

import os
import sys
import textwrap

from trun95lib import INSTALLED, ROOT, say

# Each command: its arguments after the options, and what it does.
COMMANDS = {
    "SETUP.EXE": ("[ARGS...]", "watch a setup program, then choose what to undo; unattended "
                  "with --unattended=POLICY"),
    "install": ("SETUP.EXE [ARGS...]", "watch setup and keep the program: what the undo needs "
                "later is saved as an install log"),
    "list": ("", "the programs with install logs"),
    "uninstall": ("NAME", "uninstall a program from its install log"),
    "check": ("SETUP.EXE [ARGS...]", "what setup does, and what its own uninstaller leaves "
              "behind (exit 0 clean, 1 residue)"),
    "check-all": ("DIR", "the same for every *.exe and *.msi in DIR, N at once; options may "
                  "follow DIR"),
    "check-merge": ("RESULT.json...", "check-all results joined into one"),
    "standalone": ("", "the library's own small dialog, no setup program"),
    "demo": ("", "install and uninstall the bundled Acme Notes sample unattended and print "
             "the report"),
    "help": ("[COMMAND]", "the commands, or one command's options"),
}
# What each option's value is called, and what the option does.
OPTIONS = {
    "--unattended": ("POLICY", "answer every question of the session by POLICY"),
    "--report": ("FILE", "save the session's report as FILE"),
    "--transcript": ("FILE", "write each question and its answer to FILE"),
    "--timeout": ("SECONDS", "give an unattended run up after SECONDS (status 5; default 1800)"),
    "--quiet": ("", "show no progress lines, only the outcome"),
    "--verbose": ("", "show the seconds since the start at each phase"),
    "--setup": ("answer|wait", "answer setup's own boxes and wizard pages, or leave them alone"),
    "--isolate": ("", "no drive of the prefix reaches the Linux files during the run"),
    "--name": ("NAME", "the name the install log goes by"),
    "--names": ("", "only the names, one a line"),
    "--json": ("FILE", "write the result as JSON (docs/check.md, check.schema.json)"),
    "--junit": ("FILE", "write the result as JUnit XML, one test case per setup"),
    "--html": ("FILE", "write the result as one self-contained HTML page"),
    "--prefix": ("DIR", "the base Windows prefix to copy (default: the launcher's)"),
    "--exe-args": ("ARGS", "the arguments of each .exe (default /S)"),
    "--jobs": ("N", "check N setups at once (default: the number of cores)"),
    "--shard": ("K/N", "check only the K-th of N slices of the sorted folder"),
}
POLICY_TEXTS = {
    "all": "undo everything on offer",
    "own-then-continue": "run the program's own uninstaller, then undo what is left",
    "own-then-stop": "run the program's own uninstaller and stop there",
    "cancel": "undo nothing",
    "report-only": "decline the own uninstaller, save the report, undo nothing",
    "own-then-report": "run the own uninstaller, then save the report of what is left",
}
EXIT_STATUSES = [
    (0, "the session ran to its end; for check: clean"),
    (1, "the session was abandoned after an internal failure; for check: something is left "
        "behind"),
    (2, "bad arguments, or the setup program could not be started"),
    (3, "the session could not begin (another one runs in the prefix)"),
    (4, "the host was closed before setup had finished"),
    (5, "the unattended run was given up at its --timeout"),
    (6, "the install log was refused (damaged, or of another format)"),
    (7, "the check itself failed"),
]
INTRO = ("trun95 runs a Windows setup program under Wine, watched by the install-monitoring "
         "uninstaller TRUN95, and offers to undo what it did. Options come before SETUP.EXE "
         "(what follows it is the setup's own), for check-all anywhere.")
# The width of the texts in a terminal.
WIDTH = 79


def synopsis(command, table):
    """One command's usage line, from the option table its parser takes."""
    words = ["trun95"] + ([] if command == "SETUP.EXE" else [command])
    for name in table:
        value = OPTIONS[name][0]
        shown = "-j N" if name == "--jobs" else name + ("=" + value if value else "")
        words.append("[%s]" % shown)
    arguments = COMMANDS[command][0]
    words += ([command] if command == "SETUP.EXE" else []) + ([arguments] if arguments else [])
    return " ".join(words)


def overview(tables):
    lines = ["usage: trun95 COMMAND [OPTIONS] [ARGUMENTS]",
             "       trun95 [OPTIONS] SETUP.EXE [ARGS...]", "",
             textwrap.fill(INTRO, WIDTH, break_on_hyphens=False), "", "commands:"]
    lines += [textwrap.fill(text, WIDTH, initial_indent="  %-12s " % command,
                            subsequent_indent=" " * 15)
              for command, (_, text) in COMMANDS.items()]
    lines += ["", "  --help, -h   this text; COMMAND --help: a command's options",
              "  --version    the launcher's, the library's and the package's version", "",
              "Run 'trun95 help COMMAND' for a command's options."]
    return "\n".join(lines)


def option_shown(name):
    value = OPTIONS[name][0]
    return "-j N, --jobs=N" if name == "--jobs" else name + ("=" + value if value else "")


def command_help(command, tables):
    lines = [textwrap.fill("usage: " + synopsis(command, tables[command]), WIDTH,
                           subsequent_indent=" " * 8, break_on_hyphens=False), "",
             textwrap.fill(COMMANDS[command][1][0].upper() + COMMANDS[command][1][1:] + ".",
                           WIDTH)]
    if tables[command]:
        lines += ["", "options:"]
        lines += ["  %-22s %s" % (option_shown(name), OPTIONS[name][1])
                  for name in tables[command]]
    if "--unattended" in tables[command]:
        lines += ["", "policies:"] + ["  %-22s %s" % item for item in POLICY_TEXTS.items()]
    return "\n".join(lines)


def version_lines():
    """The launcher's version (the library's, from the file VERSION that the
    build writes into the report), and the package's when installed."""
    library = read_first_line(os.path.join(ROOT, "VERSION"))
    if INSTALLED:
        package = "package trun95 %s, installed in %s" % (
            read_first_line(os.path.join(ROOT, "package-version")), ROOT)
    else:
        package = "not packaged: run from the source tree %s" % ROOT
    return ["trun95 " + library, "Tarnel Uninstaller version " + library, package]


def read_first_line(path):
    with open(path, encoding="utf-8") as stream:
        return stream.readline().strip()


def front_door(argv, tables):
    """--help, -h, help [COMMAND], COMMAND --help and --version, answered
    without Wine; None when argv asks for something else. An unknown
    command to help is refused with status 2."""
    first = argv[0] if argv else ""
    if first in ("--help", "-h") or argv == ["help"]:
        say(overview(tables), sys.stdout)
        return 0
    if first == "--version":
        say("\n".join(version_lines()), sys.stdout)
        return 0
    if first == "help":
        if len(argv) != 2 or argv[1] not in tables:
            say("trun95: no command %s (one of: %s)" % (" ".join(argv[1:]), ", ".join(
                c for c in COMMANDS if c != "SETUP.EXE")))
            return 2
        say(command_help(argv[1], tables), sys.stdout)
        return 0
    if first in tables and first != "SETUP.EXE" and argv[1:2] in (["--help"], ["-h"]):
        say(command_help(first, tables), sys.stdout)
        return 0
    return None


def roff(text):
    """Text as roff reads it: a backslash doubled, a leading dot or a hyphen escaped."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def man_page(tables):
    version = read_first_line(os.path.join(ROOT, "VERSION"))
    lines = ['.TH TRUN95 1 "" "trun95 %s" "User Commands"' % version, ".ad l", ".nh", ".SH NAME",
             "trun95 \\- watch a Windows setup program under Wine and undo what it did",
             ".SH SYNOPSIS"]
    for command in COMMANDS:
        lines += [".br", ".B " + roff(synopsis(command, tables[command]))]
    lines += [".SH DESCRIPTION", roff(INTRO), ".SH COMMANDS"]
    for command, (_, text) in COMMANDS.items():
        lines += [".TP", ".B " + roff(synopsis(command, tables[command])), roff(text) + "."]
    lines += [".SH OPTIONS"]
    for name, (_, text) in OPTIONS.items():
        lines += [".TP", ".B " + roff(option_shown(name)), roff(text) + "."]
    lines += [".SH POLICIES"]
    for policy, text in POLICY_TEXTS.items():
        lines += [".TP", ".B " + roff(policy), roff(text) + "."]
    lines += [".SH EXIT STATUS"]
    for status, text in EXIT_STATUSES:
        lines += [".TP", ".B %d" % status, roff(text) + "."]
    lines += [".SH FILES", ".TP", ".I ~/.local/share/trun95/prefix",
              roff("the Windows 95 prefix ($TRUN95_PREFIX, else under $XDG_DATA_HOME), made "
                   "on first use; install logs in its trun95-logs folder."),
              ".TP", ".I ~/.cache/trun95",
              roff("the demo's work folder (under $XDG_CACHE_HOME) when installed."),
              ".SH SEE ALSO", roff("/usr/share/doc/trun95/: README.md, check.md (the JSON "
                                   "format, check.schema.json), host.md, install-log.md.")]
    return "\n".join(lines) + "\n"


def completion(tables):
    """A bash completion function with the commands, each command's options,
    the policies and (for uninstall) the names that list shows."""
    def words(items):
        return " ".join(items)

    cases = "\n".join('        %s) options="%s" ;;' % (command, words(
        name + ("=" if OPTIONS[name][0] else "") for name in table))
        for command, table in tables.items() if command != "SETUP.EXE")
    setup_options = words(name + ("=" if OPTIONS[name][0] else "") for name in tables["SETUP.EXE"])
    commands = words(c for c in COMMANDS if c != "SETUP.EXE")
    return COMPLETION % {"cases": cases, "setup_options": setup_options, "commands": commands,
                         "policies": words(POLICY_TEXTS)}


COMPLETION = r"""# bash completion of trun95: commands, options, policies, install log names.
_trun95() {
    local cur=${COMP_WORDS[COMP_CWORD]} option= command= options i
    # Bash splits --name=VALUE at "=" by default (COMP_WORDBREAKS).
    if [ "$cur" = "=" ]; then
        option=${COMP_WORDS[COMP_CWORD-1]} cur=
    elif [ "$COMP_CWORD" -ge 2 ] && [ "${COMP_WORDS[COMP_CWORD-1]}" = "=" ]; then
        option=${COMP_WORDS[COMP_CWORD-2]}
    fi
    case $option in
        --unattended) COMPREPLY=($(compgen -W "%(policies)s" -- "$cur")); return ;;
        --setup) COMPREPLY=($(compgen -W "answer wait" -- "$cur")); return ;;
        ?*) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    esac
    for ((i = 1; i < COMP_CWORD; i++)); do
        [ "${COMP_WORDS[i-1]}" = "=" ] && continue
        case ${COMP_WORDS[i]} in -*|=) ;; *) command=${COMP_WORDS[i]}; break ;; esac
    done
    case $command in
%(cases)s
        "") options="%(setup_options)s --help --version" ;;
        *) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        [[ ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
    elif [ -z "$command" ]; then
        COMPREPLY=($(compgen -W "%(commands)s" -- "$cur") $(compgen -f -- "$cur"))
    elif [ "$command" = uninstall ]; then
        local IFS=$'\n'
        COMPREPLY=($(compgen -W "$("${COMP_WORDS[0]}" list --names 2>/dev/null)" -- "$cur"))
    elif [ "$command" = help ]; then
        COMPREPLY=($(compgen -W "%(commands)s" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _trun95 trun95
"""


def main(argv):
    import launcher  # the option tables; it imports this module in turn
    makers = {"man": man_page, "completion": completion}
    if len(argv) != 2 or argv[0] not in makers:
        say("usage: usage.py man|completion FILE")
        return 2
    with open(argv[1], "w", encoding="utf-8") as stream:
        stream.write(makers[argv[0]](launcher.OPTION_TABLES))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
