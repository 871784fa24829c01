#!/usr/bin/env python3
"""For whom and for which processor, on the Wine prefix (64-bit): a 64-bit
program's package lands in the 64-bit places and goes again, a per-user
package stays in the person's, and a run started without administrator
rights asks through the elevation prompt.

    scope_test.py path/to/qvSetup.exe path/to/limited.exe
"""
import os
import subprocess
import sys
import unittest

import window_test as w

PREFIX = os.environ["WINEPREFIX"]
DRIVE_C = os.path.join(PREFIX, "drive_c")
LIMITED = None
UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"


def run(args, timeout=120):
    return subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout).returncode


def reg_has(key, view, value=None):
    """Whether a key (and value) is there in the 32- or 64-bit registry view."""
    args = ["reg", "query", key] + (["/v", value] if value else []) + ["/reg:%d" % view]
    return run(args) == 0


def unix(windows_path):
    """The Linux path of a C: path in the prefix."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return os.path.join(DRIVE_C, *windows_path[3:].split("\\"))


def expanded(name):
    out = subprocess.run(["wine", "cmd", "/c", "echo", "%" + name + "%"], stdin=subprocess.DEVNULL,
                         capture_output=True, text=True).stdout
    return out.strip()


class ScopeTest(unittest.TestCase):
    def package(self, ini, files):
        pkg = w.Package(ini, files)
        self.addCleanup(pkg.close)
        return pkg

    def log(self, pkg, name):
        with open(pkg.path(name), encoding="utf-8-sig") as f:
            return f.read()

    def test_a_64_bit_program_goes_where_64_bit_programs_go_and_goes_again(self):
        target = os.path.join(DRIVE_C, "Program Files", "qvScope64")
        in_system = os.path.join(DRIVE_C, "windows", "system32", "qv_scope64.txt")
        for path in (target, in_system, os.path.join(DRIVE_C, "windows", "syswow64", "qv_scope64.txt")):
            subprocess.run(["rm", "-rf", path])
            self.addCleanup(subprocess.run, ["rm", "-rf", path])
        ini = ("[SETUP]\nScope=machine\nArchitecture=x64\n"
               "[INSTALL]\nqvScope64=app\\,?\nSys=qv_scope64.txt,%SYSTEMDIR%\n"
               "[REGISTRY]\n1=HKLM\\Software\\qvScope64\\Mode,on\n2=HKSCOPE\\Software\\qvScope64\\Scoped,yes\n"
               "[UNINSTALL]\nName=Scope 64\n")
        pkg = self.package(ini, {"app\\a.txt": "a", "qv_scope64.txt": "native"})
        self.addCleanup(run, ["reg", "delete", "HKLM\\Software\\qvScope64", "/f", "/reg:64"])
        self.addCleanup(run, ["reg", "delete", "HKLM\\" + UNINSTALL_KEY + "Scope 64", "/f", "/reg:64"])

        self.assertEqual(run([pkg.path("setup.exe"), "/S", "/LOG=" + pkg.win("install.log")]), 0)
        log = self.log(pkg, "install.log")
        self.assertIn("scope: machine (the script), architecture x64", log)
        # Not Program Files (x86), not SysWOW64, not WOW6432Node.
        self.assertTrue(os.path.exists(os.path.join(target, "a.txt")), log)
        with open(in_system) as f:
            self.assertEqual(f.read(), "native")
        self.assertTrue(reg_has("HKLM\\Software\\qvScope64", 64, "Mode"))
        self.assertTrue(reg_has("HKLM\\Software\\qvScope64", 64, "Scoped"))
        self.assertFalse(reg_has("HKCU\\Software\\qvScope64", 64))
        self.assertFalse(reg_has("HKLM\\Software\\qvScope64", 32))
        self.assertTrue(reg_has("HKLM\\" + UNINSTALL_KEY + "Scope 64", 64, "UninstallString"))
        self.assertFalse(reg_has("HKLM\\" + UNINSTALL_KEY + "Scope 64", 32))

        self.assertEqual(run(["C:\\Program Files\\qvScope64\\uninstall.exe", "/S"]), 0)
        self.assertTrue(w.wait_for(lambda: not os.path.exists(target), 20), "the folder stayed")
        self.assertFalse(os.path.exists(in_system))
        self.assertFalse(reg_has("HKLM\\Software\\qvScope64", 64, "Mode"))
        self.assertFalse(reg_has("HKLM\\" + UNINSTALL_KEY + "Scope 64", 64))

    def test_a_per_user_installation_stays_in_the_persons_places(self):
        programs = unix(expanded("LOCALAPPDATA") + "\\Programs")
        target = os.path.join(programs, "qvScopeUser")
        subprocess.run(["rm", "-rf", target])
        self.addCleanup(subprocess.run, ["rm", "-rf", target])
        ini = ("[SETUP]\nScope=user\n[INSTALL]\nqvScopeUser=app\\,?\n"
               "[REGISTRY]\n1=HKCU\\Software\\qvScopeUser\\Dir,%INSTALLDIR%\n"
               "2=HKSCOPE\\Software\\Classes\\.qvscopeuser\\,qvScopeUser.Document\n[UNINSTALL]\nName=Scope User\n")
        pkg = self.package(ini, {"app\\a.txt": "a"})
        self.addCleanup(run, ["reg", "delete", "HKCU\\Software\\qvScopeUser", "/f"])
        self.addCleanup(run, ["reg", "delete", "HKCU\\Software\\Classes\\.qvscopeuser", "/f"])
        self.addCleanup(run, ["reg", "delete", "HKCU\\" + UNINSTALL_KEY + "Scope User", "/f"])

        # As the person runs it: without administrator rights, never asking
        # for them (and an elevated run would not trust what HKCU says).
        self.assertEqual(run([LIMITED, pkg.win("setup.exe"), "/S", "/LOG=" + pkg.win("install.log")]), 0)
        log = self.log(pkg, "install.log")
        self.assertIn("scope: user (the script)", log)
        self.assertNotIn("elevation prompt", log)
        self.assertTrue(os.path.exists(os.path.join(target, "a.txt")), log)
        self.assertTrue(reg_has("HKCU\\" + UNINSTALL_KEY + "Scope User", 32, "UninstallString"))
        # HKSCOPE is the person's own root here: the file type is theirs alone.
        self.assertTrue(reg_has("HKCU\\Software\\Classes\\.qvscopeuser", 32))
        self.assertFalse(reg_has("HKLM\\Software\\Classes\\.qvscopeuser", 32))
        self.assertFalse(reg_has("HKLM\\" + UNINSTALL_KEY + "Scope User", 32))
        self.assertFalse(reg_has("HKLM\\" + UNINSTALL_KEY + "Scope User", 64))
        self.assertFalse(os.path.exists(os.path.join(DRIVE_C, "Program Files (x86)", "qvScopeUser")))

        uninstaller = expanded("LOCALAPPDATA") + "\\Programs\\qvScopeUser\\uninstall.exe"
        self.assertEqual(run([LIMITED, uninstaller, "/S"]), 0)
        self.assertTrue(w.wait_for(lambda: not os.path.exists(target), 20), "the folder stayed")
        self.assertFalse(reg_has("HKCU\\" + UNINSTALL_KEY + "Scope User", 32))
        self.assertFalse(reg_has("HKCU\\Software\\Classes\\.qvscopeuser", 32))

    def test_a_run_without_rights_starts_again_through_the_prompt(self):
        # Wine gives the program started again the same limited token (its
        # "runas" does not elevate): an installation for all users ends with
        # 9, one without a scope runs as the person, with the command line
        # it was given. An ASUSER command of the run started again is handed
        # back and started by the first run.
        target = os.path.join(DRIVE_C, "Program Files (x86)", "qv Scope Asked")
        subprocess.run(["rm", "-rf", target])
        self.addCleanup(subprocess.run, ["rm", "-rf", target])
        folder = "/D=C:\\Program Files (x86)\\qv Scope Asked"
        for scope, exit_code in (("machine", 9), ("", 0)):
            with self.subTest(scope=scope):
                ini = (("[SETUP]\nScope=%s\n" % scope if scope else "") + "[INSTALL]\nAsked=app\\,?\n" +
                       "[COMMAND]\n1=cmd /c echo person> \"%INSTALLDIR%\\asuser.txt\",HIDE,ASUSER\n")
                pkg = self.package(ini, {"app\\a.txt": "a"})
                args = ["/S", folder, "/LOG=" + pkg.win("run.log")]
                self.assertEqual(run([LIMITED, pkg.win("setup.exe"), *args]), exit_code)
                log = self.log(pkg, "run.log")
                self.assertIn("asking through the elevation prompt", log)
                self.assertIn("started again through the elevation prompt: /qvElevated " +
                              " ".join('"%s"' % a if " " in a else a for a in args), log)
                self.assertIn("elevated run ended with exit code %d" % exit_code, log)
                self.assertEqual(os.path.exists(os.path.join(target, "a.txt")), exit_code == 0, log)
                if exit_code == 0:
                    self.assertIn("handed back: the run without administrator rights starts it", log)
                    self.assertIn("started for the elevated run, as the person: cmd /c echo person>", log)
                    self.assertTrue(w.wait_for(lambda: os.path.exists(os.path.join(target, "asuser.txt")), 20), log)


class LanguageTest(unittest.TestCase):
    def test_auto_speaks_the_persons_language(self):
        pkg = w.Package("[SETUP]\nLanguage=auto\n[GUI]\nVisible=0\n", {})
        self.addCleanup(pkg.close)
        for locale, language in (("zh_CN.UTF-8", "zh"), ("en_US.UTF-8", "en"), ("de_DE.UTF-8", "en")):
            with self.subTest(locale=locale):
                env = dict(os.environ, LC_ALL=locale, LANG=locale)
                subprocess.run(["wine", pkg.path("setup.exe"), "/S", "/LOG=" + pkg.win("run.log")], env=env,
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
                with open(pkg.path("run.log"), encoding="utf-8-sig") as f:
                    self.assertIn("language: " + language, f.read())


if __name__ == "__main__":
    w.EXE = sys.argv.pop(1)
    LIMITED = sys.argv.pop(1)
    unittest.main(verbosity=2)
