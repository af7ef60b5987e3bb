#!/usr/bin/env bash
# Builds the tool and opens its window.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages "${HOROLAB_RUN_PACKAGES[@]}"
# The program alone: a tree the test command made keeps its tests.
if [ ! -f "$HOROLAB_ROOT/build/build.ninja" ]; then
    cmake -S "$HOROLAB_ROOT" -B "$HOROLAB_ROOT/build" -G Ninja \
        -DHOROLAB_BUILD_TESTS=OFF -DHOROLAB_BUILD_BENCH=OFF
fi
cmake --build "$HOROLAB_ROOT/build" --target horolab
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "horolab is built (build/horolab), but no display is available to open its window."
    echo "Run it from a desktop session, or under a virtual display:  xvfb-run build/horolab"
    exit 1
fi
exec "$HOROLAB_ROOT/build/horolab" "$@"
