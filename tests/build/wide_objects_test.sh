#!/bin/sh
# The scan's wide builds (AVX2, AVX-512) must give the linker nothing built
# for their instructions that it may take for the rest of the module: a weak
# (shared) definition, such as a template from a header, compiled with AVX2
# could stand in for the SSE2 build's own and stop the module on a processor
# without AVX2. Weak definitions are allowed only as every other file would
# compile them. Every wide build's object is checked.
# Arguments: objdump, then the module's object files.
objdump="$1"
shift
listing="${TMPDIR:-/tmp}/wide_object.$$"
checked=0
failed=0
for object in "$@"; do
  case "$object" in
    */engine/fast/x86_avx2.cpp.o | */engine/fast/x86_avx512.cpp.o) ;;
    *) continue ;;
  esac
  checked=$((checked + 1))
  # The weak functions' code, each headed by its name.
  "$objdump" -d --no-show-raw-insn "$object" >"$listing" || exit 1
  weak=$("$objdump" -t "$object" | awk '$2 == "w" && $3 == "F" {print $NF}')
  found=0
  for name in $weak; do
    if awk -v name="<$name>:" '$2 == name {on = 1; next} /^$/ {on = 0} on' "$listing" |
      grep -Eq '%[yz]mm|%k[0-7]|[[:space:]]v[a-z0-9]+[[:space:]]|[[:space:]](andn|bextr|blsi|blsmsk|blsr|bzhi|pdep|pext|rorx|sarx|shlx|shrx|mulx|lzcnt|popcnt|k[a-z]+[bwdq])[[:space:]]'; then
      echo "$object: $name is weak and built for a wide build's instructions" >&2
      found=1
      failed=1
    fi
  done
  rm -f "$listing"
  [ "$found" = 0 ] && echo "$object: $(echo "$weak" | grep -c .) weak functions, none built for its instructions"
done
if [ "$checked" = 0 ]; then
  echo "no wide build of the scan among the objects" >&2
  exit 77
fi
exit "$failed"
