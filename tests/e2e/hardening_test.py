#!/usr/bin/env python3
"""The installer must not be the way in: no DLL or program planted beside
setup.exe runs, and a copy that fails never destroys the file it replaces.

    hardening_test.py qvSetup.exe plant.dll plant.exe
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

EXE = DLL = PLANT = None

# DLLs that installers have loaded from their own folder: the classic names,
# the ones our controls pull in, and others the shell and GDI ask for that
# are not among the system's known DLLs (those always come from the system).
# version.dll is not among them: under Wine, forcing it native makes Wine's
# own user32 and gdi32 load it from the program's folder before any code
# of ours runs, which Windows does not do for its known DLLs.
PLANTED_DLLS = ["uxtheme.dll", "riched20.dll", "shfolder.dll", "comctl32.dll", "msimg32.dll",
                "dwmapi.dll", "winmm.dll", "propsys.dll", "cryptbase.dll", "profapi.dll", "usp10.dll"]


def win(path):
    return "Z:" + path.replace("/", "\\")


class Package:
    def __init__(self, ini):
        self.dir = tempfile.mkdtemp(prefix="qv_harden_")
        shutil.copy(EXE, self.path("setup.exe"))
        with open(self.path("setup.ini"), "w", newline="\r\n") as f:
            f.write(ini)

    def path(self, *rel):
        return os.path.join(self.dir, *rel)

    def run(self, args=(), env=None, timeout=60):
        return subprocess.run(["wine", self.path("setup.exe"), *args], env=env, timeout=timeout,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class Hardening(unittest.TestCase):
    def package(self, ini):
        p = Package(ini)
        self.addCleanup(p.close)
        return p

    def test_no_planted_dll_is_loaded(self):
        pkg = self.package("[GUI]\nTiTle=Plant\n[INSTALL]\nA=setup.ini,out\n")
        for name in PLANTED_DLLS:
            shutil.copy(DLL, pkg.path(name))
        env = dict(os.environ)
        names = ",".join(n[:-4] for n in PLANTED_DLLS)
        # Tell Wine to prefer a DLL found on the search path over its own.
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;%s=n,b" % names
        self.assertEqual(pkg.run(["/S"], env=env), 0)
        self.assertTrue(os.path.exists(pkg.path("out", "setup.ini")))
        self.assertEqual(glob.glob(pkg.path("planted-*")), [], "a planted DLL was loaded")

    def test_a_planted_program_does_not_run_in_place_of_a_system_one(self):
        marker = tempfile.mktemp(prefix="qv_real_", suffix=".txt")
        self.addCleanup(lambda: os.path.exists(marker) and os.remove(marker))
        pkg = self.package("[COMMAND]\n1=cmd.exe /c echo real> \"%s\",HIDE\n2=setup2.exe,HIDE\n" % win(marker))
        shutil.copy(PLANT, pkg.path("cmd.exe"))
        shutil.copy(PLANT, pkg.path("setup2.exe"))
        self.assertEqual(pkg.run(["/S"]), 0)
        for _ in range(100):
            if os.path.exists(marker) and os.path.exists(pkg.path("planted-setup2.exe.txt")):
                break
            subprocess.run(["sleep", "0.1"])
        self.assertTrue(os.path.exists(marker), "the system's cmd.exe did not run")
        self.assertFalse(os.path.exists(pkg.path("planted-cmd.exe.txt")), "the planted cmd.exe ran")
        # A packager's own program beside the installer is still found there.
        self.assertTrue(os.path.exists(pkg.path("planted-setup2.exe.txt")))

    def test_a_copy_that_does_not_fit_leaves_the_old_file(self):
        mount = tempfile.mkdtemp(prefix="qv_small_")
        self.addCleanup(lambda: shutil.rmtree(mount, ignore_errors=True))
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", mount]).returncode != 0:
            self.skipTest("cannot mount a small file system here")
        self.addCleanup(lambda: subprocess.run(["umount", mount]))
        drive = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "s:")
        if os.path.lexists(drive):
            os.remove(drive)
        os.symlink(mount, drive)
        self.addCleanup(lambda: os.remove(drive))
        os.makedirs(os.path.join(mount, "app"))
        old = os.urandom(20 * 1024)
        with open(os.path.join(mount, "app", "data.bin"), "wb") as f:
            f.write(old)
        pkg = self.package("[INSTALL]\nData=data.bin,S:\\app\nSmall=small.txt,S:\\app\n")
        with open(pkg.path("data.bin"), "wb") as f:
            f.write(os.urandom(600 * 1024))  # does not fit
        with open(pkg.path("small.txt"), "w") as f:
            f.write("fits")
        self.assertEqual(pkg.run(["/S"]), 3)
        with open(os.path.join(mount, "app", "data.bin"), "rb") as f:
            self.assertEqual(f.read(), old, "the old file was damaged")
        self.assertEqual(sorted(os.listdir(os.path.join(mount, "app"))), ["data.bin", "small.txt"],
                         "a temporary file was left behind")
        # A new file that does not fit is not left half written either.
        os.remove(os.path.join(mount, "app", "data.bin"))
        self.assertEqual(pkg.run(["/S"]), 3)
        self.assertEqual(sorted(os.listdir(os.path.join(mount, "app"))), ["small.txt"])


if __name__ == "__main__":
    EXE, DLL, PLANT = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
