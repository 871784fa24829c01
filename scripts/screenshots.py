#!/usr/bin/env python3
"""The README's pictures of the window: a small package installed in each
language, its finished window saved as docs/window-<language>.png.

    source scripts/env.sh; ensure_display; start_wine
    python3 scripts/screenshots.py build/win32/window/qvSetup.exe
"""
import os
import subprocess
import sys
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tests", "e2e"))
import window_test as w  # noqa: E402

w.EXE = sys.argv[1]
for language, title in (("zh", "示例程序"), ("en", "Example")):
    ini = ("[SETUP]\nLanguage=%s\n[GUI]\nTiTle=%s\n[INSTALL]\nExample=files\\,%%TEMPDIR%%\\qvShots\n" %
           (language, title))
    pkg = w.Package(ini, {"files\\a.txt": "a"}).start()
    win = w.find_window(title)
    time.sleep(3)
    out = os.path.join(root, "docs", "window-%s.png" % language)
    subprocess.run(["import", "-window", win, out], check=True)
    print(out)
    pkg.close()
