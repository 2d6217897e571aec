#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop gets: the programs,
# their desktop entries and metainfo (validated by the desktop's own tools), the icon in
# every size, the manual pages and the licence; then each program's --version and its answer
# to a wrong option, with no display at all.
# Usage: check-install.sh BUILD_DIR VERSION
set -uo pipefail
build=$1 version=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"

expected=(
  bin/pelmora bin/sparlo bin/chargersim
  share/applications/org.pelmora.Pelmora.desktop
  share/applications/org.pelmora.Sparlo.desktop
  share/metainfo/org.pelmora.Pelmora.metainfo.xml
  share/icons/hicolor/scalable/apps/pelmora.svg
  share/doc/pelmora/LICENSE
)
for size in 16 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/pelmora.png")
done
if command -v help2man >/dev/null; then
  expected+=(share/man/man1/pelmora.1 share/man/man1/sparlo.1 share/man/man1/chargersim.1)
fi
for f in "${expected[@]}"; do
  [ -s "$prefix/$f" ] || fail "missing $f"
done

for d in "$prefix"/share/applications/*.desktop; do
  desktop-file-validate "$d" || fail "desktop-file-validate $(basename "$d")"
done
appstreamcli validate --no-net --pedantic "$prefix"/share/metainfo/*.xml >/dev/null ||
  fail "appstreamcli validate"
grep -q "release version=\"$version\"" "$prefix"/share/metainfo/*.xml ||
  fail "metainfo does not name version $version"

# The wrong-option codes: pelmora and chargersim 2, sparlo its documented usage code 1.
for entry in pelmora:2 sparlo:1 chargersim:2; do
  program=${entry%%:*} code=${entry#*:}
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/$program" --version)
  [ "$?" -eq 0 ] && [ "$out" = "$program $version" ] ||
    fail "$program --version printed '$out'"
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/$program" --no-such-option \
    >/dev/null 2>"$prefix/err"
  rc=$?
  [ "$rc" -eq "$code" ] || fail "$program with a wrong option exited $rc, not $code"
  grep -q "no-such-option" "$prefix/err" || fail "$program did not name the wrong option"
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/$program" --help >/dev/null ||
    fail "$program --help without a display"
done

[ "$failures" -eq 0 ] && echo "install checked: ${#expected[@]} files"
exit $((failures > 0))
