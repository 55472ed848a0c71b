#!/bin/bash
# Smooths a frame sequence in SLICES slices with GNU parallel, on this
# machine (a slice a core) or on the machines of an ssh login file:
#
#   smooth-parallel.sh IN OUT FRAMES SLICES [parallel's options...]
#   smooth-parallel.sh '/shared/shot.####.exr' '/shared/smooth/shot.####.exr' 1-2400 8 \
#     --sshloginfile nodes.txt
#
# Run it again after a failure: each slice does only the frames whose output
# is not there yet. ORU names the oru program when it is not on the PATH.
set -euo pipefail
in="$1" out="$2" frames="$3" slices="$4"
shift 4
parallel --halt never "$@" -q "${ORU:-oru}" filter "$in" -o "$out" --frames "$frames" \
  --chunk "{}/$slices" -j 1 --skip-existing ::: $(seq 1 "$slices")
