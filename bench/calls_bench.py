#!/usr/bin/env python3
"""System calls per installed file under Wine, for a hidden install of small
files (4 KiB each, in 5 folders) by:
  - qvSetup packed with qvpack, its script with [UNINSTALL] and without;
  - qvSetup from its folder (the script with [UNINSTALL]);
  - NSIS (`SetCompressor /SOLID lzma`, with its uninstaller and registry key).

Each installer runs traced (WINEDEBUG=+relay, limited to ntdll's Nt* entry
points: the calls the rest of the system makes into the kernel layer) with
a few files and with more; the difference of the two counts divided by the
difference in files is what each further file costs, start-up cancelling
out. Each pair of runs is repeated and the lower count kept, as thread
timing can add a wait or two.

    calls_bench.py qvpack qvSetup.exe [files] [--base N] [--repeat N]

files (default 500) and --base (default 100): the two sizes; --repeat
(default 2): traced runs of each size.
"""
import collections
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ beside the benchmarks
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peers_bench import (  # noqa: E402
    nsis_helpers_running, nsis_script, qv_script, start_wineserver, stop_wineserver, wait_until, win)

NTDLL = "/usr/lib/i386-linux-gnu/wine/i386-windows/ntdll.dll"
DEBUG_KEY = "HKCU\\Software\\Wine\\Debug"
# The prefix's default leaves out calls made from kernel32 and advapi32:
# keep those, as they are the installers' own file and registry work.
FROM_EXCLUDE = "winex11.drv;winemac.drv"
FOLDERS = 5
CALL = re.compile(rb"^[0-9a-f]+:Call ntdll\.(Nt\w+)\(", re.M)

PACKED, BARE, FOLDER, NSIS = ("qvSetup packed", "qvSetup packed, no [UNINSTALL]", "qvSetup from its folder",
                              "NSIS lzma")
KINDS = (PACKED, BARE, FOLDER, NSIS)


