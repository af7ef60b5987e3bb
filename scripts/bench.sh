#!/usr/bin/env bash
# Builds the benchmarks (Release, a tree of their own) and runs them all in
# one go against their floors: the core exchange and the rendering, the real
# window's query, the start-up and its memory, the NTS check, the exporter's
# scrape beside prometheus-node-exporter's and a real Prometheus scraping
# 1,000 targets through it, a minute of the jitter monitor in the real window
# beside the monitor's worker alone, a survey of eight loopback servers and
# of 1,000 loopback addresses, the audit of an NTS chronyd, and the kernel's
# timestamps beside chronyd measuring the same server as its client.
# Every figure
# is printed with its floor, its ratio and its goal, and with the machine's
# load before and after; a busy machine distorts the figures, so run it on a
# quiet one. Takes about five minutes after the build.
#   HOROLAB_BENCH_BUILD=DIR   the tree (default build-bench)
#   HOROLAB_BENCH_POLLS=N     polls of the monitor runs (default 60, a minute)
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages "${HOROLAB_RUN_PACKAGES[@]}" "${HOROLAB_TEST_PACKAGES[@]}"
BUILD="${HOROLAB_BENCH_BUILD:-$HOROLAB_ROOT/build-bench}"
POLLS="${HOROLAB_BENCH_POLLS:-60}"
TARGETS=(core_exchange_bench window_bench startup_bench startup_probe bare_dialog
         monitor_window_bench jitter_monitor_bench terminal_query_bench nts_check_bench survey_bench audit_bench
         exporter_bench timestamp_bench)

unpack_daemon chrony "$BUILD/daemons"
unpack_daemon prometheus "$BUILD/daemons"
unpack_daemon prometheus-node-exporter "$BUILD/daemons"
if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$HOROLAB_ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
export CHRONYD="$BUILD/daemons/usr/sbin/chronyd"
cmake --build "$BUILD" --target "${TARGETS[@]}"

CHRONY="$BUILD/bench-chrony"
SURVEYED="$BUILD/bench-survey"
"$HOROLAB_ROOT/scripts/chronyd-fixture.sh" start "$CHRONY"
trap '"$HOROLAB_ROOT/scripts/chronyd-fixture.sh" stop "$CHRONY"
      "$HOROLAB_ROOT/scripts/chronyd-fixture.sh" stop-many "$SURVEYED"' EXIT
"$HOROLAB_ROOT/scripts/chronyd-fixture.sh" start-many "$SURVEYED" 127.0.0.1{1..8} >/dev/null
export QT_QPA_PLATFORM=offscreen
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then # quiets Qt's note about its absence
    export XDG_RUNTIME_DIR="$BUILD/bench-runtime"
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
fi

B="$BUILD/bench"
failed=()
missed=()
# A benchmark that printed a MISSED goal ran: the figures say how far off it
# is, and the others still run. Only one that could not run fails the script.
run() {
    local log status
    log=$(mktemp)
    echo
    "$@" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    if [ "$status" -ne 0 ]; then
        if grep -q MISSED "$log"; then missed+=("$(basename "$1")"); else failed+=("$(basename "$1")"); fi
    fi
    rm -f "$log"
}

echo "machine: $(nproc) cores; $(uptime)"
run "$B/core_exchange_bench"
run "$B/window_bench" "$CHRONY"
run "$B/startup_bench"
run "$B/terminal_query_bench" "$CHRONY"
run "$B/timestamp_bench" "$CHRONY" 300
run "$B/nts_check_bench"
run "$B/audit_bench"
run "$B/survey_bench" "$SURVEYED"
run "$B/exporter_bench" "$CHRONY" "$BUILD/daemons"
# The monitor in the real window and its worker alone, side by side on the
# same server: both sleep between polls, so neither disturbs the other.
echo
worker_log=$(mktemp)
"$B/jitter_monitor_bench" "$CHRONY" "$POLLS" >"$worker_log" 2>&1 &
worker=$!
run "$B/monitor_window_bench" "$CHRONY" "$POLLS"
if wait "$worker"; then
    echo "== Monitor worker alone on the in-memory window (jitter_monitor_bench, same minute):"
    sed 's/^/  /' "$worker_log"
else
    failed+=(jitter_monitor_bench)
    cat "$worker_log"
fi
rm -f "$worker_log"
echo
echo "machine after: $(uptime)"

if [ ${#missed[@]} -ne 0 ]; then
    printf 'missed a goal: %s\n' "${missed[@]}"
fi
if [ ${#failed[@]} -ne 0 ]; then
    printf 'failed: %s\n' "${failed[@]}"
    exit 1
fi
