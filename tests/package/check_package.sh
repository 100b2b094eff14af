#!/usr/bin/env bash
# The Debian package as Debian checks it (lintian, hardening, AppStream), versions that agree, and
# its shell completions. Usage: check_package.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/isolated.sh" # for quaymap-cli --help
scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

(cd "$scratch" && cpack -G DEB --config "$1/CPackConfig.cmake" -B "$scratch/deb" >/dev/null)
deb=$(ls "$scratch"/deb/quaymap_*.deb) || fail "cpack made no .deb"
dpkg-deb -x "$deb" "$scratch/root"
share=$scratch/root/usr/share
bash=$share/bash-completion/completions/quaymap-cli zsh=$share/zsh/vendor-completions/_quaymap-cli
fish=$share/fish/vendor_completions.d/quaymap-cli.fish metainfo=$share/metainfo/org.example.quaymap.metainfo.xml
ls "$metainfo" "$share/icons/hicolor/scalable/apps/quaymap.svg" >/dev/null || fail "files missing"
# Hardening gaps are only information to lintian; here they fail too.
lintian --tag-display-limit 0 --display-info "$deb" >"$scratch/lintian" 2>&1 || true
! grep -E '^[EW]: |hardening-' "$scratch/lintian" >&2 || fail "lintian: the tags above"
appstreamcli validate-tree --no-net "$scratch/root" >&2 || fail "appstreamcli: the problems above"
ls "$share/doc/quaymap/examples/keep.conf" >/dev/null || fail "no example keep file"
grep -qx 'ExecStart=/usr/bin/quaymap-cli keep /etc/quaymap/keep.conf' \
    "$scratch/root/usr/lib/systemd/system/quaymap-keep.service" || fail "the keep service's ExecStart"

version=$(dpkg-deb -f "$deb" Version)
[ "$(zcat "$share/doc/quaymap/changelog.Debian.gz" | dpkg-parsechangelog -l - -S Version)" = "$version" ] ||
    fail "the changelog is not at $version"
grep -q "<release version=\"${version%-*}\"" "$metainfo" || fail "the metainfo has no release ${version%-*}"
grep -q libqt6svg6 <<<"$(dpkg-deb -f "$deb" Depends)" || fail "Depends lacks libqt6svg6 (the icon's plugin is loaded, not linked)"

# Each shell completes every option and command of the usage text.
usage=$("${isolated[@]}" "$scratch/root/usr/bin/quaymap-cli" --help)
for word in $(grep -oE -- '--[a-z]+' <<<"$usage" | sort -u; sed -n '/^Commands:/,/^$/s/^  \([a-z]\+\) .*/\1/p' <<<"$usage"); do
    grep -qw -- "$word" "$bash" && grep -qw -- "$word" "$zsh" && grep -qw -- "${word#--}" "$fish" ||
        fail "$word is not completed in every shell"
done
# The words typed | what bash offers.
for case in "quaymap-cli |status list add delete keep forget" "quaymap-cli forget 80 t|tcp" "quaymap-cli --router http://10.0.0.1/d.xml l|list" "quaymap-cli add Web |" \
    "quaymap-cli --lease 60 add SSH 2222:22 |tcp udp both" "quaymap-cli delete 80 u|udp" "quaymap-cli --router |"; do
    IFS='|' read -r typed expected <<<"$case"
    offered=$(source "$bash" && read -ra COMP_WORDS <<<"$typed" && [[ $typed != *' ' ]] || COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _quaymap_cli && echo "${COMPREPLY[*]}")
    [ "$offered" = "$expected" ] || fail "bash completes \"$typed\" with \"$offered\", not \"$expected\""
done
echo "package: $(basename "$deb") is lintian-clean, its AppStream metadata valid, its completions complete"
