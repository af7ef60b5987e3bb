#!/usr/bin/env bash
# Builds the Debian package from the built tree and checks what it would put
# on a machine: the fields, exactly the expected files, a valid desktop
# entry, icons of the right sizes, a program that leads back to no build tree.
#   package_test.sh BUILD_DIR WORK_DIR VERSION
# Leaves the unpacked package in WORK_DIR/root for the tests that run it.
set -euo pipefail
build=$1 work=$2 version=$3
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }
debs=("$work"/horolab_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    ls -l "$work"
    echo "FAIL: not one package"
    exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb")"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = horolab ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', project is $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
case "$(field Section)" in net | utils) ;; *) fail "Section is '$(field Section)'" ;; esac
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer is '$(field Maintainer)'"
depends=$(field Depends)
echo "Depends: $depends"
# Computed from the binary: the widgets library and the C++ runtime at least.
[[ "$depends" =~ (^|, )libqt6widgets6( |,|$) ]] || fail "Depends lacks the Qt 6 widgets library"
[[ "$depends" =~ (^|, )libstdc\+\+6( |,|$) ]] || fail "Depends lacks libstdc++6"
description=$(field Description)
[ "$(head -n1 <<<"$description")" = "diagnostic tool for NTP time servers" ] || fail "Description summary: $description"
[ "$(wc -l <<<"$description")" -ge 2 ] || fail "Description has no long text"

# Exactly these files, nothing else (no test programs, no build helpers).
expected="./usr/bin/horolab
./usr/share/applications/horolab.desktop"
for n in 16 32 48 64 128 256; do
    expected+=$'\n'"./usr/share/icons/hicolor/${n}x${n}/apps/horolab.png"
done
actual=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
[ "$actual" = "$(sort <<<"$expected")" ] || fail "package files differ:"$'\n'"$(diff <(sort <<<"$expected") - <<<"$actual")"
dpkg-deb --contents "$deb" | awk '$1 ~ /^-/ && $2 != "root/root" { print "FAIL: not owned by root: " $0 }' | grep . && failures=$((failures + 1))

root=$work/root
dpkg-deb -x "$deb" "$root"
program=$root/usr/bin/horolab
[ -x "$program" ] || fail "usr/bin/horolab is not executable"
file -b "$program" | grep -q 'ELF .*, stripped' || fail "program: $(file -b "$program")"
readelf -d "$program" | grep -qE 'RPATH|RUNPATH' && fail "program carries a library search path: $(readelf -d "$program" | grep -E 'RPATH|RUNPATH')"
for tree in "$build" "$source_dir"; do
    grep -qF "$tree" "$program" && fail "program names $tree: $(strings "$program" | grep -F "$tree" | head -3)"
done

entry=$root/usr/share/applications/horolab.desktop
report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $report"
grep -E ': (error|warning):' <<<"$report" && fail "desktop entry has errors or warnings"
key() { sed -n "s/^$1=//p" "$entry"; }
[ "$(key Type)" = Application ] || fail "Type=$(key Type)"
[ "$(key Name)" = Horolab ] || fail "Name=$(key Name)"
[ "$(key Exec)" = horolab ] || fail "Exec=$(key Exec)"
[ "$(key Icon)" = horolab ] || fail "Icon=$(key Icon)"
for category in Network Utility; do
    [[ ";$(key Categories)" == *";$category;"* ]] || fail "Categories=$(key Categories) lacks $category"
done

for n in 16 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${n}x${n}/apps/horolab.png
    file -b "$icon" | grep -q "^PNG image data, $n x $n, 8-bit/color RGBA" || fail "icon $n: $(file -b "$icon")"
done

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "package checks passed"
