#!/usr/bin/env python3
"""Files a running program holds: an elevated run (Wine's default) replaces
or removes them at the next restart and says so with exit code 3010; Wine's
restart then does what the run asked of it.

    in_use_test.py path/to/qvSetup.exe path/to/holder.exe
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import window_test as w

HOLDER = None
PREFIX = os.environ["WINEPREFIX"]
PROGRAM_FILES = os.path.join(PREFIX, "drive_c", "Program Files (x86)")
SESSION = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"


def run(args, timeout=60):
    return subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout).returncode


def run_logged(args, log):
    """The exit code of a run as the program gave it. Wine hands a Unix
    parent only its low byte: the full code is the log's last line."""
    status = run([*args, "/LOG=" + log[1]])
    code = int(read(log[0]).rsplit("exit code ", 1)[1].split()[0])
    return code if code & 0xFF == status else (code, status)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def pending_renames():
    """The system's list of what to rename at the next restart: (from, to)
    pairs, to empty for a removal."""
    out = subprocess.run(["wine", "reg", "query", SESSION, "/v", "PendingFileRenameOperations"],
                         stdin=subprocess.DEVNULL, capture_output=True, text=True).stdout
    line = next((l for l in out.splitlines() if "PendingFileRenameOperations" in l), "")
    parts = line.split("REG_MULTI_SZ", 1)[1].strip().split("\\0") if line else []
    return [(parts[i], parts[i + 1].lstrip("!")) for i in range(0, len(parts) - 1, 2)]


class Held:
    """holder.exe keeping a file open, shared with nobody (or a named mutex,
    given "mutex:NAME"), until released; started behind `before` (a program
    that starts it) when given."""

    def __init__(self, path, *before):
        self.marker = os.path.join(tempfile.mkdtemp(prefix="qv_held_"), "held")
        self.proc = subprocess.Popen(["wine", *before, HOLDER, path, "Z:" + self.marker.replace("/", "\\")],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not w.wait_for(lambda: os.path.exists(self.marker)):
            raise RuntimeError("holder.exe did not take " + path)

    def release(self):
        if os.path.exists(self.marker):
            os.remove(self.marker)
        self.proc.wait(timeout=20)
        shutil.rmtree(os.path.dirname(self.marker), ignore_errors=True)


class InUseTest(unittest.TestCase):
    def package(self, ini, files):
        pkg = w.Package(ini, files)
        self.addCleanup(pkg.close)
        return pkg

    def folder(self, name):
        path = os.path.join(PROGRAM_FILES, name)
        subprocess.run(["rm", "-rf", path])
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", path]))
        return path, "C:\\Program Files (x86)\\" + name

    def held(self, path):
        h = Held(path)
        self.addCleanup(h.release)
        return h

    def test_files_in_use_are_replaced_and_removed_at_the_next_restart(self):
        # Replaced: a new version installed over one whose file is held.
        replaced, replaced_win = self.folder("qvInUseReplaced")
        ini = "[GUI]\nTiTle=In Use\n[INSTALL]\nqvInUseReplaced=app\\,?\n"
        old = self.package(ini, {"app\\held.dll": "one", "app\\free.txt": "free one"})
        new = self.package(ini, {"app\\held.dll": "two", "app\\free.txt": "free two"})
        self.assertEqual(run([old.path("setup.exe"), "/S", "/D=" + replaced_win]), 0)
        # Removed: an uninstall while a file of the installation is held.
        removed, removed_win = self.folder("qvInUseRemoved")
        uninstalled = self.package("[GUI]\nTiTle=In Use\n[INSTALL]\nqvInUseRemoved=app\\,?\n"
                                   "[UNINSTALL]\nName=qvInUse Demo\n", {"app\\held.dll": "one", "app\\free.txt": "f"})
        self.assertEqual(run([uninstalled.path("setup.exe"), "/S", "/D=" + removed_win]), 0)
        holders = [self.held(replaced_win + "\\held.dll"), self.held(removed_win + "\\held.dll")]

        self.assertEqual(run_logged([new.path("setup.exe"), "/S", "/D=" + replaced_win],
                                    (new.path("run.log"), new.win("run.log"))), 3010)
        self.assertEqual(run_logged([removed_win + "\\uninstall.exe", "/S"],
                                    (uninstalled.path("run.log"), uninstalled.win("run.log"))), 3010)

        log = read(new.path("run.log"))
        self.assertIn("in use: %s\\held.dll, replaced at the next restart by " % replaced_win, log)
        self.assertIn("in use: %s\\held.dll, removed at the next restart" % removed_win,
                      read(uninstalled.path("run.log")))
        self.assertEqual(read(os.path.join(replaced, "held.dll")), "one")
        self.assertEqual(read(os.path.join(replaced, "free.txt")), "free two")
        waiting = [n for n in os.listdir(replaced) if n not in ("held.dll", "free.txt")]
        self.assertEqual(len(waiting), 1, waiting)
        self.assertTrue(waiting[0].endswith(".replaces-at-restart"), waiting)
        self.assertLess(len(waiting[0]), 40)
        self.assertEqual(read(os.path.join(replaced, waiting[0])), "two")
        # The uninstall is done but for the held file: nothing waits for another run.
        self.assertEqual(sorted(os.listdir(removed)), ["held.dll"])
        pending = pending_renames()
        self.assertIn(("\\??\\%s\\%s" % (replaced_win, waiting[0]), "\\??\\%s\\held.dll" % replaced_win), pending)
        self.assertIn(("\\??\\%s\\held.dll" % removed_win, ""), pending)

        # Nothing holds a file at a restart.
        for h in holders:
            h.release()
        self.assertEqual(run(["wineboot", "--restart"]), 0)
        self.assertEqual(sorted(os.listdir(replaced)), ["free.txt", "held.dll"])
        self.assertEqual(read(os.path.join(replaced, "held.dll")), "two")
        self.assertFalse(os.path.exists(os.path.join(removed, "held.dll")))
        self.assertEqual(pending_renames(), [])


if __name__ == "__main__":
    w.EXE = sys.argv.pop(1)
    HOLDER = sys.argv.pop(1)
    unittest.main(verbosity=2)
