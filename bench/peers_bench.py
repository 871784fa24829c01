#!/usr/bin/env python3
"""qvSetup against its peers, every figure measured in the same run:

  - installers of the same payloads made by qvpack (the default level, and
    `--xz`: the "qvSetup xz" row, left out with a note while qvpack does not
    take the option), by NSIS (`SetCompressor /SOLID lzma` and
    `SetCompressor zlib`) and by wixl (an MSI);
  - payloads: Wine's own 32-bit PE tree (754 files, 550 MB), 5,000 files of
    4 KiB in 50 folders, and one file of 1 byte (installer size only);
  - for each installer: its size, the packer's processor time (user and
    system, all its threads: the packers run two at a time, so wall time
    would say little), hidden install time under Wine (best and median of
    the rounds, the installers taking turns, the target folder removed
    between rounds), the installing process's peak memory and the uninstall
    time (until the uninstaller has exited and the installation folder is
    gone);
  - each figure of both qvSetup rows as a ratio against each peer, and the
    goals (met or missed);
  - an install from the packed file against one from the folder it was
    packed from: the real tree as one [INSTALL] entry (the folder taking its
    turn among the installers) and as 25 entries (a folder per first letter);
  - the setup program's size;
  - with --window-curve: the real tree packed with `--window 8`, `32` and
    `128` (MiB), package size and the installer's peak memory for each;
    skipped with a note while qvpack does not take the option.

The results are printed, and written as a Markdown table and an SVG chart
(build/bench/bench.md and bench.svg); with --update-readme the chart goes to
docs/bench.svg and the table replaces what stands between the README's
`<!-- bench:start -->` and `<!-- bench:end -->`.

    peers_bench.py qvpack qvSetup.exe [rounds] [--update-readme] [--no-real-tree] [--window-curve]

(--no-real-tree: the small payloads only, for a quick look.)
"""
import concurrent.futures
import datetime
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the benchmarks
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from package_bench import REAL_TREE, small_tree  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
QV, QVXZ, LZMA, ZLIB, MSI = "qvSetup", "qvSetup xz", "NSIS lzma", "NSIS zlib", "MSI (wixl)"
# The qvSetup package's folder installed as it is: a baseline, not a row.
FOLDER = "qvSetup folder"
OURS = (QV, QVXZ)
TOOLS = (QV, QVXZ, LZMA, ZLIB, MSI)
PEERS = (LZMA, ZLIB, MSI)
REAL, SMALL, ONE = "real tree", "small files", "1-byte file"
COLOURS = {QV: "#2b7bb9", QVXZ: "#6fb3e0", LZMA: "#d9822b", ZLIB: "#e8b04b", MSI: "#7a8793"}
WINDOWS = (8, 32, 128)
MIB = 1024 * 1024
# Packers running at once: one per core, as each is mostly one thread.
PACKERS = max(1, min(2, os.cpu_count() or 1))


class Failed(Exception):
    pass


def win(path):
    """A Unix path as Wine's Z: drive names it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(cmd, ok=(0,), cwd=None):
    """Runs cmd; (seconds, peak resident memory in KiB, processor seconds of
    it and all it waited for)."""
    with tempfile.NamedTemporaryFile("r", prefix="qv_time_", suffix=".txt") as usage:
        start = time.perf_counter()
        result = subprocess.run(["/usr/bin/time", "-o", usage.name, "-f", "%M %U %S", *cmd],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd)
        took = time.perf_counter() - start
        figures = usage.read().split()
    if result.returncode not in ok:
        out = (result.stderr.decode(errors="replace").strip().splitlines()[-15:]
               + result.stdout.decode(errors="replace").strip().splitlines()[-15:])
        raise Failed("exit code %d: %s\n%s" % (result.returncode, " ".join(cmd), "\n".join(out)))
    try:
        peak, cpu = int(figures[-3]), float(figures[-2]) + float(figures[-1])
    except (IndexError, ValueError):
        peak, cpu = 0, 0.0
    return took, peak, cpu


def start_wineserver():
    """Keeps one Wine server up for the run, so no program pays for its
    start; True when this call started it (and the caller should end it)."""
    return subprocess.run(["wineserver", "-p"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, start_new_session=True).returncode == 0


def stop_wineserver(started):
    if started:
        subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def wait_until(test, timeout):
    end = time.perf_counter() + timeout
    while not test():
        if time.perf_counter() > end:
            return False
        time.sleep(0.005)
    return True


def nsis_helpers_running():
    """Is an NSIS uninstaller's copy of itself (%TEMP%\\~nsu*.tmp\\Un_*.exe) still running?"""
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if b"~nsu" in f.read().lower():
                        return True
            except OSError:
                pass
    return False


def count_files(top):
    return sum(len(names) for _, _, names in os.walk(top))


