#!/usr/bin/env python3
"""The setup window driven like a person would: real X clicks and keys by
xdotool on qvSetup.exe under Wine, screenshots read back pixel by pixel, and
the files the run leaves checked on disk.

    window_test.py path/to/qvSetup.exe
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

EXE = None


def sh(*args, check=True):
    return subprocess.run(args, check=check, capture_output=True, text=True).stdout


def wait_for(pred, timeout=20.0, step=0.1):
    end = time.time() + timeout
    while time.time() < end:
        value = pred()
        if value:
            return value
        time.sleep(step)
    return None


def find_window(name, timeout=20.0):
    def look():
        out = sh("xdotool", "search", "--onlyvisible", "--name", "^%s$" % name, check=False).split()
        return out[0] if out else None
    return wait_for(look, timeout)


def geometry(win):
    out = sh("xdotool", "getwindowgeometry", win)
    pos = out.split("Position: ")[1].split()[0].split(",")
    size = out.split("Geometry: ")[1].split()[0].split("x")
    return int(pos[0]), int(pos[1]), int(size[0]), int(size[1])


def click(win, x, y):
    sh("xdotool", "mousemove", "--window", win, str(x), str(y), "click", "1")


def keys(*names):
    sh("xdotool", "key", "--delay", "60", *names)


def clear_field(win, x, y):
    click(win, x, y)
    keys("End")
    sh("xdotool", "key", "--delay", "5", "--repeat", "120", "BackSpace")


def screenshot(win):
    """The window's pixels as rows of (r, g, b)."""
    data = subprocess.run(["import", "-window", win, "-depth", "8", "ppm:-"], check=True, capture_output=True).stdout
    # "P6", width, height, maximum, then one whitespace byte and the pixels.
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    w, h = int(fields[1]), int(fields[2])
    raw = data[at + 1:]
    return [[tuple(raw[(y * w + x) * 3:(y * w + x) * 3 + 3]) for x in range(w)] for y in range(h)]


