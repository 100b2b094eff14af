#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and checks what it installs.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "package: $*" >&2; exit 1; }

files=(bin/quaymap bin/quaymap-cli share/man/man1/quaymap-cli.1
    share/doc/quaymap/examples/quaymap-keep@.service share/applications/quaymap.desktop
    share/icons/hicolor/scalable/apps/quaymap.svg)
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
for f in "${files[@]}"; do
    [ -e "$scratch/prefix/$f" ] || fail "cmake --install did not put $f in place"
done

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" >/dev/null)
deb=$(ls "$scratch"/deb/quaymap_*.deb) || fail "cpack made no .deb"
dpkg-deb -x "$deb" "$scratch/root"
for f in "${files[@]}"; do
    [ -e "$scratch/root/usr/$f" ] || fail "usr/$f missing from $(basename "$deb")"
done
for f in quaymap quaymap-cli; do
    [ -x "$scratch/root/usr/bin/$f" ] || fail "usr/bin/$f is not executable"
done
# --help needs no network.
"$scratch/root/usr/bin/quaymap-cli" --help | grep -q '^Usage: quaymap-cli' || fail "quaymap-cli --help"
grep -q '^\.TH QUAYMAP-CLI 1' "$scratch/root/usr/share/man/man1/quaymap-cli.1" || fail "man page"
grep -q 'quaymap-cli add .* --keep' "$scratch/root/usr/share/doc/quaymap/examples/quaymap-keep@.service" ||
    fail "the example unit does not run quaymap-cli --keep"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libnatpmp1; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q '^Exec=quaymap$' "$scratch/root/usr/share/applications/quaymap.desktop" || fail "desktop entry does not start quaymap"
echo "package: $(basename "$deb") installs quaymap, quaymap-cli, its man page and example unit, desktop entry and icon; Depends: $depends"
