#!/usr/bin/env bash
# Builds the tool and runs the whole test suite. Then, each in a build tree
# of its own: the workers' tests under ThreadSanitizer, the fuzzers for
# a bounded time, and the whole suite again under AddressSanitizer with
# UndefinedBehaviorSanitizer. Every stage runs even when an earlier one
# failed; the command fails when any stage did.
#   HOROLAB_QUICK=1            the plain build and suite only
#   HOROLAB_FUZZ_SECONDS=N     time per fuzzer (default 40)
#   HOROLAB_BUILD=DIR          the plain tree (default build); the others are
#                              DIR-asan, DIR-tsan and DIR-fuzz
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages "${HOROLAB_RUN_PACKAGES[@]}" "${HOROLAB_TEST_PACKAGES[@]}"
BUILD="${HOROLAB_BUILD:-$HOROLAB_ROOT/build}"
DAEMONS="$BUILD/daemons"
unpack_daemon chrony "$DAEMONS"
unpack_daemon prometheus "$DAEMONS"
unpack_daemon ntpsec "$DAEMONS"
build_tree "$BUILD" -DHOROLAB_BUILD_TESTS=ON -DHOROLAB_BUILD_BENCH=ON -DHOROLAB_DAEMON_DIR="$DAEMONS"
cd "$BUILD"
if [ "${HOROLAB_QUICK:-0}" = 1 ]; then
    exec ctest --output-on-failure -j2 --timeout 300
fi

failed=()
stage() {
    local name="$1"
    shift
    echo "==== $name"
    local start=$SECONDS
    if "$@"; then
        echo "==== $name: passed ($((SECONDS - start)) s)"
    else
        echo "==== $name: FAILED ($((SECONDS - start)) s)"
        failed+=("$name")
    fi
}

# Sanitizer reports end the process with an error; leaks are reported at exit.
# None of the trees needs a suppression today (Qt included); should one ever
# be needed, it goes into tests/sanitizers/<sanitizer>.supp, one narrow line
# with a comment saying why.
suppressions() {
    local file="$HOROLAB_ROOT/tests/sanitizers/$1.supp"
    [ -f "$file" ] && echo ":suppressions=$file:print_suppressions=0"
    true
}
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1$(suppressions asan)"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1$(suppressions ubsan)"
export LSAN_OPTIONS="${LSAN_OPTIONS:-}$(suppressions lsan)"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1$(suppressions tsan)"

suite() {
    (cd "$BUILD" && ctest --output-on-failure -j2 --timeout 300)
}

# The monitor's and the survey's workers and everything that drives them:
# the tests of the unit, dialog and gui layers whose names speak of the
# jitter monitor, the survey, the exporter or the audit, closing the real
# dialog during runs among them.
monitor_under_tsan() {
    local dir="$BUILD-tsan" targets=() file layer
    for file in "$HOROLAB_ROOT"/tests/{unit,dialog,gui}/{jitter*,survey*,exporter*,audit*,hostile_network}_test.cpp; do
        [ -f "$file" ] || continue
        layer=$(basename "$(dirname "$file")")
        targets+=("${layer}_$(basename "$file" .cpp)")
    done
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$HOROLAB_ROOT" -B "$dir" -G Ninja -DHOROLAB_SANITIZE=thread -DHOROLAB_BUILD_BENCH=OFF \
            -DHOROLAB_DAEMON_DIR="$DAEMONS"
    fi
    cmake --build "$dir" --target "${targets[@]}" &&
        (cd "$dir" && ctest --output-on-failure -j2 --timeout 300 -L 'unit|dialog|gui' -R '[Jj]itter|Survey|Exporter|Audit' --no-tests=error)
}

fuzzers() {
    HOROLAB_FUZZ_DIR="$BUILD-fuzz" "$HOROLAB_ROOT/scripts/fuzz.sh" "${HOROLAB_FUZZ_SECONDS:-40}"
}

suite_under_asan() {
    build_tree "$BUILD-asan" -DHOROLAB_SANITIZE=address,undefined -DHOROLAB_BUILD_BENCH=OFF \
        -DHOROLAB_DAEMON_DIR="$DAEMONS" &&
        (cd "$BUILD-asan" && ctest --output-on-failure -j2 --timeout 300)
}

stage "test suite" suite
stage "worker tests under ThreadSanitizer" monitor_under_tsan
stage "fuzzers" fuzzers
stage "test suite under AddressSanitizer and UndefinedBehaviorSanitizer" suite_under_asan

if [ ${#failed[@]} -ne 0 ]; then
    printf 'failed stage: %s\n' "${failed[@]}"
    exit 1
fi
