#!/usr/bin/env python3
"""What other programs of the machine can put in a run's way, on the Wine
prefix: a lock taken first, a log file made first (a link, or one held
open), one person's installation made and removed by elevated runs, an
uninstaller started by another name of its folder. Wine runs everything as
one account, elevated, with a limited half; what takes a second account is
decided by code the host tests drive.

    edges_test.py path/to/qvSetup.exe path/to/holder.exe path/to/limited.exe
"""
import os
import subprocess
import sys
import unittest

import in_use_test
import window_test as w

PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
PROGRAM_FILES = os.path.join(DRIVE_C, "Program Files (x86)")
UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
LIMITED = None


def run(args, timeout=120):
    return subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)


def read(path):
    with open(path, encoding="utf-8-sig") as f:
        return f.read()


def expanded(name):
    out = subprocess.run(["wine", "cmd", "/c", "echo", "%" + name + "%"], stdin=subprocess.DEVNULL,
                         capture_output=True, text=True).stdout
    return out.strip()


def unix(windows_path):
    return subprocess.run(["winepath", "-u", windows_path], capture_output=True, text=True).stdout.strip()


class EdgesTest(unittest.TestCase):
    def package(self, ini, files=None):
        pkg = w.Package(ini, files)
        self.addCleanup(pkg.close)
        return pkg

    def held(self, what, *before):
        h = in_use_test.Held(what, *before)
        self.addCleanup(h.release)
        return h

    def folder(self, name):
        path = os.path.join(PROGRAM_FILES, name)
        subprocess.run(["rm", "-rf", path])
        self.addCleanup(subprocess.run, ["rm", "-rf", path])
        self.addCleanup(run, ["reg", "delete", "HKLM\\" + UNINSTALL_KEY + name, "/f"])
        return path, "C:\\Program Files (x86)\\" + name

    def test_a_lock_taken_first_by_a_program_without_rights_stops_nothing(self):
        # The name every install and uninstall of the product once took.
        self.held("mutex:Global\\qvSetup-QVSQUATTED", LIMITED)
        target, target_win = self.folder("QVSQUATTED")
        pkg = self.package("[INSTALL]\nQVSQUATTED=app\\,?\n[UNINSTALL]\nName=QVSQUATTED\n", {"app\\a.txt": "a"})
        done = run([pkg.path("setup.exe"), "/S", "/D=" + target_win, "/LOG=" + pkg.win("in.log")])
        self.assertEqual(done.returncode, 0, read(pkg.path("in.log")))
        self.assertEqual(run([target_win + "\\uninstall.exe", "/S"]).returncode, 0)
        self.assertTrue(w.wait_for(lambda: not os.path.exists(target), 20), "the folder stayed")

    def test_a_log_made_first_is_never_written_through(self):
        pkg = self.package("[INSTALL]\nA=app\\,out\n", {"app\\a.txt": "a"})
        victim = pkg.path("victim.txt")
        with open(victim, "w") as f:
            f.write("the victim's")
        # A link where the log is to go, and a file held open there.
        os.symlink(victim, pkg.path("linked.log"))
        with open(pkg.path("held.log"), "w") as f:
            f.write("somebody's")
        self.held(pkg.win("held.log"))
        for name in ("linked", "held"):
            with self.subTest(name):
                done = run([pkg.path("setup.exe"), "/S", "/LOG=" + pkg.win(name + ".log")])
                self.assertEqual(done.returncode, 0)
                # The log went beside it, and says so where a deployment
                # tool reads.
                beside = [n for n in os.listdir(pkg.dir) if n.startswith(name + "-") and n.endswith(".log")]
                self.assertEqual(len(beside), 1, os.listdir(pkg.dir))
                self.assertIn(beside[0], done.stderr.decode(errors="replace"))
                log = read(pkg.path(beside[0]))
                self.assertIn("not written to " + pkg.win(name + ".log"), log)
                self.assertIn("exit code 0", log)
        self.assertTrue(os.path.islink(pkg.path("linked.log")))
        with open(victim) as f:
            self.assertEqual(f.read(), "the victim's")
        with open(pkg.path("held.log")) as f:
            self.assertEqual(f.read(), "somebody's")

    def test_one_persons_installation_made_and_removed_by_elevated_runs(self):
        target = os.path.join(unix(expanded("LOCALAPPDATA")), "Programs", "qvEdgeUser")
        subprocess.run(["rm", "-rf", target])
        self.addCleanup(subprocess.run, ["rm", "-rf", target])
        self.addCleanup(run, ["reg", "delete", "HKCU\\" + UNINSTALL_KEY + "Edge User", "/f"])
        pkg = self.package("[SETUP]\nScope=user\n[INSTALL]\nqvEdgeUser=app\\,?\n[UNINSTALL]\nName=Edge User\n",
                           {"app\\a.txt": "a"})
        for attempt in ("first", "again"):
            with self.subTest(attempt):
                done = run([pkg.path("setup.exe"), "/S", "/LOG=" + pkg.win("in.log")])
                log = read(pkg.path("in.log"))
                self.assertEqual(done.returncode, 0, log)
                self.assertIn("started again without administrator rights", log)
                self.assertNotIn("not carried on", log)
        self.assertIn("record carried on", log)
        uninstaller = expanded("LOCALAPPDATA") + "\\Programs\\qvEdgeUser\\uninstall.exe"
        done = run([uninstaller, "/S", "/LOG=" + pkg.win("un.log")])
        self.assertEqual(done.returncode, 0, read(pkg.path("un.log")))
        self.assertTrue(w.wait_for(lambda: not os.path.exists(target), 20), "the folder stayed")
        self.assertNotEqual(run(["reg", "query", "HKCU\\" + UNINSTALL_KEY + "Edge User"]).returncode, 0)

    def test_an_uninstaller_started_by_another_name_of_its_folder(self):
        target, target_win = self.folder("qvEdgeAlias")
        pkg = self.package("[INSTALL]\nqvEdgeAlias=app\\,?\n[UNINSTALL]\nName=qvEdgeAlias\n", {"app\\a.txt": "a"})
        self.assertEqual(run([pkg.path("setup.exe"), "/S", "/D=" + target_win]).returncode, 0)
        # Wine's Z: drive is the whole Linux tree: C: again, by another name.
        other = "Z:" + os.path.join(target, "uninstall.exe").replace("/", "\\")
        done = run([other, "/S", "/LOG=" + pkg.win("un.log")])
        log = read(pkg.path("un.log"))
        self.assertEqual(done.returncode, 0, log)
        self.assertIn("in the folder registered as " + target_win, log)
        self.assertTrue(w.wait_for(lambda: not os.path.exists(target), 20), "the folder stayed")


if __name__ == "__main__":
    w.EXE = sys.argv.pop(1)
    in_use_test.HOLDER = sys.argv.pop(1)
    LIMITED = sys.argv.pop(1)
    unittest.main(verbosity=2)
