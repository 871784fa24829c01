#!/usr/bin/env python3
"""Window timings under Wine + Xvfb, each against a baseline of the same run:
  - process start to the first painted window: qvSetup.exe against a bare
    Win32 window program (target: within 1.5x);
  - a visible install of 5,000 files of 4 KiB in 50 folders against a hidden
    install of the same tree (target: within 1.25x).
    window_bench.py qvSetup.exe bare_window.exe [rounds]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def sh(*args):
    return subprocess.run(args, capture_output=True, text=True).stdout


def painted(name):
    """The window is mapped and shows something other than black."""
    ids = sh("xdotool", "search", "--onlyvisible", "--name", "^%s$" % name).split()
    if not ids:
        return False
    data = subprocess.run(["import", "-window", ids[0], "-depth", "8", "-crop", "1x1+200+10", "ppm:-"],
                          capture_output=True).stdout
    pixel = data[-3:]
    return len(pixel) == 3 and pixel != b"\0\0\0"


def first_paint(cmd, name):
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not painted(name):
        time.sleep(0.005)
        if time.perf_counter() - start > 60:
            break
    took = time.perf_counter() - start
    proc.kill()
    proc.wait()
    return took


def install(exe, folder, visible):
    marker = os.path.join(folder, "done.txt")
    if os.path.exists(marker):
        os.remove(marker)
    shutil.rmtree(os.path.join(folder, "out"), ignore_errors=True)
    with open(os.path.join(folder, "setup.ini"), "w", newline="\r\n") as f:
        f.write("[GUI]\nVisible=%d\nTiTle=Bench\n[INSTALL]\nTree=tree\\,out\n"
                "[COMMAND]\n1=cmd.exe /c echo done> \"Z:%s\",HIDE\n" % (1 if visible else 0, marker.replace("/", "\\")))
    start = time.perf_counter()
    proc = subprocess.Popen(["wine", os.path.join(folder, "setup.exe")], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not os.path.exists(marker):
        time.sleep(0.01)
    took = time.perf_counter() - start
    proc.kill()
    proc.wait()
    return took


def main():
    exe, bare = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    folder = tempfile.mkdtemp(prefix="qv_wbench_", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        shutil.copy(exe, os.path.join(folder, "setup.exe"))
        with open(os.path.join(folder, "setup.ini"), "w") as f:
            f.write("[GUI]\nTiTle=Paint\n")
        qv_paint, bare_paint = [], []
        for _ in range(0 if os.environ.get("NO_PAINT") else rounds):
            qv_paint.append(first_paint(["wine", os.path.join(folder, "setup.exe")], "Paint"))
            bare_paint.append(first_paint(["wine", bare], "Bare"))
        q, b = statistics.median(qv_paint or [1]), statistics.median(bare_paint or [1])
        print("first paint: qvSetup %.0f ms, bare window %.0f ms, ratio %.2f (target 1.50: %s)"
              % (q * 1000, b * 1000, q / b, "met" if q / b <= 1.5 else "missed"))

        block = b"q" * 4096
        for d in range(50):
            os.makedirs(os.path.join(folder, "tree", "dir%02d" % d))
            for i in range(100):
                with open(os.path.join(folder, "tree", "dir%02d" % d, "f%03d.bin" % i), "wb") as f:
                    f.write(block)
        visible, hidden = [], []
        for r in range(rounds):
            order = (True, False) if r % 2 == 0 else (False, True)
            for v in order:
                (visible if v else hidden).append(install(exe, folder, v))
        v, h = statistics.median(visible), statistics.median(hidden)
        print("5,000 files: visible %.0f ms, hidden %.0f ms, ratio %.2f (target 1.25: %s)"
              % (v * 1000, h * 1000, v / h, "met" if v / h <= 1.25 else "missed"))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
