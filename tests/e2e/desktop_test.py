#!/usr/bin/env python3
"""Shortcuts, PATH entries and file types on the Wine prefix, for all users
and for one person: each shortcut read back through the shell, the PATH
compared byte for byte, running programs told, and all of it gone again after
uninstalling, with the person's own left as it was.

    desktop_test.py qvSetup.exe limited.exe lnkinfo.exe listener.exe
"""
import os
import subprocess
import sys
import tempfile
import unittest

import window_test as w

PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
LIMITED = LNKINFO = LISTENER = None
MACHINE_ENV = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"
USER_ENV = "HKCU\\Environment"


def wine(args, timeout=120):
    return subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)


def expanded(name):
    return wine(["cmd", "/c", "echo", "%" + name + "%"]).stdout.decode().strip()


def unix(windows_path):
    return os.path.join(DRIVE_C, *windows_path[3:].split("\\"))


def read_path(key):
    """PATH's type and text as reg query shows them; none when absent."""
    out = wine(["reg", "query", key, "/v", "Path"]).stdout.decode("utf-8", "replace")
    for line in out.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[0].lower() == "path":
            return parts[1], parts[2] if len(parts) > 2 else ""
    return None


def set_path(key, kind, text):
    assert wine(["reg", "add", key, "/v", "Path", "/t", kind, "/d", text, "/f"]).returncode == 0


def shortcut(lnk):
    """target, arguments, working folder, icon, icon index, description."""
    out = tempfile.mktemp(suffix=".txt", dir=DRIVE_C)
    assert wine([LNKINFO, "C:\\" + lnk[len(DRIVE_C) + 1:].replace("/", "\\"),
                 "C:\\" + os.path.basename(out)]).returncode == 0, lnk
    with open(out, encoding="utf-8") as f:
        fields = f.read().split("\n")[:6]
    os.remove(out)
    return fields


