#!/usr/bin/env bash
# Builds the tool and runs the whole test suite.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
install_missing_packages
build_tree "$HOROLAB_ROOT/build"
cd "$HOROLAB_ROOT/build"
ctest --output-on-failure -j2 --timeout 300
