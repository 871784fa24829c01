#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test layer:
# host unit tests (ASan+UBSan), Windows tests under Wine, whole-program runs.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/bootstrap.sh
. scripts/env.sh
bash scripts/build.sh

ensure_display
start_wine

status=0
echo "== host tests"
ctest --test-dir build/host --output-on-failure || status=1
echo "== fuzz (3 s per target)"
bash scripts/fuzz.sh 3 || status=1
echo "== Windows tests under Wine"
ctest --test-dir build/win32 --output-on-failure || status=1
exit $status