class Package:
    """setup.exe, setup.ini and files in a temporary folder."""

    def __init__(self, ini, files=None):
        self.dir = tempfile.mkdtemp(prefix="qv_window_")
        shutil.copy(EXE, os.path.join(self.dir, "setup.exe"))
        with open(os.path.join(self.dir, "setup.ini"), "w", encoding="gbk", newline="\r\n") as f:
            f.write(ini)
        for rel, content in (files or {}).items():
            path = os.path.join(self.dir, *rel.split("\\"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(content)
        self.proc = None

    def path(self, *rel):
        return os.path.join(self.dir, *rel)

    def win(self, *rel):
        """The Windows name of a path below the package."""
        return "Z:" + self.path(*rel).replace("/", "\\")

    def start(self, *args):
        self.proc = subprocess.Popen(["wine", self.path("setup.exe"), *args], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self

    def ended(self, timeout=20.0):
        try:
            return self.proc.wait(timeout=timeout) is not None
        except subprocess.TimeoutExpired:
            return False

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def many_files(n):
    return {"many\\f%04d.txt" % i: "x" for i in range(n)}


class SetupWindowTest(unittest.TestCase):
    def package(self, ini, files=None):
        pkg = Package(ini, files)
        self.addCleanup(pkg.close)
        return pkg

    def button_centre(self, win):
        _, _, w, _ = geometry(win)
        return w // 2, 106

    def test_finished_window_waits_for_one_click(self):
        pkg = self.package("[GUI]\nTiTle=Finished\n[INSTALL]\nA=files\\,out\n", {"files\\a.txt": "a"}).start()
        win = find_window("Finished")
        self.assertTrue(win, "no window")
        # The title label's width plus 250, and the form's 131 pixels.
        _, _, w, h = geometry(win)
        self.assertEqual(h, 131)
        self.assertGreater(w, 250)
        self.assertTrue(wait_for(lambda: os.path.exists(pkg.path("out", "a.txt"))))
        time.sleep(0.5)
        shot = screenshot(win)
        if os.environ.get("QV_SHOTS"):
            subprocess.run(["import", "-window", win, os.path.join(os.environ["QV_SHOTS"], "finished.png")])
        red = [(x, y) for y in range(40, 62) for x in range(60, w - 20) if shot[y][x] == (255, 0, 0)]
        self.assertGreater(len(red), 20, "the status line is not red")
        self.assertFalse(pkg.ended(0.5), "a shown run waits for the user")
        click(win, *self.button_centre(win))
        self.assertTrue(pkg.ended(10), "one click on OK ends the program")

    def test_a_package_brings_its_own_face(self):
        colour = (10, 200, 30)
        for face, size in (("face.bmp", (250, 100)), ("small.bmp", (20, 10))):
            with self.subTest(face=face):
                ini = "[SETUP]\nFace=%s\n[GUI]\nTiTle=Face\n[INSTALL]\nA=files\\,out\n" % face
                pkg = self.package(ini, {"files\\a.txt": "a"})
                width, height = size
                row = bytes(reversed(colour)) * width + b"\0" * ((-3 * width) % 4)
                with open(pkg.path(face), "wb") as f:
                    f.write(b"BM" + struct.pack("<IHHI", 54 + len(row) * height, 0, 0, 54) +
                            struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(row) * height, 0, 0, 0, 0) +
                            row * height)
                pkg.start()
                win = find_window("Face")
                self.assertTrue(wait_for(lambda: os.path.exists(pkg.path("out", "a.txt"))))
                time.sleep(0.5)
                # Left of the icon and the bars: nothing but the face.
                pixel = screenshot(win)[60][8]
                # A picture of another size is not the face: the window keeps its own.
                self.assertEqual(pixel == colour, size == (250, 100), pixel)
                pkg.close()

    def assert_text_fits(self, win, rows, what):
        """No dark (text) pixel in the last ten columns of the given rows
        inside the frame (its outermost four)."""
        shot = screenshot(win)
        width = len(shot[0])
        dark = [x for y in rows for x in range(4, width - 4) if sum(shot[y][x]) < 200]
        self.assertTrue(dark, what + ": no text")
        self.assertLess(max(dark), width - 10, what + ": the text reaches the edge")

    def test_english_texts_fit(self):
        ini = "[SETUP]\nLanguage=en\n[GUI]\nTiTle=En\n[INSTALL]\nExample Program=files\\,?\n[UNINSTALL]\nName=En Demo\n"
        pkg = self.package(ini, {"files\\a.txt": "a"}).start()
        win = find_window("En")
        time.sleep(2)
        self.assert_text_fits(win, range(40, 60), "the folder prompt")
        _, _, width, _ = geometry(win)
        click(win, width - 15, 13)
        question = wait_for(lambda: sh("xdotool", "search", "--onlyvisible", "--name", "^Warning$",
                                       check=False).split(), 10)
        self.assertTrue(question, "no question in English")
        time.sleep(0.5)
        self.assert_text_fits(question[0], range(35, 65), "the quit question")
        keys("Return")  # the focus starts on No: go on
        time.sleep(0.5)
        click(win, *self.button_centre(win))  # the suggested folder
        target = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Program Files (x86)", "Example Program")
        self.addCleanup(subprocess.run, ["rm", "-rf", target])
        self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(target, "uninstall.exe")), 20))
        time.sleep(0.5)
        self.assert_text_fits(win, range(40, 60), "the finished window")
        click(win, *self.button_centre(win))
        self.assertTrue(pkg.ended(10))
        # Its uninstaller asks in English too.
        proc = subprocess.Popen(["wine", os.path.join(target, "uninstall.exe")], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        shown = find_window("En Demo")
        asked = wait_for(lambda: [x for x in sh("xdotool", "search", "--onlyvisible", "--name", "^En Demo$",
                                                  check=False).split() if x != shown], 20)
        self.assertTrue(asked, "no uninstall question")
        time.sleep(0.5)
        self.assert_text_fits(asked[0], range(35, 65), "the uninstaller's question")
        keys("Tab", "Return")  # Yes
        self.assertTrue(wait_for(lambda: not os.path.exists(os.path.join(target, "a.txt")), 20))
        time.sleep(0.5)
        click(shown, *self.button_centre(shown))
        proc.wait(timeout=20)

    def test_path_prompt(self):
        ini = ("[GUI]\nTiTle=Prompt\n[INSTALL]\nApp=files\\,?\nMore=more.txt,%INSTALLDIR%\\sub\n"
               "[REGISTRY]\n1=HKCU\\Software\\qvSetupTest\\Window\\Dir,%INSTALLDIR%\n")
        pkg = self.package(ini, {"files\\a.txt": "a", "more.txt": "m"}).start()
        win = find_window("Prompt")
        self.assertTrue(win)
        _, _, w, _ = geometry(win)
        time.sleep(1.0)
        # Empty the path box and confirm: a warning, and the prompt goes on.
        clear_field(win, 100, 77)
        click(win, *self.button_centre(win))
        warning = find_window("\u8b66\u544a", 10)  # 警告
        self.assertTrue(warning, "no warning for an empty path")
        keys("Return")
        self.assertTrue(wait_for(lambda: not find_window("\u8b66\u544a", 0.2), 10))
        self.assertFalse(os.path.exists(pkg.path("typed")))
        # A typed path: the files land there and later entries use it.
        clear_field(win, 100, 77)
        sh("xdotool", "type", "--delay", "20", pkg.win("typed"))
        click(win, *self.button_centre(win))
        self.assertTrue(wait_for(lambda: os.path.exists(pkg.path("typed", "sub", "more.txt")), 20))
        self.assertTrue(os.path.exists(pkg.path("typed", "a.txt")))
        if os.environ.get("QV_SHOTS"):
            subprocess.run(["import", "-window", win, os.path.join(os.environ["QV_SHOTS"], "prompt_done.png")])
        time.sleep(0.5)
        click(win, *self.button_centre(win))
        self.assertTrue(pkg.ended(10))
        out = sh("wine", "reg", "query", "HKCU\\Software\\qvSetupTest\\Window", "/v", "Dir", check=False)
        sh("wine", "reg", "delete", "HKCU\\Software\\qvSetupTest", "/f", check=False)
        self.assertIn(pkg.win("typed"), out)

    def test_closing_during_a_prompt_asks_to_quit(self):
        # The folder the prompt suggests: Program Files as a 32-bit program sees it.
        suggested = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Program Files (x86)", "qvCloseAsk")
        shutil.rmtree(suggested, ignore_errors=True)  # left by an interrupted run
        for how in ("close button", "alt+F4"):
            with self.subTest(how=how):
                pkg = self.package("[GUI]\nTiTle=CloseAsk\n[INSTALL]\nqvCloseAsk=files\\,?\n",
                                   {"files\\a.txt": "a"}).start()
                win = find_window("CloseAsk")
                self.assertTrue(win)
                _, _, w, _ = geometry(win)
                time.sleep(1.0)
                if how == "close button":
                    click(win, w - 22 + 7, 5 + 8)
                else:
                    click(win, w // 2, 50)
                    keys("alt+F4")
                question = find_window("\u8b66\u544a", 10)
                self.assertTrue(question, "no quit question")
                if how == "close button" and os.environ.get("QV_SHOTS"):
                    time.sleep(0.5)
                    subprocess.run(["import", "-window", question,
                                    os.path.join(os.environ["QV_SHOTS"], "quit_question.png")])
                keys("Tab", "Return")  # from No to Yes
                self.assertTrue(pkg.ended(10))
                self.assertEqual(pkg.proc.returncode, 1)
                self.assertFalse(os.path.exists(suggested), "a refused installation made its folder")

    def test_quit_during_copying(self):
        for answer_yes in (True, False):
            with self.subTest(yes=answer_yes):
                pkg = Package("", many_files(3000))
                self.addCleanup(pkg.close)
                marker = pkg.win("started.txt")
                with open(pkg.path("setup.ini"), "w", newline="\r\n") as f:
                    f.write("[GUI]\nTiTle=Busy\n[INSTALL]\nMany=many\\,out\n"
                            "[COMMAND]\n1=cmd.exe /c echo started> \"%s\",HIDE\n" % marker)
                pkg.start()
                win = find_window("Busy")
                self.assertTrue(win)
                self.assertTrue(wait_for(lambda: os.path.isdir(pkg.path("out")), 20))
                click(win, *self.button_centre(win))
                self.assertTrue(find_window("\u8b66\u544a", 10), "no quit question")
                if answer_yes:
                    keys("Tab", "Return")
                    self.assertTrue(pkg.ended(15))
                    self.assertEqual(pkg.proc.returncode, 1, "a run the user quit exits with 1")
                    copied = len(os.listdir(pkg.path("out")))
                    self.assertLess(copied, 3000)
                    time.sleep(1.0)
                    self.assertFalse(os.path.exists(pkg.path("started.txt")), "a command ran after quitting")
                else:
                    keys("Return")  # the focus starts on No
                    self.assertTrue(wait_for(lambda: os.path.exists(pkg.path("started.txt")), 60))
                    self.assertEqual(len(os.listdir(pkg.path("out"))), 3000)
                    self.assertFalse(pkg.ended(0.5))
                    click(win, *self.button_centre(win))
                    self.assertTrue(pkg.ended(10))
                    self.assertEqual(pkg.proc.returncode, 0)

    def test_dragging_the_title_moves_the_window(self):
        pkg = self.package("[GUI]\nTiTle=Drag\n").start()
        win = find_window("Drag")
        self.assertTrue(win)
        time.sleep(0.5)
        x0, y0, w, _ = geometry(win)
        sh("xdotool", "mousemove", "--window", win, str(w // 2), "12", "mousedown", "1")
        time.sleep(0.3)
        for step in range(1, 9):
            sh("xdotool", "mousemove", "--window", win, str(w // 2 + 5 * step), str(12 + 4 * step))
            time.sleep(0.05)
        sh("xdotool", "mouseup", "1")
        moved = wait_for(lambda: geometry(win)[:2] != (x0, y0), 5)
        self.assertTrue(moved, "the window did not move")
        click(win, *self.button_centre(win))
        self.assertTrue(pkg.ended(10))

    def test_no_display(self):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        for args, code, installed in (("/S", 0, True), ("", 4, False)):
            with self.subTest(args=args):
                pkg = self.package("[INSTALL]\nA=files\\,out\n", {"files\\a.txt": "a"})
                run = subprocess.run(["wine", pkg.path("setup.exe"), *args.split(), "/LOG=" + pkg.win("run.log")],
                                     env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
                # A silent run needs no window at all; a shown one that cannot
                # be shown is an error, not "an entry failed".
                self.assertEqual(run.returncode, code, run.stderr[-500:])
                self.assertEqual(os.path.exists(pkg.path("out", "a.txt")), installed)
                with open(pkg.path("run.log"), encoding="latin-1") as f:
                    log = f.read()
                self.assertIn("no window", log)
                self.assertIn("exit code %d" % code, log)

    def test_a_hidden_run_never_maps_a_window(self):
        pkg = self.package("[GUI]\nVisible=0\nTiTle=Hidden\n[INSTALL]\nMany=many\\,out\n", many_files(1500)).start()
        seen = False
        while pkg.proc.poll() is None:
            mapped = sh("xdotool", "search", "--onlyvisible", "--name", "^Hidden$", check=False)
            seen = seen or bool(mapped.strip())
            time.sleep(0.05)
        self.assertEqual(pkg.proc.returncode, 0)
        self.assertFalse(seen, "a hidden run showed its window")
        self.assertEqual(len(os.listdir(pkg.path("out"))), 1500)

    def test_hidden_runs_never_wait_on_a_box(self):
        # An error after the script was read: the record has no folder.
        ini = "[GUI]\nTiTle=HiddenError\n%s[INSTALL]\nA=files\\,out\n[UNINSTALL]\nName=x\n"
        for hidden_by, gui, args in (("the script", "Visible=0\n", ()), ("/S", "", ("/S",))):
            with self.subTest(hidden_by=hidden_by):
                pkg = Package(ini % gui, {"files\\a.txt": "a"})
                self.addCleanup(pkg.close)
                pkg.start(*args, "/LOG=" + pkg.win("run.log"))

                def box_or_end():
                    if pkg.proc.poll() is not None:
                        return "ended"
                    shown = sh("xdotool", "search", "--onlyvisible", "--name", "^HiddenError$", check=False)
                    return "box" if shown.strip() else None
                ending = wait_for(box_or_end, 30)
                if ending != "ended":
                    pkg.close()  # or the next case would find its box
                self.assertEqual(ending, "ended", "a hidden run waited on a box")
                self.assertEqual(pkg.proc.returncode, 4)
                with open(pkg.path("run.log"), encoding="latin-1") as f:
                    log = f.read()
                self.assertIn("error: [UNINSTALL] needs a Folder", log)
                self.assertFalse(os.path.exists(pkg.path("out")))


if __name__ == "__main__":
    EXE = sys.argv.pop(1)
    unittest.main(verbosity=2)