def tree_listing(tree):
    """(files, folders) below tree, relative, folders deepest first."""
    files, dirs = [], []
    for folder, subdirs, names in os.walk(tree):
        rel = os.path.relpath(folder, tree)
        for n in sorted(names):
            files.append(os.path.normpath(os.path.join(rel, n)))
        for d in sorted(subdirs):
            dirs.append(os.path.normpath(os.path.join(rel, d)))
    dirs.sort(key=lambda d: -d.count(os.sep))
    return files, dirs


def link_tree(src, dst):
    """A copy of src at dst: hard links where both are on one file system."""
    try:
        shutil.copytree(src, dst, copy_function=os.link)
    except OSError:
        shutil.rmtree(dst, ignore_errors=True)
        shutil.copytree(src, dst)


# --- the installers --------------------------------------------------------

def qv_script(name):
    return ("[GUI]\r\nVisible=0\r\n[INSTALL]\r\n%s=files\\,?\r\n"
            "[UNINSTALL]\r\nName=%s\r\nVersion=1.0.0\r\nPublisher=qvSetup bench\r\n" % (name, name))


def qv_folder(where, exe, tree, script):
    os.makedirs(where)
    shutil.copy(exe, os.path.join(where, "setup.exe"))
    with open(os.path.join(where, "setup.ini"), "w", newline="") as f:
        f.write(script)
    link_tree(tree, os.path.join(where, "files"))
    return where


def nsis_escape(text):
    return text.replace("$", "$$").replace('"', '$\\"')


def nsis_script(tree, name, compressor, out):
    files, dirs = tree_listing(tree)
    key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name
    lines = ["Unicode true", "SetCompressor " + compressor, "RequestExecutionLevel admin",
             'Name "%s"' % name, 'OutFile "%s"' % out, 'InstallDir "$PROGRAMFILES\\%s"' % name,
             "Section", '  SetOutPath "$INSTDIR"', '  File /r "%s/*"' % nsis_escape(tree),
             '  WriteUninstaller "$INSTDIR\\uninstall.exe"',
             '  WriteRegStr HKLM "%s" "DisplayName" "%s"' % (key, name),
             '  WriteRegStr HKLM "%s" "UninstallString" "$\\"$INSTDIR\\uninstall.exe$\\""' % key,
             '  WriteRegStr HKLM "%s" "QuietUninstallString" "$\\"$INSTDIR\\uninstall.exe$\\" /S"' % key,
             "SectionEnd", 'Section "Uninstall"']
    # Only what it installed, as qvSetup's uninstaller (not RMDir /r).
    lines += ['  Delete "$INSTDIR\\%s"' % nsis_escape(f.replace("/", "\\")) for f in files]
    lines += ['  RMDir "$INSTDIR\\%s"' % nsis_escape(d.replace("/", "\\")) for d in dirs]
    lines += ['  Delete "$INSTDIR\\uninstall.exe"', '  RMDir "$INSTDIR"',
              '  DeleteRegKey HKLM "%s"' % key, "SectionEnd", ""]
    return "\n".join(lines)


WXS = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="{name}" Language="1033" Version="1.0.0" Manufacturer="qvSetup bench"
           UpgradeCode="{upgrade}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="data.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="{name}">
          <!-- the folder itself, so that uninstalling removes it -->
          <Component Id="cmpInstallDir" Guid="{folder_guid}">
            <CreateFolder/>
            <RemoveFolder Id="rmInstallDir" On="uninstall"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1">
      <ComponentGroupRef Id="CG.files"/>
      <ComponentRef Id="cmpInstallDir"/>
    </Feature>
  </Product>
