"""What the launcher and check make of their command lines and result files,
before anything runs (CTest: launcher_arguments)."""

import json
import os
import shutil
import stat
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import e2e  # puts scripts/ on the import path
import check
import launcher
import usage
from trun95lib import (BIN, ROOT, Refused, file_name_problem, has_wine32,
                       parse_options, pe_machine)

# The bound of one launcher or shell run here: well under a second each.
RUN_SECONDS = 120


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=RUN_SECONDS, **options)


class OptionsTest(unittest.TestCase):
    def test_check_options_end_at_the_setup_and_check_all_options_go_anywhere(self):
        self.assertEqual(parse_options(["--quiet", "s.exe", "--json=x", "/S"],
                                       check.CHECK_OPTIONS),
                         ([("--quiet", True)], ["s.exe", "--json=x", "/S"]))
        self.assertEqual(parse_options(["dir", "--json=x", "-j", "3", "-j2", "--shard=1/2"],
                                       check.CHECK_ALL_OPTIONS, anywhere=True),
                         ([("--json", "x"), ("--jobs", "3"), ("--jobs", "2"), ("--shard", "1/2")],
                          ["dir"]))

    def test_what_cannot_be_taken_is_refused(self):
        for words in (["--jsn=x", "s.exe"], ["--quiet=1"], ["--json"], ["--timeout=0"],
                      ["--timeout=ten"], ["s.exe", "-j"]):
            with self.subTest(words=words), self.assertRaises(Refused):
                parse_options(words, check.CHECK_ALL_OPTIONS, anywhere=True)
        for refused in (lambda: check.parse("check", ["--setup=ask", "s.exe"]),
                        lambda: launcher.session_options(["--setup=ask", "s.exe"])):
            with self.assertRaises(Refused):
                refused()
        for shard in ("0/2", "3/2", "1", "a/b"):
            with self.subTest(shard=shard), self.assertRaises(Refused):
                check.parse_shard(shard)

    def test_file_names_windows_cannot_hold(self):
        with tempfile.TemporaryDirectory() as folder:
            read_only = os.path.join(folder, "kept.txt")
            open(read_only, "w").close()
            os.chmod(read_only, stat.S_IRUSR)
            for name in ("a?b.txt", "a*b", "a|b", 'a"b', "\u0416.txt", "missing/r.txt",
                         "kept.txt"):
                with self.subTest(name=name):
                    self.assertTrue(file_name_problem(os.path.join(folder, name)))
            self.assertIsNone(file_name_problem(os.path.join(folder, "caf\u00e9 report.txt")))


class FrontDoorTest(unittest.TestCase):
    def test_help_and_version_answer_without_a_build_and_the_unknown_is_refused_in_one_line(self):
        # A tree with the launcher and no build files: a build would fail.
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        shutil.copytree(os.path.join(ROOT, "scripts"), os.path.join(folder, "scripts"))
        for name in ("trun95", "VERSION"):
            shutil.copy(os.path.join(ROOT, name), folder)
        launcher_front = os.path.join(folder, "trun95")
        for words, first in ((["--help"], "usage: trun95 COMMAND"),
                             (["help", "check"], "usage: trun95 check [--json=FILE] [--junit="),
                             (["check-all", "--help"], "usage: trun95 check-all [--json=FILE]"),
                             (["--version"], "trun95 " + usage.read_first_line(
                                 os.path.join(ROOT, "VERSION")))):
            with self.subTest(words=words):
                answer = run([launcher_front] + words, env=dict(os.environ, PATH="/usr/bin:/bin"))
                self.assertEqual((answer.returncode, answer.stdout[:len(first)], answer.stderr),
                                 (0, first, ""))
        for words, line in ((["help", "nosuch"], "trun95: no command nosuch"),
                            (["--bogus", "s.exe"], "trun95: unknown option --bogus"),
                            (["frobnicate"], "trun95: no command or setup program frobnicate"),
                            (["check", "--junit=a?b.xml", "s.exe"], "trun95 check: cannot write"),
                            (["list", "extra"], "trun95: list takes no arguments")):
            with self.subTest(words=words):
                refused = run(["python3", os.path.join(ROOT, "scripts", "launcher.py")] + words)
                self.assertEqual((refused.returncode, len(refused.stderr.splitlines()),
                                  refused.stderr.startswith(line)), (2, 1, True), refused.stderr)

    def test_the_manual_page_renders_without_a_warning(self):
        page = run(["groff", "-man", "-Tascii", "-P-bou", "-ww"], input=usage.man_page(
            launcher.OPTION_TABLES))
        self.assertEqual((page.returncode, page.stderr), (0, ""))
        for text in ("EXIT STATUS", "--junit=FILE", "own-then-report", "trun95 uninstall"):
            self.assertIn(text, page.stdout)

    def test_completion_offers_commands_options_policies_and_install_log_names(self):
        with tempfile.TemporaryDirectory() as folder:
            for name in ("Acme Notes", "Acme Pad", "Other"):
                os.makedirs(os.path.join(folder, "trun95-logs", name))
                open(os.path.join(folder, "trun95-logs", name, "manifest.txt"), "w").close()
            script = os.path.join(folder, "trun95.bash")
            with open(script, "w") as stream:
                stream.write(usage.completion(launcher.OPTION_TABLES))
            for words, offered in (
                    (["--setup", "=", "wait", "ch"], ["check", "check-all", "check-merge"]),
                    (["check", "--ju"], ["--junit="]),
                    (["--unattended", "=", "own"], ["own-then-continue", "own-then-report",
                                                    "own-then-stop"]),
                    (["check-all", "d", "--setup", "=", ""], ["answer", "wait"]),
                    (["uninstall", "--quiet", "Acme"], ["Acme Notes", "Acme Pad"])):
                with self.subTest(words=words):
                    shell = ('. "$1"; COMP_WORDS=("${@:2}"); COMP_CWORD=$(($# - 2)); _trun95; '
                             'printf "%s\\n" "${COMPREPLY[@]}"')
                    answer = run(["bash", "-c", shell, "bash", script,
                                  os.path.join(ROOT, "trun95")] + words, cwd=folder,
                                 env=dict(os.environ, TRUN95_PREFIX=folder))
                    self.assertEqual(sorted(answer.stdout.splitlines()), offered, answer.stderr)



