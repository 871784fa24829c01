#!/usr/bin/env python3
"""Installing with an uninstaller and uninstalling again, on the Wine prefix
as a whole: its files and registry compared before and after, the shown
uninstaller driven by real clicks, an installation killed halfway.

    uninstall_test.py path/to/qvSetup.exe
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

import window_test as w

PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
# Program Files as our 32-bit program sees it.
PROGRAM_FILES = os.path.join(DRIVE_C, "Program Files (x86)")
REGISTRATION = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"


def files_of(top):
    """Every file and folder below top: path -> content digest, or None for a folder."""
    found = {}
    for folder, dirs, names in os.walk(top):
        for d in dirs:
            found[os.path.join(folder, d)] = None
        for n in names:
            path = os.path.join(folder, n)
            if os.path.islink(path):
                found[path] = "link:" + os.readlink(path)
                continue
            with open(path, "rb") as f:
                found[path] = hashlib.sha1(f.read()).hexdigest()
    return found


def registry():
    """The machine and user hives as reg export writes them: key -> its values
    (one text each). Wine's display driver rewrites its own keys whenever a
    program starts: those are left out."""
    keys = {}
    for hive in ("HKLM", "HKCU"):
        out = os.path.join(PREFIX, "drive_c", "qv_hive.reg")
        subprocess.run(["wine", "reg", "export", hive, "C:\\qv_hive.reg", "/y"], check=True,
                       stdin=subprocess.DEVNULL, capture_output=True)
        with open(out, "rb") as f:
            text = f.read().decode("utf-16")
        os.remove(out)
        key, value = None, ""
        for line in text.splitlines():
            if line.startswith("["):
                key = None if "\\Control\\Video" in line else line
                if key:
                    keys[key] = []
            elif key and line.strip():
                value += line.strip()
                if not line.endswith("\\"):
                    keys[key].append(value)
                    value = ""
    return keys


def run(args, timeout=60):
    return subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout).returncode


def gone(path, timeout=20.0):
    return w.wait_for(lambda: not os.path.exists(path), timeout)


class UninstallTest(unittest.TestCase):
    def package(self, ini, files=None):
        pkg = w.Package(ini, files)
        self.addCleanup(pkg.close)
        return pkg

    def test_a_silent_uninstall_leaves_the_machine_as_it_was(self):
        target = os.path.join(PROGRAM_FILES, "qvRoundTrip")
        subprocess.run(["rm", "-rf", target])  # left by an interrupted run
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", target]))
        fonts = os.path.join(DRIVE_C, "windows", "Fonts")
        # There before the installation, replaced by it: it stays, as installed.
        shared = os.path.join(fonts, "qv_shared.txt")
        with open(shared, "w") as f:
            f.write("the system's own")
        self.addCleanup(lambda: os.path.exists(shared) and os.remove(shared))
        run(["reg", "add", "HKCU\\Software\\qvShared", "/v", "Mode", "/d", "old", "/f"])
        self.addCleanup(lambda: run(["reg", "delete", "HKCU\\Software\\qvShared", "/f"]))
        ini = ("[GUI]\nTiTle=Round Trip\n[INSTALL]\nqvRoundTrip=app\\,?\nShared=qv_shared.txt,%WINDOWSDIR%\\Fonts\n"
               "Docs=docs,%INSTALLDIR%\\nested\\deeper\n"
               "[REGISTRY]\n1=HKCU\\Software\\qvRoundTrip\\Deep\\Dir,%INSTALLDIR%\n2=HKCU\\Software\\qvShared\\Mode,new\n"
               "3=HKLM\\Software\\qvRoundTrip\\Flags,DWORD:1F\n4=HKCU\\Software\\qvRoundTrip\\Blob,HEX:01,02\n"
               "[UNINSTALL]\nName=Round Trip\nVersion=1.2.3\nPublisher=qvSetup tests\n")
        pkg = self.package(ini, {"app\\a.txt": "a", "app\\sub\\deep\\b.txt": "b", "docs\\c.txt": "c",
                                 "qv_shared.txt": "ours"})
        files_before, registry_before = files_of(DRIVE_C), registry()

        self.assertEqual(run([pkg.path("setup.exe"), "/S", "/D=C:\\Program Files (x86)\\qvRoundTrip"]), 0)
        self.assertTrue(os.path.exists(os.path.join(target, "nested", "deeper", "docs", "c.txt")))
        self.assertTrue(os.path.exists(os.path.join(target, "uninstall.exe")))
        quiet = subprocess.run(["wine", "reg", "query", REGISTRATION + "Round Trip", "/v", "QuietUninstallString"],
                               capture_output=True, text=True, stdin=subprocess.DEVNULL).stdout
        self.assertIn('"C:\\Program Files (x86)\\qvRoundTrip\\uninstall.exe" /S', quiet)
        # The person's own file in the installation folder, and an edited one.
        with open(os.path.join(target, "notes.txt"), "w") as f:
            f.write("mine")
        with open(os.path.join(target, "sub", "deep", "b.txt"), "w") as f:
            f.write("edited")

        # Keeping the edited file, the person's own now, is a success.
        self.assertEqual(run(["C:\\Program Files (x86)\\qvRoundTrip\\uninstall.exe", "/S",
                              "/LOG=" + pkg.win("uninstall.log")]), 0)
        self.assertTrue(gone(os.path.join(target, "uninstall.exe")))
        with open(pkg.path("uninstall.log"), encoding="utf-8-sig") as f:
            log = f.read()
        self.assertIn("kept (changed since the installation): C:\\Program Files (x86)\\qvRoundTrip\\sub\\deep\\b.txt", log)
        self.assertIn("kept (it was there before the installation): C:\\windows\\Fonts\\qv_shared.txt", log)

        files_after, registry_after = files_of(DRIVE_C), registry()
        changed = {p for p in set(files_before) | set(files_after) if files_before.get(p, 0) != files_after.get(p, 0)}
        # The uninstaller moved itself into a private folder of the temporary
        # folder, removed by the next run or restart.
        aside = {p for p in changed if re.search(r"/Temp/qvSetup-[0-9a-f]{32}(/uninstall\.exe)?$", p)}
        self.assertEqual(len(aside), 2, sorted(changed))
        expected = {shared, target, os.path.join(target, "notes.txt"), os.path.join(target, "sub"),
                    os.path.join(target, "sub", "deep"), os.path.join(target, "sub", "deep", "b.txt")}
        self.assertEqual(changed - aside, expected)
        with open(shared) as f:
            self.assertEqual(f.read(), "ours")
        registry_changed = {k for k in set(registry_before) | set(registry_after)
                            if registry_before.get(k) != registry_after.get(k)}
        # Removals asked of the next restart (the moved uninstaller) are the
        # system's own list.
        session = "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager]"
        if session in registry_changed:
            registry_changed.remove(session)
            differing = set(registry_before[session]) ^ set(registry_after[session])
            self.assertEqual({v.split("=")[0] for v in differing}, {'"PendingFileRenameOperations"'})
        self.assertEqual(registry_changed, {"[HKEY_CURRENT_USER\\Software\\qvShared]"})
        self.assertIn('"Mode"="new"', registry_after["[HKEY_CURRENT_USER\\Software\\qvShared]"])
        subprocess.run(["rm", "-rf", *aside])

    def test_the_shown_uninstaller_asks_first(self):
        target = os.path.join(PROGRAM_FILES, "qvAsked")
        subprocess.run(["rm", "-rf", target])
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", target]))
        ini = "[GUI]\nTiTle=Asked\n[INSTALL]\nqvAsked=app\\,?\n[UNINSTALL]\nName=Asked Demo\n"
        pkg = self.package(ini, {"app\\a.txt": "a"})
        self.assertEqual(run([pkg.path("setup.exe"), "/S", "/D=C:\\Program Files (x86)\\qvAsked"]), 0)
        uninstaller = os.path.join(target, "uninstall.exe")
        for answer_yes in (False, True):
            with self.subTest(yes=answer_yes):
                proc = subprocess.Popen(["wine", uninstaller], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                self.addCleanup(lambda p=proc: p.poll() is None and p.kill())
                win = w.find_window("Asked Demo")
                self.assertTrue(win, "no uninstaller window")
                question = w.wait_for(lambda: [x for x in w.sh("xdotool", "search", "--onlyvisible", "--name",
                                                                  "^Asked Demo$", check=False).split() if x != win],
                                      20)
                self.assertTrue(question, "no question")
                if not answer_yes:
                    w.keys("Return")  # the focus starts on No
                    self.assertEqual(proc.wait(timeout=20), 1)
                    self.assertTrue(os.path.exists(os.path.join(target, "a.txt")), "No removed something")
                    self.assertTrue(os.path.exists(uninstaller))
                    continue
                w.keys("Tab", "Return")  # from No to Yes
                self.assertTrue(w.wait_for(lambda: not os.path.exists(os.path.join(target, "a.txt")), 20))
                time.sleep(0.5)
                shot = w.screenshot(win)
                _, _, width, _ = w.geometry(win)
                red = [(x, y) for y in range(40, 62) for x in range(60, width - 20) if shot[y][x] == (255, 0, 0)]
                self.assertGreater(len(red), 20, "no finished status line")
                self.assertIsNone(proc.poll(), "the finished window waits for the user")
                w.click(win, width // 2, 106)
                self.assertEqual(proc.wait(timeout=20), 0)
                self.assertTrue(gone(target), "the installation folder stayed")

    def test_an_installation_killed_halfway_is_uninstalled(self):
        target = os.path.join(PROGRAM_FILES, "qvKilled")
        subprocess.run(["rm", "-rf", target])
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", target]))
        ini = "[GUI]\nTiTle=Killed\n[INSTALL]\nqvKilled=many\\,?\n[UNINSTALL]\nName=Killed Demo\n"
        pkg = self.package(ini, w.many_files(3000))
        proc = subprocess.Popen(["wine", pkg.path("setup.exe"), "/S", "/D=C:\\Program Files (x86)\\qvKilled"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        many = os.path.join(target)
        self.assertTrue(w.wait_for(lambda: os.path.isdir(many) and len(os.listdir(many)) > 300, 60))
        proc.kill()  # by its own id: another checkout may be running this very test
        proc.wait(timeout=20)
        installed = len(os.listdir(many))
        self.assertLess(installed, 3003, "the installation was not stopped halfway")
        self.assertEqual(run([os.path.join(target, "uninstall.exe"), "/S"]), 0)
        self.assertTrue(gone(target), "files of a killed installation stayed: %s" %
                        (os.listdir(target)[:5] if os.path.isdir(target) else ""))

    def test_a_damaged_record_removes_nothing(self):
        target = os.path.join(PROGRAM_FILES, "qvDamaged")
        subprocess.run(["rm", "-rf", target])
        ini = "[INSTALL]\nqvDamaged=app\\,?\n[UNINSTALL]\nName=qvDamaged\n"
        pkg = self.package(ini, {"app\\a.txt": "a"})
        self.assertEqual(run([pkg.path("setup.exe"), "/S", "/D=C:\\Program Files (x86)\\qvDamaged"]), 0)
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", target]))
        record = os.path.join(target, "uninstall.dat")
        with open(record, "r+b") as f:
            data = bytearray(f.read())
            data[40] ^= 0x20
            f.seek(0)
            f.write(data)
        self.assertEqual(run([os.path.join(target, "uninstall.exe"), "/S"]), 7)
        self.assertEqual(sorted(os.listdir(target)), ["a.txt", "uninstall.dat", "uninstall.exe"])
        os.remove(record)
        self.assertEqual(run([os.path.join(target, "uninstall.exe"), "/S"]), 7)
        self.assertTrue(os.path.exists(os.path.join(target, "a.txt")))
        run(["reg", "delete", REGISTRATION + "qvDamaged", "/f"])


def temp_folder():
    """The Wine user's %TEMP%, as a Linux path."""
    out = subprocess.run(["wine", "cmd", "/c", "echo", "%TEMP%"], capture_output=True, text=True,
                         stdin=subprocess.DEVNULL).stdout.strip()
    return subprocess.run(["winepath", "-u", out], capture_output=True, text=True).stdout.strip()