class DesktopTest(unittest.TestCase):
    def test_shortcuts_path_and_file_types_come_and_go_for_each_scope(self):
        notes = os.path.join(DRIVE_C, "qv_notes.txt")
        listener = subprocess.Popen(["wine", LISTENER, "C:\\qv_notes.txt"], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (os.path.exists(notes) and os.remove(notes), listener.wait(timeout=20)))
        self.assertTrue(w.wait_for(lambda: os.path.exists(notes), 20), "the listener did not start")
        for scope in ("user", "machine"):
            with self.subTest(scope=scope):
                self.scope_round_trip(scope, notes)

    def scope_round_trip(self, scope, notes):
        machine = scope == "machine"
        env = MACHINE_ENV if machine else USER_ENV
        before = read_path(env)
        self.addCleanup(lambda: set_path(env, before[0], before[1]) if before else
                        wine(["reg", "delete", env, "/v", "Path", "/f"]))
        # Long, expandable, with a name only the system's expansion resolves.
        person = "%SystemRoot%\\system32;" + ";".join("C:\\Tools\\t%04d" % i for i in range(230))
        self.assertGreater(len(person), 2048)
        set_path(env, "REG_EXPAND_SZ", person)

        if machine:
            menu = unix(expanded("ProgramData") + "\\Microsoft\\Windows\\Start Menu\\Programs")
            desktop = unix(expanded("PUBLIC") + "\\Desktop")
            startup = os.path.join(menu, "StartUp")
            folder = "C:\\Program Files (x86)\\qvDesk " + scope
        else:
            roaming = expanded("APPDATA")
            menu = unix(roaming + "\\Microsoft\\Windows\\Start Menu\\Programs")
            desktop = unix(expanded("USERPROFILE") + "\\Desktop")
            startup = os.path.join(menu, "StartUp")
            folder = expanded("LOCALAPPDATA") + "\\Programs\\qvDesk " + scope
        # Wine links the person's desktop to the Linux home folder; Windows
        # keeps a folder there, and we never remove through a link.
        if os.path.islink(desktop):
            os.remove(desktop)
            os.makedirs(desktop)
        target = unix(folder)
        for path in (target, os.path.join(menu, "qvDesk"), os.path.join(desktop, "qvDesk.lnk"),
                     os.path.join(startup, "qvDesk.lnk")):
            subprocess.run(["rm", "-rf", path])
            self.addCleanup(subprocess.run, ["rm", "-rf", path])
        ini = ("[SETUP]\nScope=%s\n[INSTALL]\nqvDesk=app\\,?\n" % scope +
               "[REGISTRY]\n1=HKCU\\Software\\Classes\\.qvdesk\\,qvDesk.File\n"
               "[SHORTCUTS]\nqvDesk\\qvDesk Help=%INSTALLDIR%\\help.txt,STARTMENU,--page \"one two\","
               "%INSTALLDIR%\\app.ico,2,%TEMPDIR%,Opens the help\n"
               "qvDesk=%INSTALLDIR%\\help.txt,DESKTOP\nStart=%INSTALLDIR%\\help.txt,startup\n"
               "[PATH]\nBin=%INSTALLDIR%\\bin\nSame=%WINDOWSDIR%\\system32\n"
               "[UNINSTALL]\nName=qvDesk " + scope + "\n")
        pkg = w.Package(ini, {"app\\help.txt": "help", "app\\app.ico": "", "app\\bin\\x.txt": "x"})
        self.addCleanup(pkg.close)
        self.addCleanup(wine, ["reg", "delete", "HKCU\\Software\\Classes\\.qvdesk", "/f"])
        # As the person runs it for himself; as a deployment tool would for all.
        runner = [] if machine else [LIMITED]
        with open(notes, "w"):
            pass
        for _ in range(2):
            result = wine([*runner, pkg.win("setup.exe"), "/S", "/D=" + folder,
                           "/LOG=" + pkg.win("install.log")]).returncode
            with open(pkg.path("install.log"), encoding="utf-8-sig") as f:
                self.assertEqual(result, 0, f.read())

        help_lnk = os.path.join(menu, "qvDesk", "qvDesk Help.lnk")
        self.assertEqual(shortcut(help_lnk), [folder + "\\help.txt", '--page "one two"', expanded("TEMP"),
                                              folder + "\\app.ico", "2", "Opens the help"])
        self.assertEqual(shortcut(os.path.join(desktop, "qvDesk.lnk"))[:3], [folder + "\\help.txt", "", folder])
        self.assertTrue(os.path.exists(os.path.join(startup, "Start.lnk")))
        kind, text = read_path(env)
        # Ours once at the end, after two runs; system32 was there as %SystemRoot%\system32.
        self.assertEqual((kind, text), ("REG_EXPAND_SZ", person + ";" + folder + "\\bin"))
        with open(notes, encoding="utf-8") as f:
            self.assertIn("Environment", f.read())

        # The person puts a folder of his own first and a shortcut of his own
        # beside ours.
        set_path(env, "REG_EXPAND_SZ", "C:\\Mine;" + text)
        with open(os.path.join(desktop, "mine.lnk"), "wb") as f:
            f.write(b"")
        self.addCleanup(lambda: os.path.exists(os.path.join(desktop, "mine.lnk")) and
                        os.remove(os.path.join(desktop, "mine.lnk")))
        uninstaller = folder + "\\uninstall.exe"
        result = wine([*runner, uninstaller, "/S", "/LOG=" + pkg.win("uninstall.log")]).returncode
        with open(pkg.path("uninstall.log"), encoding="utf-8-sig") as f:
            self.assertEqual(result, 0, f.read())
        self.assertTrue(w.wait_for(lambda: not os.path.exists(target), 20), "the folder stayed")
        self.assertFalse(os.path.exists(os.path.join(menu, "qvDesk")), "the Start menu folder stayed")
        self.assertFalse(os.path.exists(os.path.join(desktop, "qvDesk.lnk")))
        self.assertFalse(os.path.exists(os.path.join(startup, "Start.lnk")))
        self.assertTrue(os.path.exists(os.path.join(desktop, "mine.lnk")))
        self.assertEqual(read_path(env), ("REG_EXPAND_SZ", "C:\\Mine;" + person))


if __name__ == "__main__":
    w.EXE = sys.argv.pop(1)
    LIMITED, LNKINFO, LISTENER = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