def nt_exports(path):
    """Names of ntdll's exports that start with Nt, read from its PE export table."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, opt_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    data_dirs = opt + (96 if struct.unpack_from("<H", data, opt)[0] == 0x10B else 112)
    export_rva = struct.unpack_from("<I", data, data_dirs)[0]
    table = [struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for size, virtual, _, raw in table:
            if virtual <= rva < virtual + size:
                return rva - virtual + raw
        raise ValueError("RVA %#x is in no section" % rva)

    exp = offset(export_rva)
    count, names_rva = struct.unpack_from("<I", data, exp + 24)[0], struct.unpack_from("<I", data, exp + 32)[0]
    names = []
    for i in range(count):
        at = offset(struct.unpack_from("<I", data, offset(names_rva) + 4 * i)[0])
        name = data[at:data.index(b"\0", at)].decode()
        if re.match(r"Nt[A-Z]", name):
            names.append(name)
    return names


def wine(*args, debug="-all", **kw):
    env = dict(os.environ, WINEDEBUG=debug)
    return subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, env=env, **kw)


def reg_value(name):
    out = wine("reg", "query", DEBUG_KEY, "/v", name, capture_output=True, text=True).stdout
    for line in out.splitlines():
        fields = line.split(None, 2)
        if len(fields) == 3 and fields[0] == name:
            return fields[2]
    return None


def reg_set(name, value):
    if value is None:
        wine("reg", "delete", DEBUG_KEY, "/v", name, "/f", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    else:
        wine("reg", "add", DEBUG_KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f", stdout=subprocess.DEVNULL,
             stderr=subprocess.DEVNULL, check=True)


def make_tree(root, files):
    """files of 4 KiB of text in FOLDERS folders."""
    words = [b"lorem", b"ipsum", b"dolor", b"sit", b"amet", b"setup", b"files", b"wine", b"bench"]
    for i in range(files):
        folder = os.path.join(root, "dir%d" % (i % FOLDERS))
        os.makedirs(folder, exist_ok=True)
        text = b" ".join(words[(i * 7 + j) % len(words)] for j in range(800))[:4096]
        with open(os.path.join(folder, "f%04d.txt" % i), "wb") as f:
            f.write(text)
    return root


def build(kind, work, files, qvpack, exe):
    """The installer of `files` files; the command that installs it into a target."""
    name = "qvCalls"
    tree = make_tree(os.path.join(work, "tree%d" % files), files)
    where = os.path.join(work, "%s-%d" % (KINDS.index(kind), files))
    os.makedirs(where)
    if kind == NSIS:
        out = os.path.join(where, "setup.exe")
        nsi = os.path.join(where, "setup.nsi")
        with open(nsi, "w", encoding="utf-8") as f:
            f.write(nsis_script(tree, name, "/SOLID lzma", out))
        subprocess.run(["makensis", "-V1", "-NOCD", nsi], check=True, stdout=subprocess.DEVNULL)
        return out
    folder = os.path.join(where, "folder")
    os.makedirs(folder)
    shutil.copy(exe, os.path.join(folder, "setup.exe"))
    script = qv_script(name)
    if kind == BARE:
        script = script[:script.index("[UNINSTALL]")]
    with open(os.path.join(folder, "setup.ini"), "w", newline="") as f:
        f.write(script)
    shutil.copytree(tree, os.path.join(folder, "files"))
    if kind == FOLDER:
        return os.path.join(folder, "setup.exe")
    out = os.path.join(where, "app.exe")
    subprocess.run([qvpack, "pack", folder, "-o", out, "--stub", exe], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL)
    return out


def remove(kind, target):
    """Undoes an install, the registration too, untraced."""
    uninstaller = os.path.join(target, "uninstall.exe")
    if kind != BARE and os.path.exists(uninstaller):
        wine(uninstaller, "/S", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: not os.path.exists(target), 60)
        if kind == NSIS:
            wait_until(lambda: not nsis_helpers_running(), 60)
    shutil.rmtree(target, ignore_errors=True)


def traced_install(kind, installer, target, log):
    with open(log, "wb") as f:
        result = wine(installer, "/S", "/D=" + win(target), debug="+relay", stdout=subprocess.DEVNULL, stderr=f)
    if result.returncode != 0:
        sys.exit("%s: exit code %d" % (kind, result.returncode))
    with open(log, "rb") as f:
        return collections.Counter(m.decode() for m in CALL.findall(f.read()))


def count_files(top):
    return sum(len(names) for _, _, names in os.walk(top))


def measure(kind, installers, work, repeat):
    """{call: count} for each size, the lower total of `repeat` runs."""
    target = os.path.join(work, "target")
    log = os.path.join(work, "relay.log")
    best = {}
    for files, installer in installers.items():
        # Once untraced, so that nothing is done for the first time in the traced runs.
        remove(kind, target)
        wine(installer, "/S", "/D=" + win(target), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        remove(kind, target)
        for _ in range(repeat):
            counts = traced_install(kind, installer, target, log)
            found = count_files(target)
            if found < files:
                sys.exit("%s installed %d files, not %d" % (kind, found, files))
            remove(kind, target)
            if files not in best or sum(counts.values()) < sum(best[files].values()):
                best[files] = counts
    return best


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    opts = dict(a[2:].split("=", 1) if "=" in a else (a[2:], "") for a in sys.argv[1:] if a.startswith("--"))
    if len(args) < 2 or set(opts) - {"base", "repeat"}:
        sys.exit(__doc__)
    qvpack, exe = os.path.abspath(args[0]), os.path.abspath(args[1])
    files = int(args[2]) if len(args) > 2 else 500
    base, repeat = int(opts.get("base") or 100), int(opts.get("repeat") or 2)
    if files <= base:
        sys.exit("files must be more than --base")
    kinds = [k for k in KINDS if k != NSIS or shutil.which("makensis")]
    if NSIS not in kinds:
        print("(makensis is not installed: NSIS is left out)")

    own_server = start_wineserver()
    # Wine's services up before any traced run, away from our pipes (they
    # would hold them open).
    wine("cmd", "/c", "exit", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    saved = {n: reg_value(n) for n in ("RelayInclude", "RelayFromExclude")}
    work = tempfile.mkdtemp(prefix="qv_calls_", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    per_file = {}
    try:
        reg_set("RelayInclude", ";".join("ntdll." + n for n in nt_exports(NTDLL)))
        reg_set("RelayFromExclude", FROM_EXCLUDE)
        for kind in kinds:
            installers = {n: build(kind, work, n, qvpack, exe) for n in (base, files)}
            counts = measure(kind, installers, work, repeat)
            names = set(counts[base]) | set(counts[files])
            per_file[kind] = {n: (counts[files][n] - counts[base][n]) / (files - base) for n in names}
            print("%-32s %6.2f calls per file (%d calls for %d files, %d for %d)"
                  % (kind, sum(per_file[kind].values()), sum(counts[files].values()), files,
                     sum(counts[base].values()), base))
    finally:
        for n, v in saved.items():
            reg_set(n, v)
        shutil.rmtree(work, ignore_errors=True)
        stop_wineserver(own_server)

    print("\nntdll Nt* calls per installed file (%d against %d files of 4 KiB in %d folders, hidden install):"
          % (files, base, FOLDERS))
    kinds = list(per_file)
    shown = sorted({n for k in kinds for n, v in per_file[k].items() if abs(v) >= 0.05},
                   key=lambda n: -max(per_file[k].get(n, 0) for k in kinds))
    heads = ["packed", "packed, no [UNINSTALL]", "folder", "NSIS lzma"]
    heads = [heads[KINDS.index(k)] for k in kinds]
    width = max(len(h) for h in heads) + 2
    print("%-28s" % "call" + "".join(h.rjust(width) for h in heads))
    for n in shown:
        print("%-28s" % n + "".join(("%.2f" % per_file[k].get(n, 0)).rjust(width) for k in kinds))
    rest = [sum(v for n, v in per_file[k].items() if n not in shown) for k in kinds]
    if any(abs(r) >= 0.005 for r in rest):
        print("%-28s" % "(others)" + "".join(("%.2f" % r).rjust(width) for r in rest))
    print("%-28s" % "total" + "".join(("%.2f" % sum(per_file[k].values())).rjust(width) for k in kinds))


if __name__ == "__main__":
    main()