</Wix>
"""
GUIDS = {REAL: "5A0C7E21-3B44-4C1D-8E0F-1B2A3C4D5E0%d", SMALL: "5A0C7E21-3B44-4C1D-8E0F-1B2A3C4D5E1%d",
         ONE: "5A0C7E21-3B44-4C1D-8E0F-1B2A3C4D5E2%d"}


def tag_of(payload, tool):
    return payload.split()[0] + "-" + {QV: "qv", QVXZ: "qvxz", LZMA: "lzma", ZLIB: "zlib", MSI: "msi"}[tool]


def build(tool, payload, tree, work, exe, qvpack, folder):
    """Makes the installer (qvSetup's from `folder`); (its path, packing
    processor seconds)."""
    name = "qvBench-" + payload.split()[0]
    tag = tag_of(payload, tool)
    out_dir = os.path.join(work, "pkg-" + tag)
    os.makedirs(out_dir)
    if tool in OURS:
        out = os.path.join(out_dir, "setup.exe")
        _, _, cpu = run([qvpack, "pack", folder, "-o", out, "--stub", exe] + (["--xz"] if tool == QVXZ else []))
    elif tool in (LZMA, ZLIB):
        out = os.path.join(out_dir, "setup.exe")
        nsi = os.path.join(work, tag + ".nsi")
        with open(nsi, "w", encoding="utf-8") as f:
            f.write(nsis_script(tree, name, "/SOLID lzma" if tool == LZMA else "zlib", out))
        _, _, cpu = run(["makensis", "-V1", "-NOCD", nsi])
    else:
        out = os.path.join(out_dir, "setup.msi")
        wxs = os.path.join(work, tag + ".wxs")
        files_wxs = os.path.join(work, tag + "-files.wxs")
        with open(wxs, "w") as f:
            f.write(WXS.format(name=name, upgrade=GUIDS[payload] % 1, folder_guid=GUIDS[payload] % 2))
        _, _, heat = run(["sh", "-c", "find . -type f | wixl-heat -p ./ --directory-ref INSTALLDIR "
                          "--component-group CG.files --var var.SourceDir > " + shlex.quote(files_wxs)], cwd=tree)
        # wixl takes the sources' folder relative to where it runs.
        _, _, cpu = run(["wixl", "-D", "SourceDir=.", "-o", out, wxs, files_wxs], cwd=tree)
        cpu += heat
    return out, cpu


def install(tool, installer, target):
    """(seconds, peak memory in KiB) of a hidden install into target."""
    if tool in (QV, QVXZ, FOLDER, LZMA, ZLIB):
        took, peak, _ = run(["wine", installer, "/S", "/D=" + win(target)])  # NSIS: /D must be last
    else:
        took, peak, _ = run(["wine", "msiexec", "/i", win(installer), "/qn", "INSTALLDIR=" + win(target)])
    return took, peak


def uninstall(tool, installer, target):
    """Seconds until the uninstaller has ended and the folder is gone."""
    start = time.perf_counter()
    if tool in (QV, QVXZ, FOLDER):
        run(["wine", os.path.join(target, "uninstall.exe"), "/S"])
    elif tool in (LZMA, ZLIB):
        # Returns at once; its copy in %TEMP% does the work.
        run(["wine", os.path.join(target, "uninstall.exe"), "/S"])
    else:
        run(["wine", "msiexec", "/x", win(installer), "/qn", "INSTALLDIR=" + win(target)])
    gone = wait_until(lambda: not os.path.exists(target), 120)
    took = time.perf_counter() - start
    if tool in (LZMA, ZLIB):
        wait_until(lambda: not nsis_helpers_running(), 60)
    if not gone:
        raise Failed("%s: the uninstall left %s" % (tool, target))
    return took


# --- the report ------------------------------------------------------------

def fmt_size(n):
    return "%.1f MB" % (n / 1e6) if n >= 1e6 else "%.1f KB" % (n / 1e3)


def fmt_s(s):
    return "%.2f s" % s if s < 10 else "%.1f s" % s


def fmt_ratio(r):
    return "%.2f" % r if r is not None else "n/a"


def ratio(a, b):
    return a / b if a is not None and b else None


class Results:
    def __init__(self, rounds):
        self.rounds = rounds
        self.data = {}        # (payload, tool) -> {figure: value}
        self.notes = []       # printed and reported as they are
        self.many = None      # (folder s, packed s) of the 25-entry package
        self.entries = 25     # its entries
        self.window = None    # [(MiB, size, peak KiB)] or the reason it was skipped
        self.stub = 0         # the setup program's size

    def put(self, payload, tool, **figures):
        self.data.setdefault((payload, tool), {}).update(figures)

    def get(self, payload, tool, figure):
        return self.data.get((payload, tool), {}).get(figure)

    def one_entry(self):
        """(folder s, packed s) of the real tree as one entry, or None."""
        f, p = self.get(REAL, FOLDER, "install_best"), self.get(REAL, QV, "install_best")
        return (f, p) if f and p else None


FIGURES = (("size", "size", fmt_size), ("pack", "packing (processor)", fmt_s),
           ("install_best", "install best", fmt_s), ("install_median", "install median", fmt_s),
           ("peak", "peak memory", lambda k: "%.0f MiB" % (k / 1024)),
           ("uninstall_best", "uninstall best", fmt_s), ("uninstall_median", "uninstall median", fmt_s))


def print_ratios(res, payload):
    for ours in OURS:
        for key, label, _ in FIGURES:
            mine = res.get(payload, ours, key)
            if mine is None:
                continue
            cells = ["%s %s" % (peer, fmt_ratio(ratio(mine, res.get(payload, peer, key)))) for peer in PEERS]
            print("  %s / peer, %-22s %s" % (ours, label + ":", ", ".join(cells)))


def goals(res):
    """(text, measured ratio or value, target, unit)."""
    def vs(ours, payload, peer, key):
        return ratio(res.get(payload, ours, key), res.get(payload, peer, key))

    def peak(ours):
        peaks = [res.get(p, ours, "peak") for p in (REAL, SMALL) if res.get(p, ours, "peak")]
        return max(peaks) / 1024 if peaks else None
    one, many = res.one_entry(), res.many
    return [("qvSetup: packed against folder install, real tree, 1 entry", one and one[1] / one[0], 1.10, "x"),
            ("qvSetup: packed against folder install, %d entries" % res.entries, many and many[1] / many[0], 1.10,
             "x"),
            ("qvSetup: install, real tree, against NSIS lzma", vs(QV, REAL, LZMA, "install_best"), 0.20, "x"),
            ("qvSetup: install, small files, against NSIS lzma", vs(QV, SMALL, LZMA, "install_best"), 0.50, "x"),
            ("qvSetup: install, small files, against NSIS zlib", vs(QV, SMALL, ZLIB, "install_best"), 0.75, "x"),
            ("qvSetup: uninstall, small files, against NSIS lzma", vs(QV, SMALL, LZMA, "uninstall_best"), 0.50, "x"),
            ("qvSetup: peak memory installing", peak(QV), 160, "MiB"),
            ("qvSetup xz: size, real tree, against NSIS lzma", vs(QVXZ, REAL, LZMA, "size"), 0.96, "x"),
            ("qvSetup xz: install, real tree, against NSIS lzma", vs(QVXZ, REAL, LZMA, "install_best"), 0.50, "x"),
            ("qvSetup xz: peak memory installing", peak(QVXZ), 192, "MiB")]


def goal_cells(value, target, unit):
    shown = "n/a" if value is None else ("%.2f" % value if unit == "x" else "%.0f %s" % (value, unit))
    return shown, ("%.2f" % target if unit == "x" else "%d %s" % (target, unit)), verdict(value, target)


def verdict(value, target):
    return "n/a" if value is None else ("met" if value <= target else "missed")


class LoadSampler:
    """The 1-minute load average every few seconds, per phase of the run: the
    machine may be shared, and the figures mean more with it."""

    def __init__(self):
        self.samples = {}  # phase -> [load]
        self.phase = "start"
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.loop, daemon=True)
        self.thread.start()

    def loop(self):
        while True:
            self.samples.setdefault(self.phase, []).append(os.getloadavg()[0])
            if self.stop.wait(10):
                return

    def enter(self, phase):
        self.phase = phase
        self.samples.setdefault(phase, []).append(os.getloadavg()[0])

    def text(self):
        return "; ".join("%s %.1f (mean; highest %.1f)" % (phase, statistics.mean(v), max(v))
                         for phase, v in self.samples.items() if phase != "start")


def machine_line(load):
    cpu = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
        with open("/proc/meminfo") as f:
            mem = int(f.readline().split()[1]) / 1024 / 1024
    except OSError:
        mem = 0
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    return ("Measured on %s, %d cores, %.0f GiB of memory, %s, %s, under %s; load average (1 minute, this run's "
            "own work included: some 2 while packing, 1 while installing): %s (a machine shared with other work)."
            % (cpu, os.cpu_count() or 0, mem, platform.system() + " " + platform.release(),
               datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"), wine, load.text()))


def packed_against_folder(res):
    """Lines on the installs from the packed file against from its folder."""
    lines = []
    for what, pair in (("the real tree as one `[INSTALL]` entry (the folder taking its turn among the installers)",
                        res.one_entry()),
                       ("%d entries (the real tree in a folder per first letter, one `[INSTALL]` entry each)"
                        % res.entries, res.many)):
        if pair:
            lines.append("%s: from its folder %s, from the packed file %s, ratio %.2f."
                         % (what[0].upper() + what[1:], fmt_s(pair[0]), fmt_s(pair[1]), pair[1] / pair[0]))
    return lines


def markdown(res, machine, chart_link):
    out = [machine, ""]
    out.append("Each installer installs hidden into a folder on a memory file system (`/dev/shm`) under Wine; "
               "times are best / median of %d round(s), the installers taking turns; peak memory is the installing "
               "process's (`msiexec` for the MSI); uninstall runs until the uninstaller has ended and the folder "
               "is gone (NSIS's uninstaller, which returns at once and works on in a copy of itself, deletes the files "
               "it installed one by one, as qvSetup's does). qvSetup is packed at qvpack's default level, and with "
               "`--xz` for the qvSetup xz row; packing is the packer's processor time (user and system, all its "
               "threads), the packers running two at a time; each installer registers itself for Apps & features."
               % res.rounds)
    out.append("")
    out.append("The setup program (`qvSetup.exe`) is %s bytes (%s)." % ("{:,}".format(res.stub), fmt_size(res.stub)))
    out.append("")
    out.append("| payload | installer | size | packing (processor) | install (best / median) | peak memory "
               "| uninstall (best / median) |")
    out.append("|---|---|--:|--:|--:|--:|--:|")
    for payload in (REAL, SMALL, ONE):
        for tool in TOOLS:
            d = res.data.get((payload, tool))
            if not d:
                continue

            def pair(a, b):
                return "%s / %s" % (fmt_s(d[a]), fmt_s(d[b])) if a in d else "–"
            out.append("| %s | %s | %s | %s | %s | %s | %s |" % (
                payload, tool, fmt_size(d["size"]) if "size" in d else "–",
                fmt_s(d["pack"]) if "pack" in d else "–", pair("install_best", "install_median"),
                "%.0f MiB" % (d["peak"] / 1024) if "peak" in d else "–",
                pair("uninstall_best", "uninstall_median")))
    out.append("")
    out.append("qvSetup's figures divided by each peer's (below 1: qvSetup is smaller or faster):")
    out.append("")
    out.append("| payload | installer | figure | " + " | ".join(PEERS) + " |")
    out.append("|---|---|---|" + "--:|" * len(PEERS))
    for payload in (REAL, SMALL, ONE):
        for ours in OURS:
            for key, label, _ in FIGURES:
                if res.get(payload, ours, key) is None:
                    continue
                cells = [fmt_ratio(ratio(res.get(payload, ours, key), res.get(payload, p, key))) for p in PEERS]
                out.append("| %s | %s | %s | %s |" % (payload, ours, label, " | ".join(cells)))
    out.append("")
    out.append("| goal | measured | target | |")
    out.append("|---|--:|--:|---|")
    for text, value, target, unit in goals(res):
        out.append("| %s | %s | %s | %s |" % ((text,) + goal_cells(value, target, unit)))
    out.append("")
    for line in packed_against_folder(res):
        out.append(line)
        out.append("")
    if isinstance(res.window, list):
        out.append("Compression window (`qvpack --window`), real tree: " + "; ".join(
            "%d MiB: %s, peak memory %.0f MiB" % (w, fmt_size(s), k / 1024) for w, s, k in res.window) + ".")
        out.append("")
    elif res.window:
        out.append("Compression window: " + res.window)
        out.append("")
    for note in res.notes:
        out.append("Note: " + note)
        out.append("")
    out.append("![Installer size and install time of each installer](%s)" % chart_link)
    return "\n".join(out).rstrip() + "\n"


def svg_chart(res):
    """Bars of installer size and install time (best) per installer, for the real
    tree and the small files: four panels, one bar per installer."""
    panels = []
    for payload, what in ((REAL, "Wine's DLL folder, 754 files, 550 MB"), (SMALL, "5,000 files of 4 KiB")):
        panels.append(("%s: installer size (MB)" % what, payload, "size", lambda v: v / 1e6, "%.1f MB"))
        panels.append(("%s: install, best (s)" % what, payload, "install_best", lambda v: v, "%.2f s"))
    bar, gap, label_w, plot_w, pad = 20, 6, 110, 420, 16
    panel_h = 28 + len(TOOLS) * (bar + gap) + 10
    cols = 2
    width = cols * (label_w + plot_w + 90) + pad
    height = 44 + (len(panels) // cols) * panel_h + 30
    svg = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d" '
           'font-family="Helvetica, Arial, sans-serif" font-size="12">' % (width, height, width, height),
           '<rect width="100%" height="100%" fill="#ffffff"/>',
           '<text x="%d" y="24" font-size="15" font-weight="bold">qvSetup and its peers under Wine '
           '(smaller is better)</text>' % pad]
    for i, (title, payload, key, scale, fmt) in enumerate(panels):
        x0 = pad + (i % cols) * (label_w + plot_w + 90)
        y0 = 44 + (i // cols) * panel_h
        svg.append('<text x="%d" y="%d" font-weight="bold">%s</text>' % (x0, y0 + 14, title))
        values = [(t, res.get(payload, t, key)) for t in TOOLS]
        top = max([scale(v) for _, v in values if v is not None] or [1]) or 1
        for j, (tool, v) in enumerate(values):
            y = y0 + 24 + j * (bar + gap)
            svg.append('<text x="%d" y="%d" text-anchor="end">%s</text>' % (x0 + label_w - 8, y + bar - 6, tool))
            if v is None:
                svg.append('<text x="%d" y="%d" fill="#888888">not measured</text>' % (x0 + label_w, y + bar - 6))
                continue
            w = max(1.0, plot_w * scale(v) / top)
            svg.append('<rect x="%d" y="%d" width="%.1f" height="%d" fill="%s"/>' % (x0 + label_w, y, w, bar,
                                                                                     COLOURS[tool]))
            svg.append('<text x="%.1f" y="%d">%s</text>' % (x0 + label_w + w + 5, y + bar - 6, fmt % scale(v)))
    svg.append('<text x="%d" y="%d" fill="#555555">%d round(s); scripts/bench.sh (bench/peers_bench.py), '
               '%s</text>' % (pad, height - 10, res.rounds,
                              datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")))
    svg.append("</svg>")
    return "\n".join(svg) + "\n"


def update_readme(text):
    path = os.path.join(ROOT, "README.md")
    with open(path, encoding="utf-8") as f:
        readme = f.read()
    start, end = "<!-- bench:start -->", "<!-- bench:end -->"
    a, b = readme.find(start), readme.find(end)
    if a < 0 or b < a:
        sys.exit("README.md has no %s ... %s markers" % (start, end))
    readme = readme[:a + len(start)] + "\n" + text + readme[b:]
    with open(path, "w", encoding="utf-8") as f:
        f.write(readme)


# --- the run ---------------------------------------------------------------

def measure_rounds(res, payload, installers, work, expected_files):
    """Rounds of install and uninstall, the installers (and FOLDER, when
    given) taking turns."""
    tools = [t for t in TOOLS + (FOLDER,) if t in installers]
    times = {t: {"install": [], "uninstall": [], "peak": []} for t in tools}
    target = os.path.join(work, "target")
    for r in range(res.rounds):
        for tool in (tools if r % 2 == 0 else tools[::-1]):
            if tool not in installers:
                continue
            shutil.rmtree(target, ignore_errors=True)
            try:
                took, peak = install(tool, installers[tool], target)
                found = count_files(target)
                extra = {QV: 2, QVXZ: 2, FOLDER: 2, MSI: 0}.get(tool, 1)  # uninstall.exe (qvSetup: and its record)
                if found != expected_files + extra:
                    raise Failed("%s installed %d files, not %d" % (tool, found, expected_files + extra))
                gone = uninstall(tool, installers[tool], target)
                times[tool]["install"].append(took)
                times[tool]["peak"].append(peak)
                times[tool]["uninstall"].append(gone)
            except Failed as e:
                res.notes.append("%s, %s: %s" % (payload, tool, str(e).splitlines()[0]))
                print("  %s failed: %s" % (tool, e))
                del installers[tool]
            shutil.rmtree(target, ignore_errors=True)
    for tool in tools:
        t = times[tool]
        if t["install"]:
            res.put(payload, tool, install_best=min(t["install"]), install_median=statistics.median(t["install"]),
                    peak=max(t["peak"]), uninstall_best=min(t["uninstall"]),
                    uninstall_median=statistics.median(t["uninstall"]))
            print("  %-14s install %s best, %s median; peak memory %.0f MiB; uninstall %s best, %s median"
                  % (tool, fmt_s(min(t["install"])), fmt_s(statistics.median(t["install"])),
                     max(t["peak"]) / 1024, fmt_s(min(t["uninstall"])), fmt_s(statistics.median(t["uninstall"]))))


def many_folder(work, exe, tree):
    """The real tree split by first letter, one [INSTALL] entry per folder;
    (the folder, its entries)."""
    folder = os.path.join(work, "many")
    files = os.path.join(folder, "files")
    os.makedirs(files)
    shutil.copy(exe, os.path.join(folder, "setup.exe"))
    letters = sorted({n[0].lower() for n in os.listdir(tree)})
    for n in os.listdir(tree):
        src, dst = os.path.join(tree, n), os.path.join(files, n[0].lower(), n)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        if os.path.isdir(src):
            link_tree(src, dst)
        else:
            try:
                os.link(src, dst)
            except OSError:
                shutil.copy2(src, dst)
    with open(os.path.join(folder, "setup.ini"), "w", newline="") as f:
        f.write("[GUI]\r\nVisible=0\r\n[INSTALL]\r\n" + "".join(
            "E%02d=files\\%s\\,out\\%s\r\n" % (i + 1, l, l) for i, l in enumerate(letters)))
    return folder, len(letters)


def many_entries(res, folder, packed, tree):
    """Installs of the many-entry package from its folder and from the packed file, taking turns."""
    runs = {"folder": [], "packed": []}
    exes = {"folder": os.path.join(folder, "setup.exe"), "packed": packed}
    for r in range(res.rounds):
        for kind in (("folder", "packed") if r % 2 == 0 else ("packed", "folder")):
            out = os.path.join(os.path.dirname(exes[kind]), "out")
            shutil.rmtree(out, ignore_errors=True)
            runs[kind].append(run(["wine", exes[kind], "/S"])[0])
            if r == 0 and count_files(out) != count_files(tree):
                raise Failed("the %s install of %d entries copied %d files, not %d"
                             % (kind, res.entries, count_files(out), count_files(tree)))
            shutil.rmtree(out, ignore_errors=True)
    f, p = min(runs["folder"]), min(runs["packed"])
    res.many = (f, p)
    print("== %d entries (the real tree by first letter)" % res.entries)
    print("  install: folder %s, packed %s, ratio %.2f (target 1.10: %s)"
          % (fmt_s(f), fmt_s(p), p / f, verdict(p / f, 1.10)))


def window_curve(res, work, exe, qvpack, tree):
    print("== compression window (qvpack --window), real tree")
    folder = os.path.join(work, "window")
    os.makedirs(folder)
    shutil.copy(exe, os.path.join(folder, "setup.exe"))
    with open(os.path.join(folder, "setup.ini"), "w", newline="") as f:
        f.write("[GUI]\r\nVisible=0\r\n[INSTALL]\r\nTree=files\\,out\r\n")
    link_tree(tree, os.path.join(folder, "files"))
    curve = []
    try:
        for mib in WINDOWS:
            out_dir = os.path.join(work, "window_%d" % mib)
            os.makedirs(out_dir)
            packed = os.path.join(out_dir, "setup.exe")
            refused = refusal([qvpack, "pack", folder, "-o", packed, "--window", str(mib), "--stub", exe])
            if refused:
                res.window = "skipped: qvpack does not take `--window %d` (it says: %s)." % (mib, refused)
                print("  skipped: qvpack rejects --window %d (%s)" % (mib, refused))
                return
            size = os.path.getsize(packed)
            _, peak, _ = run(["wine", packed, "/S"])
            if count_files(os.path.join(out_dir, "out")) != count_files(tree):
                raise Failed("the --window %d package installed %d files" % (mib, count_files(os.path.join(
                    out_dir, "out"))))
            shutil.rmtree(out_dir)
            curve.append((mib, size, peak))
            print("  --window %3d: package %s, installer peak memory %.0f MiB" % (mib, fmt_size(size), peak / 1024))
        res.window = curve
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def refusal(cmd):
    """Runs a qvpack command; its first line of complaint when it fails, else None."""
    result = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode == 0:
        return None
    return (result.stderr.strip().splitlines() or ["exit code %d" % result.returncode])[0].strip()


def pack_all(res, jobs):
    """Runs the packing jobs, PACKERS at once, the longest first; {(payload,
    tool): installer path} of those that were made."""
    made = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=PACKERS) as pool:
        running = {pool.submit(job): (payload, tool) for _, payload, tool, job in
                   sorted(jobs, key=lambda j: -j[0])}
        for done in concurrent.futures.as_completed(running):
            payload, tool = running[done]
            try:
                path, cpu = done.result()
            except (Failed, OSError, subprocess.CalledProcessError) as e:
                res.notes.append("%s, %s: packing failed: %s" % (payload, tool, str(e).splitlines()[0]))
                print("  %s, %s: packing failed: %s" % (payload, tool, e))
                continue
            made[(payload, tool)] = path
            res.put(payload, tool, size=os.path.getsize(path), pack=cpu)
            print("  %-12s %-11s installer %s, %s of processor time packing"
                  % (payload, tool, fmt_size(os.path.getsize(path)), fmt_s(cpu)))
    return made


# Rough processor seconds of each packing job on this kind of machine, to
# start the longest first.
COST = {(REAL, QV): 230, (REAL, QVXZ): 300, (REAL, LZMA): 260, (REAL, ZLIB): 66, (REAL, MSI): 16,
        (SMALL, QV): 25, (SMALL, QVXZ): 25, (SMALL, LZMA): 50, (SMALL, ZLIB): 1, (SMALL, MSI): 2}


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    flags = [a for a in sys.argv[1:] if a.startswith("--")]
    if len(args) < 2 or any(f not in ("--update-readme", "--no-real-tree", "--window-curve") for f in flags):
        sys.exit(__doc__)
    qvpack, exe = os.path.abspath(args[0]), os.path.abspath(args[1])
    rounds = int(args[2]) if len(args) > 2 else 3
    load = LoadSampler()
    res = Results(rounds)
    res.stub = os.path.getsize(exe)
    print("setup program: %s bytes (%s)" % ("{:,}".format(res.stub), fmt_size(res.stub)))
    missing = [t for t in ("makensis", "wixl", "wixl-heat") if not shutil.which(t)]
    tools = [t for t in TOOLS if not (t in (LZMA, ZLIB) and "makensis" in missing)
             and not (t == MSI and {"wixl", "wixl-heat"} & set(missing))]
    if missing:
        res.notes.append("not installed: %s; their installers are left out" % ", ".join(missing))
        print("(%s)" % res.notes[-1])
    own_server = start_wineserver()

    work = tempfile.mkdtemp(prefix="qv_peers_", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        began = time.perf_counter()
        one = os.path.join(work, "one")
        os.makedirs(one)
        with open(os.path.join(one, "one.txt"), "wb") as f:
            f.write(b"1")
        payloads = [(SMALL, small_tree(work)), (ONE, one)]
        if "--no-real-tree" in flags:
            res.notes.append("the real tree was left out (--no-real-tree)")
        elif os.path.isdir(REAL_TREE):
            real = os.path.join(work, "real")
            shutil.copytree(REAL_TREE, real)  # once on the memory file system, linked from there
            payloads.insert(0, (REAL, real))
        else:
            res.notes.append("no %s: the real tree is left out" % REAL_TREE)
            print("(%s)" % res.notes[-1])

        # qvSetup's folders: packed twice (the default and --xz), and the real
        # tree's also installed as it is.
        folders = {p: qv_folder(os.path.join(work, "folder-" + p.split()[0]), exe, tree,
                                qv_script("qvBench-" + p.split()[0])) for p, tree in payloads}
        why = refusal([qvpack, "pack", folders[ONE], "-o", os.path.join(work, "probe.exe"), "--stub", exe, "--xz"])
        if why:
            tools.remove(QVXZ)
            res.notes.append("the qvSetup xz row is skipped: qvpack does not take `--xz` (it says: %s)." % why)
            print("(%s)" % res.notes[-1])

        print("== packing: %d payloads, %d packers at once" % (len(payloads), PACKERS))
        load.enter("packing")
        jobs = [(COST.get((payload, tool), 0), payload, tool,
                 lambda t=tool, p=payload, tree=tree: build(t, p, tree, work, exe, qvpack, folders[p]))
                for payload, tree in payloads for tool in tools]
        many = None
        if (REAL, os.path.join(work, "real")) in payloads:
            folder, res.entries = many_folder(work, exe, os.path.join(work, "real"))
            many = (folder, os.path.join(work, "many-packed", "setup.exe"))
            os.makedirs(os.path.dirname(many[1]))
            jobs.append((COST[(REAL, QV)], "%d entries" % res.entries, QV,
                         lambda: (many[1], run([qvpack, "pack", folder, "-o", many[1], "--stub", exe])[2])))
        made = pack_all(res, jobs)
        print("  (packing: %.0f s)" % (time.perf_counter() - began))
        load.enter("installing")

        for payload, tree in payloads:
            if payload == ONE:
                continue
            began = time.perf_counter()
            print("== %s (%d files, %.0f MB)" % (payload, count_files(tree),
                                                sum(os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(tree)
                                                    for n in ns) / 1e6))
            installers = {t: made[(payload, t)] for t in tools if (payload, t) in made}
            if payload == REAL and QV in installers:
                installers[FOLDER] = os.path.join(folders[payload], "setup.exe")
            measure_rounds(res, payload, installers, work, count_files(tree))
            print_ratios(res, payload)
            print("  (%s: %.0f s)" % (payload, time.perf_counter() - began))
        if many and ("%d entries" % res.entries, QV) in made:
            try:
                many_entries(res, many[0], many[1], os.path.join(work, "real"))
            except (Failed, OSError) as e:
                res.notes.append("the %d-entry install failed: %s" % (res.entries, str(e).splitlines()[0]))
                print("  failed: %s" % e)
        if "--window-curve" in flags and os.path.isdir(os.path.join(work, "real")):
            load.enter("window curve")
            try:
                window_curve(res, work, exe, qvpack, os.path.join(work, "real"))
            except (Failed, OSError) as e:
                res.notes.append("window curve failed: %s" % str(e).splitlines()[0])
                print("  failed: %s" % e)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        stop_wineserver(own_server)

    print("== goals")
    for line in packed_against_folder(res):
        print(line.replace("`", ""))
    for text, value, target, unit in goals(res):
        shown, wanted, met = goal_cells(value, target, unit)
        print("%-56s %8s (target %s: %s)" % (text, shown, wanted, met))

    update = "--update-readme" in flags
    out_dir = os.path.join(ROOT, "build", "bench")
    os.makedirs(out_dir, exist_ok=True)
    chart = svg_chart(res)
    load.stop.set()
    machine = machine_line(load)
    print(machine.split("; ", 1)[1])
    with open(os.path.join(out_dir, "bench.svg"), "w") as f:
        f.write(chart)
    with open(os.path.join(out_dir, "bench.md"), "w") as f:
        f.write(markdown(res, machine, "bench.svg"))
    print("table and chart: %s" % os.path.relpath(out_dir, os.getcwd()))
    if update:
        with open(os.path.join(ROOT, "docs", "bench.svg"), "w") as f:
            f.write(chart)
        update_readme(markdown(res, machine, "docs/bench.svg"))
        print("README.md's performance section and docs/bench.svg updated")


if __name__ == "__main__":
    main()
