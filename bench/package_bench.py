#!/usr/bin/env python3
"""One-file packages against their baselines, measured in the same run:
  - size: the package of a real tree (Wine's own 32-bit DLL folder) at the
    default level and at --best against `xz -9` over a tar of the tree
    (targets 1.10 and 1.05);
  - packing time at the default level against `xz -9 -T2` (target 1.00);
  - the setup program's size (target 500 KB).
The install from the packed file against the folder and the installer's
peak memory are measured by peers_bench.py.
    package_bench.py qvpack qvSetup.exe
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

REAL_TREE = "/usr/lib/i386-linux-gnu/wine/i386-windows"
SCRIPT = "[GUI]\r\nVisible=0\r\n[INSTALL]\r\nTree=files\\,out\r\n"


def timed(cmd, **kw):
    start = time.perf_counter()
    result = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, **kw)
    took = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (result.returncode, " ".join(cmd), result.stderr.decode()[-2000:]))
    return took


def verdict(ratio, target):
    return "met" if ratio <= target else "missed"


def make_folder(root, name, exe, tree):
    """A package folder: setup.exe, setup.ini and files\\ (the tree)."""
    folder = os.path.join(root, name)
    os.makedirs(folder)
    shutil.copy(exe, os.path.join(folder, "setup.exe"))
    with open(os.path.join(folder, "setup.ini"), "w", newline="") as f:
        f.write(SCRIPT)
    shutil.copytree(tree, os.path.join(folder, "files"), symlinks=False)
    return folder


def small_tree(root):
    tree = os.path.join(root, "small")
    rnd = random.Random(4096)
    words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9)))
             for _ in range(2000)]
    for d in range(50):
        os.makedirs(os.path.join(tree, "dir%02d" % d))
        for i in range(100):
            text = b" ".join(rnd.choice(words) for _ in range(800))[:4096]
            with open(os.path.join(tree, "dir%02d" % d, "f%03d.txt" % i), "wb") as f:
                f.write(text.ljust(4096, b"."))
    return tree


def pack(qvpack, folder, out, *extra):
    # Sealed behind the program under test (the folder's setup.exe), not
    # whichever one qvpack finds by default.
    took = timed([qvpack, "pack", folder, "-o", out, "--stub", os.path.join(folder, "setup.exe"), *extra])
    return took, os.path.getsize(out)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    qvpack, exe = sys.argv[1], sys.argv[2]
    stub = os.path.getsize(exe)
    print("setup program: %d bytes (%.0f KB; target 500 KB: %s)"
          % (stub, stub / 1000, verdict(stub, 500_000)))
    if not os.path.isdir(REAL_TREE):
        print("(no %s: the real tree is skipped)" % REAL_TREE)
        return
    root = tempfile.mkdtemp(prefix="qv_pbench_", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        folder = make_folder(root, "real_tree", exe, REAL_TREE)
        packed = os.path.join(root, "app.exe")
        pack_time, packed_size = pack(qvpack, folder, packed)
        xz = os.path.join(root, "tree.tar.xz")
        xz_time = timed(["sh", "-c", 'tar cf - -C "%s" . | xz -9 -T2 > "%s"' % (REAL_TREE, xz)])
        xz_size = os.path.getsize(xz)
        best = os.path.join(root, "best.exe")
        _, best_size = pack(qvpack, folder, best, "--best")
        print("== real tree")
        for name, size, target in (("default", packed_size, 1.10), ("--best", best_size, 1.05)):
            ratio = (size - stub) / xz_size
            print("size %-8s package %d bytes, xz -9 %d bytes, ratio %.3f (target %.2f: %s)"
                  % (name, size - stub, xz_size, ratio, target, verdict(ratio, target)))
        print("packing time: qvpack %.1f s, xz -9 -T2 %.1f s, ratio %.2f (target 1.00: %s)"
              % (pack_time, xz_time, pack_time / xz_time, verdict(pack_time / xz_time, 1.0)))
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
