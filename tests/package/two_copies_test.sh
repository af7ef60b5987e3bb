#!/usr/bin/env bash
# Two copies of the installed program run side by side: the tool takes no
# lock and keeps no state, so neither refuses to start or ends the other, and
# neither leaves a file in its home directory.
#   two_copies_test.sh PROGRAM
set -euo pipefail
program=$1
[ -x "$program" ] || { echo "FAIL: no program at $program"; exit 1; }

scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch/home" "$scratch/runtime" "$scratch/cache"
chmod 700 "$scratch/runtime"
# Font caches are the system's, not the tool's state: keep them out of HOME.
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/runtime XDG_CACHE_HOME=$scratch/cache QT_QPA_PLATFORM=offscreen
unset XDG_CONFIG_HOME XDG_DATA_HOME
for copy in 1 2; do
    "$program" > "$scratch/out$copy" 2>&1 &
    pids+=($!)
done

sleep 3
failures=0
for copy in 1 2; do
    pid=${pids[copy - 1]}
    if ! kill -0 "$pid" 2>/dev/null; then
        status=0
        wait "$pid" || status=$?
        echo "FAIL: copy $copy ended with status $status:"
        cat "$scratch/out$copy"
        failures=$((failures + 1))
    fi
done
left=$(find "$scratch/home" -mindepth 1)
[ -z "$left" ] || { echo "FAIL: files left in the home directory:"; echo "$left"; failures=$((failures + 1)); }

[ $failures -eq 0 ] || exit 1
echo "both copies were running after 3 s: ${pids[*]}"
