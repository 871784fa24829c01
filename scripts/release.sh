#!/usr/bin/env bash
# Builds everything and makes build/release/qvSetup-<version>.zip for
# packagers who work on Windows: qvSetup.exe, qvpack.exe, the README and the
# example package (with its setup.exe, ready to run). The version comes
# from resources/version.h; the zip's entries are sorted and dated at the
# last commit, so the same sources give the same zip.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/bootstrap.sh
bash scripts/build.sh >/dev/null

version=$(sed -n 's/^#define QV_VERSION_TEXT "\(.*\)"$/\1/p' resources/version.h)
if [ -z "$version" ]; then
  echo "release: no QV_VERSION_TEXT in resources/version.h" >&2
  exit 1
fi
name="qvSetup-$version"
stage="build/release/$name"
rm -rf "$stage" "build/release/$name.zip"
mkdir -p "$stage/examples"

cp build/win32/window/qvSetup.exe "$stage/qvSetup.exe"
qvpack=build/win32/tools/qvpack/qvpack.exe
if [ -f "$qvpack" ]; then
  cp "$qvpack" "$stage/qvpack.exe"
else
  echo "release: note: $qvpack is not built, the zip goes without qvpack.exe"
fi
cp README.md "$stage/README.md"
cp -r examples/package "$stage/examples/package"
mkdir -p "$stage/examples/package/app/data/empty"  # git keeps no empty folders
cp build/win32/window/qvSetup.exe "$stage/examples/package/setup.exe"

stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)
python3 - "$stage" "build/release/$name.zip" "$name" "$stamp" <<'PY'
import os, sys, time, zipfile
stage, out, top, stamp = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
when = time.gmtime(max(stamp, 315532800))[:6]  # zip dates start in 1980
entries = []
for folder, dirs, files in os.walk(stage):
    dirs.sort()
    rel = os.path.relpath(folder, stage)
    base = top if rel == "." else top + "/" + rel.replace(os.sep, "/")
    entries.append((base + "/", None))
    entries += [(base + "/" + f, os.path.join(folder, f)) for f in sorted(files)]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for arcname, path in sorted(entries):
        info = zipfile.ZipInfo(arcname, when)
        info.create_system = 0  # MS-DOS attributes, as Windows' own zips
        if path is None:
            info.external_attr = 0x10  # a folder
            z.writestr(info, b"")
        else:
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0x20  # archive bit: a plain file
            with open(path, "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
PY
echo "release: build/release/$name.zip"
python3 -m zipfile -l "build/release/$name.zip" | sed 's/^/    /'
