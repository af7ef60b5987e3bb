#!/usr/bin/env bash
# Builds the Debian package from the built tree and checks what it would put
# on a machine: the fields, exactly the expected files, lintian's verdict, a
# valid desktop entry and AppStream metainfo, icons of the right sizes,
# programs that lead back to no build tree.
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
[[ "$depends" =~ (^|, )libgnutls30( |,|$) ]] || fail "Depends lacks GnuTLS, which the NTS check links"
[ "$(field Recommends)" = ca-certificates ] || fail "Recommends is '$(field Recommends)', not the NTS trust store"
description=$(field Description)
[ "$(head -n1 <<<"$description")" = "diagnostic tool for NTP time servers" ] || fail "Description summary: $description"
[ "$(wc -l <<<"$description")" -ge 2 ] || fail "Description has no long text"

# Exactly these files, nothing else (no test programs, no build helpers).
expected="./usr/bin/horolab
./usr/libexec/horolab/horolab
./usr/share/applications/org.horolab.Horolab.desktop
./usr/share/metainfo/org.horolab.Horolab.metainfo.xml
./usr/share/doc/horolab/copyright
./usr/share/doc/horolab/changelog.gz
./usr/share/man/man1/horolab.1.gz
./usr/lib/systemd/system/horolab-exporter.service
./usr/share/horolab/horolab.rules.yml
./usr/share/horolab/horolab-dashboard.json"
for n in 16 32 48 64 128 256; do
    expected+=$'\n'"./usr/share/icons/hicolor/${n}x${n}/apps/horolab.png"
done
actual=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
[ "$actual" = "$(sort <<<"$expected")" ] || fail "package files differ:"$'\n'"$(diff <(sort <<<"$expected") - <<<"$actual")"
dpkg-deb --contents "$deb" | awk '$1 ~ /^-/ && $2 != "root/root" { print "FAIL: not owned by root: " $0 }' | grep . && failures=$((failures + 1))

root=$work/root
dpkg-deb -x "$deb" "$root"
[ -x "$root/usr/bin/horolab" ] || fail "usr/bin/horolab is not executable"
# The exporter's unit is shipped, not enabled: no maintainer script enables
# or starts it; it runs the packaged program.
scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'preinst|postinst|prerm|postrm' || true)
[ -z "$scripts" ] || fail "maintainer scripts: $scripts"
unit=$root/usr/lib/systemd/system/horolab-exporter.service
grep -q '^ExecStart=/usr/bin/horolab --exporter ' "$unit" || fail "unit runs: $(grep ExecStart "$unit")"
grep -q '^DynamicUser=yes$' "$unit" || fail "the exporter's unit has no dynamic user"
# Every ELF file the package ships: stripped, no library search path, no
# path back into the build.
while IFS= read -r -d '' elf; do
    name=${elf#"$root"}
    file -b "$elf" | grep -q 'ELF .*, stripped' || fail "$name: $(file -b "$elf")"
    readelf -d "$elf" | grep -qE 'RPATH|RUNPATH' && fail "$name carries a library search path"
    readelf -SW "$elf" | grep -qE '\] \.(comment|note) ' && fail "$name keeps a .comment or .note section"
    for tree in "$build" "$source_dir"; do
        grep -qF "$tree" "$elf" && fail "$name names $tree: $(strings "$elf" | grep -F "$tree" | head -3)"
    done
done < <(find "$root" -type f -exec sh -c 'head -c4 "$1" | grep -q "^.ELF"' _ {} \; -print0)

# The command starts the installed window program, never a window/horolab
# beside it (a build tree's), and without /proc it says it cannot tell
# where it is instead of guessing.
chooser=$work/chooser
cp -a "$root" "$chooser"
for window in usr/libexec/horolab usr/bin/window; do
    mkdir -p "$chooser/$window" && printf '#!/bin/sh\necho %s\n' "$window" > "$chooser/$window/horolab"
    chmod +x "$chooser/$window/horolab"
done
started=$(QT_QPA_PLATFORM=offscreen "$chooser/usr/bin/horolab" 2>&1) || true
[ "$started" = usr/libexec/horolab ] || fail "the command started: $started"
if [ "$(id -u)" = 0 ]; then
    blind=$(QT_QPA_PLATFORM=offscreen unshare --mount --propagation private \
        sh -c 'umount -l /proc && exec "$1"' _ "$chooser/usr/bin/horolab" 2>&1) && fail "without /proc: $blind"
    [[ "$blind" == "horolab: cannot find the window program: /proc/self/exe"* ]] || fail "without /proc: $blind"
fi

# Debian's conventions: no error from lintian; its warnings are printed.
lintian_report=$(lintian --fail-on error "$deb" 2>&1) || fail "lintian: $lintian_report"
[ -z "$lintian_report" ] || echo "lintian: $lintian_report"

# What software centres read, offline (the screenshot's URL is not fetched).
metainfo=$root/usr/share/metainfo/org.horolab.Horolab.metainfo.xml
appstream_report=$(appstreamcli validate --no-net "$metainfo" 2>&1) ||
    fail "appstreamcli validate: $appstream_report"
echo "appstreamcli: $(tail -n1 <<<"$appstream_report")"
grep -q '<launchable type="desktop-id">org.horolab.Horolab.desktop</launchable>' "$metainfo" ||
    fail "metainfo does not launch the packaged desktop entry"

entry=$root/usr/share/applications/org.horolab.Horolab.desktop
report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $report"
grep -E ': (error|warning):' <<<"$report" && fail "desktop entry has errors or warnings"
key() { sed -n "s/^$1=//p" "$entry"; }
[ "$(key Type)" = Application ] || fail "Type=$(key Type)"
[ "$(key Name)" = Horolab ] || fail "Name=$(key Name)"
[ "$(key Exec)" = horolab ] || fail "Exec=$(key Exec)"
[ "$(key Icon)" = horolab ] || fail "Icon=$(key Icon)"
for category in Network; do
    [[ ";$(key Categories)" == *";$category;"* ]] || fail "Categories=$(key Categories) lacks $category"
done

for n in 16 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${n}x${n}/apps/horolab.png
    file -b "$icon" | grep -q "^PNG image data, $n x $n, 8-bit/color RGBA" || fail "icon $n: $(file -b "$icon")"
done

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "package checks passed"
