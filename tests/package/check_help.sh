#!/usr/bin/env bash
# quaymap --help and --version answer before anything starts: strace sees no internet socket (no
# search), and with no display nor platform a window would abort. Usage: check_help.sh QUAYMAP VERSION
set -euo pipefail
app=$1 version=$2
source "$(dirname "$0")/isolated.sh"
out=$(mktemp -d) && trap 'rm -rf "$out"' EXIT
# arguments | a line of standard output (the exit status is 0, standard error stays empty)
for case in "--help|^Usage: .*quaymap \[options\]$" "-h|^  -v, --version  *Displays version information\.$" \
    "--version|^QuayMap $version$" "-v|^QuayMap $version$" "-reverse --help|^Usage: " \
    "--bogus --version|^QuayMap $version$"; do
    IFS='|' read -r arguments line <<<"$case"
    status=0 && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${isolated[@]}" strace -f -qq \
        -e trace=socket -o "$out/trace" "$app" $arguments >"$out/out" 2>"$out/err" || status=$?
    why=$( ((status == 0)) || echo "exit status $status;"
        grep -Eq -- "$line" "$out/out" || echo "no line /$line/ on standard output;"
        [ ! -s "$out/err" ] || echo "standard error: $(head -c 300 "$out/err");"
        grep -m1 AF_INET "$out/trace" | sed 's/^/it opened a socket: /' || true)
    [ -z "$why" ] || { echo "quaymap $arguments: $why" >&2; exit 1; }
done
echo "quaymap --help and --version: printed, no search, no window"
