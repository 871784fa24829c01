#!/usr/bin/env python3
"""An update against the full package, measured in the same run:
  - size: `qvpack patch` from version 1.0 to 1.1 of a real tree (Wine's own
    32-bit DLL folder), where 1.1 changes about 2% of the files: a few
    programs rebuilt (a few hundred bytes changed in three places of the
    code, a few KiB appended), a few files added and a few removed; the
    update against the full 1.1 package (target 0.05).
  - install time under Wine of the update over an installed 1.0 against the
    full 1.1 package's over the same 1.0 (target 0.5), each from a fresh 1.0
    installation, in turns, median and spread over the rounds.
    delta_bench.py qvpack qvSetup.exe [rounds]
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

REAL_TREE = "/usr/lib/i386-linux-gnu/wine/i386-windows"
SCRIPT = "[GUI]\r\nVisible=0\r\n[INSTALL]\r\nTree=files\\,?\r\n[UNINSTALL]\r\nId=qvDeltaBench\r\nVersion=%s\r\n"
CHANGED_SHARE = 0.02


def run(cmd):
    start = time.perf_counter()
    result = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (result.returncode, " ".join(cmd), result.stderr.decode()[-2000:]))
    return time.perf_counter() - start


def verdict(ratio, target):
    return "met" if ratio <= target else "missed"


def make_folder(root, name, exe, tree, version):
    folder = os.path.join(root, name)
    os.makedirs(folder)
    shutil.copy(exe, os.path.join(folder, "setup.exe"))
    with open(os.path.join(folder, "setup.ini"), "w", newline="") as f:
        f.write(SCRIPT % version)
    shutil.copytree(tree, os.path.join(folder, "files"), symlinks=False)
    return folder


def code_range(data):
    """The first section's raw bytes of a PE file (its code), or the middle half."""
    try:
        pe = int.from_bytes(data[0x3C:0x40], "little")
        optional = int.from_bytes(data[pe + 20:pe + 22], "little")
        table = pe + 24 + optional
        size = int.from_bytes(data[table + 16:table + 20], "little")
        start = int.from_bytes(data[table + 20:table + 24], "little")
        if data[pe:pe + 4] == b"PE\0\0" and 0 < start and start + size <= len(data) and size > 4096:
            return start, start + size
    except IndexError:
        pass
    return len(data) // 4, len(data) * 3 // 4


def rebuild(path, rnd):
    """A program rebuilt with small changes: a few hundred bytes in three
    places of its code, a few KiB more at its end."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    start, end = code_range(data)
    for _ in range(3):
        at = rnd.randrange(start, max(start + 1, end - 512))
        for i in range(at, min(at + rnd.randint(100, 400), len(data))):
            data[i] = rnd.randrange(256)
    tail = data[start:end][:rnd.randint(2048, 8192)]
    data += bytes(b ^ 0x5A for b in tail)
    with open(path, "wb") as f:
        f.write(data)


def make_release(root, exe):
    """1.0 and 1.1 of a product: 1.1 changes about 2% of 1.0's files."""
    old = make_folder(root, "v1.0", exe, REAL_TREE, "1.0")
    new = make_folder(root, "v1.1", exe, REAL_TREE, "1.1")
    files = os.path.join(new, "files")
    names = sorted(n for n in os.listdir(files) if os.path.isfile(os.path.join(files, n)))
    rnd = random.Random(11)
    count = max(3, round(len(names) * CHANGED_SHARE))
    programs = [n for n in names if n.lower().endswith((".dll", ".exe")) and os.path.getsize(os.path.join(files, n)) > 65536]
    rebuilt = rnd.sample(programs, count // 2)
    removed = rnd.sample([n for n in names if n not in rebuilt], count // 4)
    for n in rebuilt:
        rebuild(os.path.join(files, n), rnd)
    for n in removed:
        os.remove(os.path.join(files, n))
    added = count - len(rebuilt) - len(removed)
    for i in range(added):
        # New programs: code like the tree's, rearranged.
        source = open(os.path.join(files, rnd.choice(rebuilt)), "rb").read()
        pieces = [source[j:j + 4096] for j in range(0, len(source), 4096)]
        rnd.shuffle(pieces)
        with open(os.path.join(files, "added%d.dll" % i), "wb") as f:
            f.write(b"".join(pieces[:rnd.randint(4, 40)]))
    return old, new, len(names), len(rebuilt), added, len(removed)


def pack(qvpack, folder, out):
    run([qvpack, "pack", folder, "-o", out, "--stub", os.path.join(folder, "setup.exe"), "--force"])
    return os.path.getsize(out)


def win(path):
    return "Z:" + path.replace("/", "\\")


def fresh_wine():
    """A Wine server (and its services) started anew. One started before the
    packing runs a second or so slower per program after it on this
    machine, whose memory reclaim takes the idle server's pages meanwhile;
    both kinds of install paid it, which hid half the update's gain."""
    subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Its services outlive the program that starts them: no pipe of ours.
    for cmd in (["setsid", "wineserver", "-p"], ["wine", "cmd", "/c", "exit"]):
        subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def install_update(root, old_exe, new_exe, update, rounds):
    """Seconds of each kind of 1.1 install over a fresh 1.0, taken in turns
    after a round that is not counted."""
    target = os.path.join(root, "installed")
    times = {"full": [], "update": []}
    fresh_wine()
    for r in range(rounds + 1):
        order = [("full", new_exe), ("update", update)]
        for kind, exe in order if r % 2 == 0 else reversed(order):
            run(["wine", old_exe, "/S", "/D=" + win(target)])
            took = run(["wine", exe, "/S"])
            if r > 0:
                times[kind].append(took)
            run(["wine", os.path.join(target, "uninstall.exe"), "/S"])
    return times


def spread(values):
    ordered = sorted(values)
    return "median %.2f s (%.2f to %.2f)" % (ordered[len(ordered) // 2], ordered[0], ordered[-1])


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    qvpack, exe = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    if not os.path.isdir(REAL_TREE):
        print("(no %s: the update benchmark is skipped)" % REAL_TREE)
        return
    root = tempfile.mkdtemp(prefix="qv_dbench_", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        old, new, files, rebuilt, added, removed = make_release(root, exe)
        old_exe, new_exe, update = (os.path.join(root, n) for n in ("1.0.exe", "1.1.exe", "update.exe"))
        pack(qvpack, old, old_exe)
        full = pack(qvpack, new, new_exe)
        took = run([qvpack, "patch", old_exe, new_exe, "-o", update])
        size = os.path.getsize(update)
        print("== update 1.0 -> 1.1 of a real tree (%d files: %d programs rebuilt, %d added, %d removed)"
              % (files, rebuilt, added, removed))
        ratio = size / full
        print("size: update %d bytes, full 1.1 package %d bytes, ratio %.4f (target 0.05: %s); made in %.1f s"
              % (size, full, ratio, verdict(ratio, 0.05), took))
        times = install_update(root, old_exe, new_exe, update, rounds)
        full_s, update_s = sorted(times["full"])[rounds // 2], sorted(times["update"])[rounds // 2]
        ratio = update_s / full_s
        print("install over 1.0 (%d rounds): full 1.1 %s; update %s; ratio %.2f (target 0.5: %s)"
              % (rounds, spread(times["full"]), spread(times["update"]), ratio, verdict(ratio, 0.5)))
    finally:
        if os.environ.get("QV_KEEP"):
            print("kept:", root)
        else:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