def record_line(body):
    """A record line with its CRC right: CRCs are no secret."""
    return "%08X %s\r\n" % (zlib.crc32(body.encode()), body)


class AttackTest(unittest.TestCase):
    """What somebody else can write (%TEMP% entries, records, registrations,
    files beside the uninstaller) against an elevated run: Wine's runs are
    elevated."""

    def setUp(self):
        # Uninstallers leave themselves aside in %TEMP%: ours to clean up.
        temp = temp_folder()
        before = set(os.listdir(temp))
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", *(os.path.join(temp, p) for p in set(os.listdir(temp)) - before
                                                               if p.startswith("qvSetup-"))]))
        self.victim = os.path.join(DRIVE_C, "ProgramData", "qvVictim")
        os.makedirs(self.victim, exist_ok=True)
        with open(os.path.join(self.victim, "v.dll"), "w") as f:
            f.write("the victim's")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", self.victim]))

    def victim_intact(self):
        with open(os.path.join(self.victim, "v.dll")) as f:
            self.assertEqual(f.read(), "the victim's")

    def install(self, name, extra_ini="", args=()):
        target = os.path.join(PROGRAM_FILES, name)
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", target]))
        self.addCleanup(lambda: run(["reg", "delete", REGISTRATION + name, "/f"]))
        pkg = w.Package("[INSTALL]\n%s=app\\,?\n[UNINSTALL]\nName=%s\n%s" % (name, name, extra_ini), {"app\\a.txt": "a"})
        self.addCleanup(pkg.close)
        code = run([pkg.path("setup.exe"), "/S", "/D=C:\\Program Files (x86)\\" + name, "/LOG=" + pkg.win("in.log"),
                    *args])
        with open(pkg.path("in.log"), encoding="utf-8-sig") as f:
            return code, target, f.read()

    def uninstall(self, target):
        log = os.path.join(PROGRAM_FILES, "qv_uninstall.log")
        self.addCleanup(lambda: os.path.exists(log) and os.remove(log))
        code = run([os.path.join(target, "uninstall.exe"), "/S", "/LOG=C:\\Program Files (x86)\\qv_uninstall.log"])
        with open(log, encoding="utf-8-sig") as f:
            return code, f.read()

    def test_the_sweep_of_private_folders_never_follows_a_link_nor_takes_what_is_not_ours(self):
        temp = temp_folder()
        link = os.path.join(temp, "qvSetup-fedcba9876543210fedcba9876543210")
        planted = os.path.join(temp, "qvSetup-0123456789abcdef0123456789abcdef")
        os.symlink(self.victim, link)
        os.makedirs(planted)
        with open(os.path.join(planted, "keep.txt"), "w") as f:
            f.write("k")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", link, planted]))
        code, first, _ = self.install("qvSweep1")
        self.assertEqual(code, 0)
        self.assertEqual(self.uninstall(first)[0], 0)
        # The first uninstaller went aside into a private folder of ours: the
        # next run takes that, and nothing else.
        ours = [p for p in os.listdir(temp) if re.fullmatch(r"qvSetup-[0-9a-f]{32}", p)
                and os.path.join(temp, p) not in (link, planted)]
        self.assertTrue(ours)
        code, second, _ = self.install("qvSweep2")
        code, log = self.uninstall(second)
        self.assertEqual(code, 0, log)
        self.victim_intact()
        self.assertTrue(os.path.islink(link))
        self.assertTrue(os.path.exists(os.path.join(planted, "keep.txt")))
        self.assertIn("removed an earlier run's folder: ", log)
        self.assertIn("left alone (not a folder of ours): C:\\users", log)
        for p in ours:
            self.assertFalse(os.path.exists(os.path.join(temp, p)), "our own left-over stayed")

    def test_the_uninstaller_removes_nothing_through_a_link_in_the_installation(self):
        # A folder of the installation swapped for a link to somebody else's,
        # where a file looks exactly like the installed one.
        pkg_files = {"app\\sub\\v.dll": "the victim's"}
        name = "qvLinked"
        target = os.path.join(PROGRAM_FILES, name)
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", target]))
        self.addCleanup(lambda: run(["reg", "delete", REGISTRATION + name, "/f"]))
        pkg = w.Package("[INSTALL]\n%s=app\\,?\n[UNINSTALL]\nName=%s\n" % (name, name), pkg_files)
        self.addCleanup(pkg.close)
        self.assertEqual(run([pkg.path("setup.exe"), "/S", "/D=C:\\Program Files (x86)\\" + name]), 0)
        installed = os.path.join(target, "sub", "v.dll")
        os.utime(os.path.join(self.victim, "v.dll"), ns=(os.stat(installed).st_atime_ns, os.stat(installed).st_mtime_ns))
        subprocess.run(["rm", "-rf", os.path.join(target, "sub")], check=True)
        os.symlink(self.victim, os.path.join(target, "sub"))
        code, log = self.uninstall(target)
        self.assertEqual(code, 3, log)
        self.assertIn("not removed: C:\\Program Files (x86)\\qvLinked\\sub\\v.dll (error 1920", log)
        self.victim_intact()

    def test_a_record_line_added_by_somebody_else_removes_nothing(self):
        code, target, _ = self.install("qvAppended")
        self.assertEqual(code, 0)
        with open(os.path.join(target, "uninstall.dat"), "ab") as f:
            f.write(record_line("w\tC:\\ProgramData\\qvVictim\\v.dll\t0").encode())
        code, log = self.uninstall(target)
        self.assertEqual(code, 7, log)
        self.assertIn("record not trusted", log)
        self.victim_intact()
        self.assertTrue(os.path.exists(os.path.join(target, "a.txt")))

    def test_a_record_planted_before_the_installation_is_not_carried_on(self):
        target = os.path.join(PROGRAM_FILES, "qvPlanted")
        os.makedirs(target, exist_ok=True)
        with open(os.path.join(target, "uninstall.dat"), "wb") as f:
            f.write(("qvSetup record 1\r\n" + record_line("w\tC:\\ProgramData\\qvVictim\\v.dll\t0")).encode())
        code, _, log = self.install("qvPlanted")
        self.assertEqual(code, 0, log)
        self.assertNotIn("record carried on", log)
        self.assertEqual(self.uninstall(target)[0], 0)
        self.victim_intact()

    def test_an_elevated_run_never_follows_a_location_from_hkcu(self):
        evil = os.path.join(DRIVE_C, "qvEvilRecord")
        os.makedirs(evil, exist_ok=True)
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", evil]))
        with open(os.path.join(evil, "uninstall.dat"), "wb") as f:
            f.write(("qvSetup record 1\r\n" + record_line("w\tC:\\ProgramData\\qvVictim\\v.dll\t0")).encode())
        key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qvFollowed"
        run(["reg", "add", key, "/v", "InstallLocation", "/d", "C:\\qvEvilRecord", "/f"])
        self.addCleanup(lambda: run(["reg", "delete", key, "/f"]))
        code, target, log = self.install("qvFollowed")
        self.assertEqual(code, 0, log)
        self.assertNotIn("qvEvilRecord", log)
        self.assertEqual(self.uninstall(target)[0], 0)
        self.victim_intact()

    def test_a_script_beside_the_uninstaller_does_not_make_it_a_setup_run(self):
        code, target, _ = self.install("qvBeside")
        self.assertEqual(code, 0)
        marker = os.path.join(PROGRAM_FILES, "qv_beside_ran.txt")
        self.addCleanup(lambda: os.path.exists(marker) and os.remove(marker))
        with open(os.path.join(target, "uninstall.ini"), "w") as f:
            f.write("[COMMAND]\n1=cmd.exe /c echo ran> \"C:\\Program Files (x86)\\qv_beside_ran.txt\",HIDE\n")
        code, log = self.uninstall(target)
        self.assertEqual(code, 0, log)
        self.assertFalse(os.path.exists(os.path.join(target, "a.txt")), "nothing was uninstalled")
        time.sleep(1)
        self.assertFalse(os.path.exists(marker), "the planted script's command ran")