class MachineTest(unittest.TestCase):
    def test_a_32_bit_setup_is_refused_in_one_line_before_anything_starts(self):
        if has_wine32():
            self.skipTest("this machine runs 32-bit programs")
        self.assertEqual(pe_machine(os.path.join(BIN, "tarnel32.exe")), "amd64")
        with tempfile.TemporaryDirectory() as folder:
            setup, prefix = os.path.join(folder, "SETUP.EXE"), os.path.join(folder, "prefix")
            with open(setup, "wb") as stream:  # a 32-bit program's headers
                stream.write(b"MZ" + bytes(58) + (64).to_bytes(4, "little") + b"PE\0\0" +
                             (0x14c).to_bytes(2, "little") + bytes(18))
            for command in ([setup, "/S"], ["install", "--name=x", setup],
                            ["check", "--quiet", setup, "/S"]):
                with self.subTest(command=command[0]):
                    refused = run([os.path.join(ROOT, "trun95")] + command,
                                  env=dict(os.environ, TRUN95_PREFIX=prefix))
                    self.assertEqual((refused.returncode, refused.stdout,
                                      refused.stderr.count("\n")), (2, "", 1), refused.stderr)
                    self.assertIn("SETUP.EXE is a 32-bit program; this machine has no 32-bit",
                                  refused.stderr)
            self.assertFalse(os.path.exists(prefix))
            result = check.check(setup, [], {"prefix": prefix})
            self.assertEqual((result["status"], result["exitStatus"]), ("failed", 2))


CLEAN = {"status": "clean", "exitStatus": 0, "footprint": [], "leftBehind": 0, "seconds": 1.0,
         "cautions": {"footprint": [], "residue": []}, "ownUninstaller": None}


class ShardsAndMergeTest(unittest.TestCase):
    def test_shards_split_the_sorted_setups_and_merge_joins_them_back(self):
        with tempfile.TemporaryDirectory() as folder:
            names = ["%d.exe" % n for n in range(7)] + ["p.msi", "readme.txt"]
            for name in names:
                open(os.path.join(folder, name), "w").close()
            shards = [check.setups_in(folder, (k, 3)) for k in (1, 2, 3)]
            self.assertEqual(sorted(sum(shards, [])), check.setups_in(folder))
            self.assertEqual(len(check.setups_in(folder)), 8)
            files = []
            for k, shard in enumerate(shards):
                files.append(os.path.join(folder, "%d.json" % k))
                check.write_json(files[-1], {"version": 1, "checks": [
                    dict(CLEAN, setup=[path]) for path in shard]})
            merged, junit = os.path.join(folder, "all.json"), os.path.join(folder, "all.xml")
            status = check.merge(files, {"json": merged, "junit": junit, "html": None})
            with open(merged) as stream:
                setups = [c["setup"][0] for c in json.load(stream)["checks"]]
            cases = ElementTree.parse(junit).findall("./testsuite/testcase")
            self.assertEqual((status, setups, [c.get("name") for c in cases]),
                             (0, check.setups_in(folder), sorted(names)[:8]))


class OwnFailureTest(unittest.TestCase):
    def test_a_check_that_fails_in_itself_ends_with_its_own_status(self):
        with tempfile.TemporaryDirectory() as folder:
            args = {"prefix": os.path.join(folder, "no-prefix"), "quiet": True, "jobs": 1,
                    "host_options": []}
            result = check.check(os.path.join(folder, "setup.exe"), [], args)
        self.assertEqual((result["status"], result["exitStatus"]), ("failed", check.CHECK_BROKE))
        self.assertIn("no-prefix", result["note"])


if __name__ == "__main__":
    unittest.main()
