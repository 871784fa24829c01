#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) into build/fuzz and runs
# each for the given seconds (default 60) on a working copy of its seed
# corpus, replaying the kept crash inputs first. Exits non-zero when any
# target crashes; crash inputs land in build/fuzz/artifacts.
#   scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [seconds-per-target]" >&2
  exit 2
fi

targets=(fuzz_script fuzz_fields fuzz_registry fuzz_offset fuzz_status fuzz_bmp fuzz_jpeg_frame fuzz_package fuzz_branches fuzz_record)
out=build/fuzz

# clang and its fuzzer runtime come with bootstrap; a fresh machine gets them there.
runtime=$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a 2>/dev/null || true)
if ! command -v ninja >/dev/null || [ ! -f "$runtime" ]; then
  bash scripts/bootstrap.sh
fi
[ -f "$out/build.ninja" ] || cmake -S tests/fuzz -B "$out" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$out" >/dev/null

mkdir -p "$out/artifacts"
for t in "${targets[@]}"; do rm -f "$out/$t.rc" "$out/$t.log"; done
run_one() {
  local t=$1 corpus="$out/corpus-$1" dirs
  mkdir -p "$corpus"
  cp -f tests/fuzz/corpus/"$t"/* "$corpus"/
  dirs=("$corpus")
  [ -d "tests/fuzz/regressions/$t" ] && dirs+=("tests/fuzz/regressions/$t")
  set +e
  "$out/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$t-" "${dirs[@]}" >"$out/$t.log" 2>&1
  echo $? >"$out/$t.rc"
}

# As many targets at a time as there are processors.
jobs_max=$(nproc 2>/dev/null || echo 1)
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs_max" ]; do wait -n || true; done
  run_one "$t" &
done
wait

status=0
for t in "${targets[@]}"; do
  rc=$(cat "$out/$t.rc" 2>/dev/null || echo "?")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$t.log" | tail -1)
  if [ "$rc" = 0 ]; then
    printf '%-14s %10s runs  no crash\n' "$t" "${runs:-?}"
  else
    status=1
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$out/$t.log" | tail -1)
    printf '%-14s %10s runs  CRASH (exit %s) %s, log %s\n' "$t" "${runs:-?}" "$rc" "${artifact:-}" "$out/$t.log"
  fi
done
exit $status
