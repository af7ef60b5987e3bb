#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded
# time, starting from the committed seed corpora. Exits non-zero on a finding.
#   scripts/fuzz.sh [SECONDS]      (default 60, or HOROLAB_FUZZ_SECONDS)
#   HOROLAB_FUZZ_DIR               build tree (default build-fuzz)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages "${HOROLAB_RUN_PACKAGES[@]}" "${HOROLAB_TEST_PACKAGES[@]}"

seconds="${1:-${HOROLAB_FUZZ_SECONDS:-60}}"
dir="${HOROLAB_FUZZ_DIR:-$HOROLAB_ROOT/build-fuzz}"
targets=(ntp_answer server_text nts_fields strict_host target_key mode_probes)

# Only the logic library and the targets: no Qt layer, no tests.
if [ ! -f "$dir/build.ninja" ]; then
    CXX=clang++ cmake -S "$HOROLAB_ROOT" -B "$dir" -G Ninja \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DHOROLAB_FUZZ=ON -DHOROLAB_SANITIZE=address,undefined \
        -DHOROLAB_BUILD_TESTS=OFF -DHOROLAB_BUILD_BENCH=OFF
fi
cmake --build "$dir" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

# Runs one target; its lines are printed together when it ends.
fuzz_one() {
    local t="$1"
    # New inputs go to a scratch corpus so the committed seeds stay small.
    local work="$dir/corpus/$t" artifacts="$dir/findings/$t/" log="$dir/fuzz_$t.log"
    mkdir -p "$work" "$artifacts"
    if "$dir/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -max_len=2048 -print_final_stats=1 -artifact_prefix="$artifacts" \
            "$work" "$HOROLAB_ROOT/fuzz/corpus/$t" >"$log" 2>&1; then
        echo "== fuzz_$t: ${seconds}s"
        grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" | sed "s/^/   /" || true
    else
        echo "== fuzz_$t: ${seconds}s: found a fault; the input is in $artifacts, the log is $log:"
        tail -40 "$log"
        return 1
    fi
}

# One target per processor at a time; xargs fails when any of them did.
export -f fuzz_one
export dir seconds HOROLAB_ROOT
printf '%s\n' "${targets[@]}" | xargs -P "$(nproc)" -I{} bash -c 'fuzz_one {}'
