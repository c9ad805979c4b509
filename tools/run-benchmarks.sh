#!/usr/bin/env bash
# Runs every benchmark program of a build folder.
set -euo pipefail
build=${1:-build/release}
status=0
while IFS= read -r program; do
  echo "== $(basename "$program")"
  "$program" || status=1
done < <(find "$build" -type f -name 'bench_*' -perm -u+x | sort)
exit $status
