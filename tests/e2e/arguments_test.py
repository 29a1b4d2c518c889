"""What the launcher and check make of their command lines and result files,
before anything runs (CTest: launcher_arguments)."""

import json
import os
import stat
import subprocess
import tempfile
import unittest

import e2e  # puts scripts/ on the import path
import check
import launcher
from trun95lib import (BIN, ROOT, Prefix, Refused, file_name_problem, has_wine32,
                       parse_options, pe_machine)

# A program's bound: far above the moment a refusal takes.
LAUNCHER_SECONDS = 120


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
                    run = subprocess.run([os.path.join(ROOT, "trun95")] + command,
                                         env=dict(os.environ, TRUN95_PREFIX=prefix),
                                         capture_output=True, text=True, timeout=LAUNCHER_SECONDS)
                    self.assertEqual((run.returncode, run.stdout, run.stderr.count("\n")),
                                     (2, "", 1), run.stderr)
                    self.assertIn("SETUP.EXE is a 32-bit program; this machine has no 32-bit",
                                  run.stderr)
            self.assertFalse(os.path.exists(prefix))
            result = check.check(setup, [], {"prefix": prefix})
            self.assertEqual((result["status"], result["exitStatus"]), ("failed", 2))

    def test_a_32_bit_setups_uninstaller_is_found_under_wow6432node_of_a_64_bit_prefix(self):
        key = "Hkey_local_machine\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\A"
        footprint = [{"kind": "registry", "text": "Key Added", "object": key}]
        with tempfile.TemporaryDirectory() as folder:
            open(os.path.join(folder, "user.reg"), "w").close()
            with open(os.path.join(folder, "system.reg"), "w") as stream:
                stream.write('[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion'
                             '\\\\Uninstall\\\\A] 0\n"UninstallString"="u.exe"\n')
            found = check.registered_uninstallers(footprint, Prefix(folder))
        self.assertEqual(found, ["u.exe"])


CLEAN = {"status": "clean", "exitStatus": 0, "footprint": [], "leftBehind": 0,
         "cautions": {"footprint": [], "residue": []}}


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
            merged = os.path.join(folder, "all.json")
            status = check.merge(files, {"json": merged})
            with open(merged) as stream:
                setups = [c["setup"][0] for c in json.load(stream)["checks"]]
            self.assertEqual((status, setups), (0, check.setups_in(folder)))


class OwnFailureTest(unittest.TestCase):
    def test_a_check_that_fails_in_itself_ends_with_its_own_status(self):
        with tempfile.TemporaryDirectory() as folder:
            args = {"prefix": os.path.join(folder, "no-prefix"), "quiet": True, "jobs": 1,
                    "side_by_side": True, "host_options": []}
            result = check.check(os.path.join(folder, "setup.exe"), [], args)
        self.assertEqual((result["status"], result["exitStatus"]), ("failed", check.CHECK_BROKE))
        self.assertIn("no-prefix", result["note"])


if __name__ == "__main__":
    unittest.main()
