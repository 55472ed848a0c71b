#!/bin/sh
# The scan's AVX2 build must give the linker nothing built for AVX2 that it
# may take for the rest of the module: a weak (shared) definition, such as a
# template from a header, compiled with AVX2 could stand in for the SSE2
# build's own and stop the module on a processor without AVX2. Weak
# definitions are allowed only as every other file would compile them.
# Arguments: objdump, then the module's object files.
objdump="$1"
shift
for object in "$@"; do
  case "$object" in
    *plane_scan_avx2*) ;;
    *) continue ;;
  esac
  # The weak functions' code, each headed by its name.
  "$objdump" -d --no-show-raw-insn "$object" >"${TMPDIR:-/tmp}/avx2_object.$$" || exit 1
  weak=$("$objdump" -t "$object" | awk '$2 == "w" && $3 == "F" {print $NF}')
  found=0
  for name in $weak; do
    if awk -v name="<$name>:" '$2 == name {on = 1; next} /^$/ {on = 0} on' \
      "${TMPDIR:-/tmp}/avx2_object.$$" |
      grep -Eq '%ymm|[[:space:]]v[a-z0-9]+[[:space:]]|[[:space:]](andn|bextr|blsi|blsmsk|blsr|bzhi|pdep|pext|rorx|sarx|shlx|shrx|mulx|lzcnt|popcnt)[[:space:]]'; then
      echo "$object: $name is weak and built for AVX2" >&2
      found=1
    fi
  done
  rm -f "${TMPDIR:-/tmp}/avx2_object.$$"
  [ "$found" = 0 ] && echo "$object: $(echo "$weak" | grep -c .) weak functions, none built for AVX2"
  exit "$found"
done
echo "no AVX2 build of the scan among the objects" >&2
exit 77
