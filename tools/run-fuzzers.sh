#!/usr/bin/env bash
# Runs every fuzz target of a build folder for a number of seconds each.
set -euo pipefail
build=${1:-build/fuzz}
seconds=${2:-60}
status=0
while IFS= read -r program; do
  name=$(basename "$program")
  corpus="$build/corpus/$name"; mkdir -p "$corpus" "$build/artifacts"
  seeds="fuzz/seeds/${name#fuzz_}"
  echo "== $name for ${seconds}s"
  "$program" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" "$corpus" $( [[ -d $seeds ]] && echo "$seeds" ) || status=1
done < <(find "$build" -type f -name 'fuzz_*' -perm -u+x | sort)
exit $status
