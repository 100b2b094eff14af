#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and checks what it installs.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "package: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
for f in bin/quaymap share/applications/quaymap.desktop share/icons/hicolor/scalable/apps/quaymap.svg; do
    [ -e "$scratch/prefix/$f" ] || fail "cmake --install did not put $f in place"
done

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" >/dev/null)
deb=$(ls "$scratch"/deb/quaymap_*.deb) || fail "cpack made no .deb"
dpkg-deb -x "$deb" "$scratch/root"
for f in usr/bin/quaymap usr/share/applications/quaymap.desktop usr/share/icons/hicolor/scalable/apps/quaymap.svg; do
    [ -e "$scratch/root/$f" ] || fail "$f missing from $(basename "$deb")"
done
[ -x "$scratch/root/usr/bin/quaymap" ] || fail "usr/bin/quaymap is not executable"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libnatpmp1; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q '^Exec=quaymap$' "$scratch/root/usr/share/applications/quaymap.desktop" || fail "desktop entry does not start quaymap"
echo "package: $(basename "$deb") installs bin, desktop entry and icon; Depends: $depends"
