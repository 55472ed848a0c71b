#!/bin/bash
# Smooths a frame sequence on a Slurm cluster, one slice of the frames for
# each task of a job array:
#
#   sbatch --array=1-20 smooth.sbatch IN OUT FRAMES
#   sbatch --array=1-20 smooth.sbatch '/shared/shot.####.exr' '/shared/smooth/shot.####.exr' 1-2400
#
# Number the tasks from 1. A task that runs again (requeued when its node
# died, or submitted again) does only the frames whose output is not there
# yet. A task with a failed frame exits non-zero, so Slurm marks it failed;
# its log ends with a line counting the frames written, skipped and failed.
# ORU names the oru program when it is not on the PATH.
#SBATCH --job-name=oru-smooth
#SBATCH --cpus-per-task=4
#SBATCH --requeue
#SBATCH --output=oru-smooth-%A_%a.log
set -euo pipefail
in="$1" out="$2" frames="$3"
exec "${ORU:-oru}" filter "$in" -o "$out" --frames "$frames" \
  --chunk "${SLURM_ARRAY_TASK_ID}/${SLURM_ARRAY_TASK_COUNT}" \
  -j "${SLURM_CPUS_PER_TASK:-1}" --skip-existing
