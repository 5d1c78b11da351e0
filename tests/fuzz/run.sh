#!/usr/bin/env bash
# run.sh <fuzz target> <seed folder> <runs> [regression input...]
# Fuzzes from the seeds for a fixed number of runs, finding new inputs in a
# scratch folder of its own (the seeds in the repository stay as they are),
# then runs each regression input once. Fails on any crash or broken check.
set -euo pipefail
target=$1 seeds=$2 runs=$3
shift 3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/corpus" "$scratch/artifacts"
"$target" -runs="$runs" -seed=1 -max_len=4096 -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
  -artifact_prefix="$scratch/artifacts/" "$scratch/corpus" "$seeds" || {
  status=$?
  for found in "$scratch"/artifacts/*; do
    [ -e "$found" ] || continue
    echo "input that failed ($(basename "$found")), in base64:"
    base64 -w 0 "$found"
    echo
  done
  exit "$status"
}
if [ "$#" -gt 0 ]; then
  "$target" -runs=1 -artifact_prefix="$scratch/artifacts/" "$@"
fi
