#!/usr/bin/env bash
# Brings the lab up, runs a test binary inside its LAN namespace, and takes the lab down again
# whatever happens. Exit 77 tells CTest the test was skipped because this machine cannot host
# the lab (no root to be had without a prompt, a lab tool missing, namespaces not permitted).
#
# Usage: run_lab_tests.sh LAB_SCRIPT MODE PRELOAD BINARY [binary arguments...]
#        MODE "-": BINARY runs on the host side and brings up the modes it needs itself.
set -euo pipefail

skip() {
    echo "SKIPPED: $*"
    exit 77
}

# A test cannot answer a password prompt: sudo is used only where it needs none.
if [ "$(id -u)" -ne 0 ]; then
    need="the lab needs root (network namespaces and nftables)"
    command -v sudo >/dev/null 2>&1 || skip "$need and sudo is not installed; run as root"
    sudo -n true 2>/dev/null ||
        skip "$need and sudo does not grant it without a password; run as root or through sudo"
    keep=()
    for v in QT_QPA_PLATFORM QUAYMAP_LAB_DIR QUAYMAP_LAB_WAIT; do
        [ -n "${!v:-}" ] && keep+=("$v=${!v}")
    done
    exec sudo -n env ${keep[@]+"${keep[@]}"} "$(readlink -f "$0")" "$@"
fi

lab=$1 mode=$2 preload=$3 binary=$4
shift 4
for tool in ip nft ss flock miniupnpd upnpc strace; do
    command -v "$tool" >/dev/null 2>&1 || skip "lab tool missing: $tool (scripts/setup installs it)"
done
probe=quaymap-probe-$$
ip netns add "$probe" 2>/dev/null || skip "network namespaces are not permitted here"
ip netns del "$probe"

# The session waits while anyone else on this machine uses the lab, and takes it down after.
[ "$mode" = - ] && exec "$lab" session -- "$binary" "$@"
exec "$lab" session "$mode" --mappings "$preload" -- "$lab" exec "$binary" "$@"
