#!/usr/bin/env bash
# Builds the tool and opens its window.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages
build_tree "$HOROLAB_ROOT/build"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "horolab is built (build/horolab), but no display is available to open its window."
    echo "Run it from a desktop session, or under a virtual display:  xvfb-run build/horolab"
    exit 1
fi
exec "$HOROLAB_ROOT/build/horolab" "$@"