class AllOrNothingTest(unittest.TestCase):
    """A recorded installation that ends before its end leaves the whole
    prefix, files and registry, exactly as it was before it."""

    TARGET = os.path.join(PROGRAM_FILES, "qvAllOrNothing")
    DIR = "/D=C:\\Program Files (x86)\\qvAllOrNothing"

    def setUp(self):
        temp = temp_folder()
        before = set(os.listdir(temp))
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", *(os.path.join(temp, p) for p in set(os.listdir(temp)) - before
                                                               if p.startswith("qvSetup-"))]))
        subprocess.run(["rm", "-rf", self.TARGET])
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", self.TARGET]))
        for key in ("HKCU\\Software\\qvAllOrNothing", "HKCU\\Software\\qvShared", REGISTRATION + "qvAoN"):
            self.addCleanup(lambda k=key: run(["reg", "delete", k, "/f"]))
        shared = os.path.join(DRIVE_C, "windows", "Fonts", "qv_aon.txt")
        with open(shared, "w") as f:
            f.write("the system's own")
        self.addCleanup(lambda: os.path.exists(shared) and os.remove(shared))
        run(["reg", "add", "HKCU\\Software\\qvShared", "/v", "Mode", "/t", "REG_EXPAND_SZ", "/d", "%old%", "/f"])

    def package(self, version):
        # The shared file is replaced before the installation folder (and
        # so the record's place) is known.
        ini = ("[INSTALL]\nShared=qv_aon.txt,%%WINDOWSDIR%%\\Fonts\nqvAllOrNothing=app\\,?\n"
               "[REGISTRY]\n1=HKCU\\Software\\qvAllOrNothing\\Version,%s\n2=HKCU\\Software\\qvShared\\Mode,%s\n"
               "3=HKCU\\Software\\qvAllOrNothing\\Deep\\%s\\Made,DWORD:1\n"
               "[UNINSTALL]\nName=All or Nothing\nId=qvAoN\nVersion=%s\n" % (version, version, version, version))
        # Many small files: a run killed at its first moved-aside one has not
        # moved them all, however busy the machine.
        files = {"app\\f%03d.bin" % i: version * 2000 for i in range(500)}
        files["app\\only-%s.txt" % version] = version
        files["qv_aon.txt"] = version
        pkg = w.Package(ini, files)
        self.addCleanup(pkg.close)
        # More values than a hidden run needs a moment for: time to close it.
        many = "".join("v%03d=HKCU\\Software\\qvAllOrNothing\\Many\\v%03d,%03d\n" % (i, i, i) for i in range(300))
        # An error once the shared file is replaced: an Id no registry key takes.
        for name, text in (("many.ini", ini.replace("[UNINSTALL]", many + "[UNINSTALL]")),
                           ("failing.ini", ini.replace("Id=qvAoN", "Id=qv\\AoN"))):
            with open(pkg.path(name), "w", newline="\r\n") as f:
                f.write(text)
        return pkg

    def snapshot(self):
        return files_of(DRIVE_C), registry()

    def assertSame(self, before, after):
        (files_before, registry_before), (files_after, registry_after) = before, after
        changed = {p for p in set(files_before) | set(files_after) if files_before.get(p, 0) != files_after.get(p, 0)}
        self.assertEqual({p for p in changed if not re.search(r"/Temp/qvSetup-[0-9a-f]{32}", p)}, set())
        keys = {k for k in set(registry_before) | set(registry_after) if registry_before.get(k) != registry_after.get(k)}
        # Wine keeps settings of its own there as programs start.
        self.assertEqual({k for k in keys if "\\Software\\Wine\\Temporary System Parameters" not in k}, set())

    def close_in_registry(self, pkg, log):
        """Runs many.ini hidden and closes it as a deployment tool would,
        once it writes its registry values."""
        proc = subprocess.Popen(["wine", pkg.path("setup.exe"), "many.ini", "/S", self.DIR, "/LOG=" + pkg.win(log)],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(w.wait_for(lambda: run(["reg", "query", "HKCU\\Software\\qvAllOrNothing\\Many", "/v", "v010"])
                                   == 0, 60), "the registry values were never reached")
        run(["taskkill", "/IM", "setup.exe"])
        self.assertEqual(proc.wait(timeout=60), 1)
        with open(pkg.path(log), encoding="utf-8-sig") as f:
            text = f.read()
        self.assertIn("undo: put back: C:\\windows\\Fonts\\qv_aon.txt", text)
        return text

    def test_a_run_ended_halfway_leaves_the_machine_as_it_was(self):
        one = self.package("one")
        two = self.package("two")
        pristine = self.snapshot()
        # A fresh installation closed while it writes its registry values.
        self.close_in_registry(one, "closed.log")
        self.assertSame(pristine, self.snapshot())
        # An error ends the run.
        self.assertEqual(run([one.path("setup.exe"), "failing.ini", "/S", self.DIR]), 4)
        self.assertSame(pristine, self.snapshot())

        self.assertEqual(run([one.path("setup.exe"), "/S", self.DIR]), 0)
        earlier = self.snapshot()
        # Over it, a run killed halfway through its files (its registry
        # values would take seconds more)...
        proc = subprocess.Popen(["wine", two.path("setup.exe"), "many.ini", "/S", self.DIR], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(w.wait_for(lambda: any(n.endswith(".old") for n in os.listdir(self.TARGET)), 60))
        proc.kill()  # by its own id: another checkout may be running this very test
        proc.wait(timeout=20)
        self.assertNotEqual(earlier[0], self.snapshot()[0], "the run was not killed halfway")
        # Anybody who may create files in the folder makes one under a name
        # the record gave a file that the run never got to move there.
        planted = self.plant_where_nothing_was_moved()
        # ...is undone by the next run, which is closed halfway in its turn:
        # it puts back what the run moved aside, and nothing else.
        log = self.close_in_registry(two, "next.log")
        self.assertIn("undoing that run first", log)
        self.assertIn("left where it is, not known to be the earlier content of ", log)
        files, keys = self.snapshot()
        with open(planted) as f:
            self.assertEqual(f.read(), "planted")
        del files[planted]
        self.assertSame(earlier, (files, keys))

    def plant_where_nothing_was_moved(self):
        with open(os.path.join(self.TARGET, "uninstall.dat"), "rb") as f:
            lines = f.read().decode("utf-8").split("\r\n")
        named = [l.split("\t")[2] for l in lines if l[9:11] == "A\t"]
        moved = {l.split("\t")[2] for l in lines if l[9:11] == "M\t"}
        names = [n.rsplit("\\", 1)[1] for n in named if n not in moved and n.startswith(self.DIR[3:] + "\\")]
        free = [n for n in names if not os.path.exists(os.path.join(self.TARGET, n))]
        self.assertTrue(free, "every file was moved aside")
        planted = os.path.join(self.TARGET, free[-1])
        with open(planted, "w") as f:
            f.write("planted")
        self.addCleanup(lambda: os.path.exists(planted) and os.remove(planted))
        return planted



class OtherVolumeTest(unittest.TestCase):
    """An installation on another file system than %TEMP%'s, where the
    uninstaller cannot move its own running file away."""

    def test_an_uninstaller_on_another_volume_goes_with_its_folder(self):
        volume = tempfile.mkdtemp(prefix="qv_volume_", dir="/dev/shm")
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", volume]))
        # Wine refuses a rename only across real file systems.
        self.assertNotEqual(os.stat(volume).st_dev, os.stat(DRIVE_C).st_dev)
        devices = os.path.join(PREFIX, "dosdevices")
        letter = next(x for x in "qrstuvwxy" if not os.path.lexists(os.path.join(devices, x + ":")))
        os.symlink(volume, os.path.join(devices, letter + ":"))
        self.addCleanup(lambda: os.remove(os.path.join(devices, letter + ":")))
        temp = temp_folder()
        before = set(os.listdir(temp))
        self.addCleanup(lambda: subprocess.run(["rm", "-rf", *(os.path.join(temp, p) for p in set(os.listdir(temp)) - before
                                                               if p.startswith("qvSetup-"))]))
        name = "qvOtherVolume"
        self.addCleanup(lambda: run(["reg", "delete", REGISTRATION + name, "/f"]))
        pkg = w.Package("[INSTALL]\n%s=app\\,?\n[UNINSTALL]\nName=%s\n" % (name, name),
                        {"app\\a.txt": "a", "app\\sub\\b.txt": "b"})
        self.addCleanup(pkg.close)
        folder = letter.upper() + ":\\Apps\\" + name
        self.assertEqual(run([pkg.path("setup.exe"), "/S", "/D=" + folder]), 0)
        self.assertTrue(os.path.exists(os.path.join(volume, "Apps", name, "uninstall.exe")))

        code = run([folder + "\\uninstall.exe", "/S", "/LOG=" + pkg.win("uninstall.log")])
        with open(pkg.path("uninstall.log"), encoding="utf-8-sig") as f:
            log = f.read()
        self.assertEqual(code, 0, log)
        # Everything the installation made goes, its folders and the
        # uninstaller too, once the uninstaller has ended.
        self.assertTrue(w.wait_for(lambda: not os.listdir(volume), 20), files_of(volume))

if __name__ == "__main__":
    w.EXE = sys.argv.pop(1)
    unittest.main(verbosity=2)
