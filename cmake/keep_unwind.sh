#!/usr/bin/env bash
# Link launcher for qvSetup.exe. Its linker script lets --gc-sections drop
# the unwind data (.eh_frame$NAME) of inline and template functions, so that
# unused library code goes; but the unwind data of a function that stays
# must stay too, or an exception thrown through it ends the program. The
# first link tells which code (.text$NAME) survives; the second keeps
# exactly those functions' unwind data.
#   keep_unwind.sh <the link command...>
set -euo pipefail

script="" out="" at=-1
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[$i]}" in
    -Wl,-T,*) script="${args[$i]#-Wl,-T,}" at=$i ;;
    -o) out="${args[$((i + 1))]}" ;;
  esac
done
[ -n "$script" ] && [ -n "$out" ] || exec "$@"

map="$out.first.map"
kept="${script%.ld}.kept.ld"
"$@" "-Wl,-Map=$map"
# Input sections listed after the memory map's heading were kept.
awk '/^Linker script and memory map/ { on = 1; next }
     on && /^ \.text\$/ { name = substr($1, 7); if (!(name in seen)) { seen[name] = 1; print "    KEEP(*(.eh_frame$" name "))" } }' \
  "$map" > "$map.keep"
awk -v keep="$map.keep" '
  /^ *\*\(\.eh_frame\$\*\)/ { while ((getline line < keep) > 0) print line }
  { print }' "$script" > "$kept"
grep -q 'KEEP(\*(\.eh_frame\$' "$kept" || { echo "keep_unwind.sh: no unwind data kept" >&2; exit 1; }
args[$at]="-Wl,-T,$kept"
"${args[@]}"
rm -f "$map" "$map.keep"
