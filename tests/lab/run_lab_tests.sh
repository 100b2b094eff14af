#!/usr/bin/env bash
# Brings the lab up, runs a test binary inside its LAN namespace, and takes the lab down again
# whatever happens. Exit 77 tells CTest the test was skipped because this machine cannot host
# the lab (not root, a lab tool missing, namespaces not permitted).
#
# Usage: run_lab_tests.sh LAB_SCRIPT MODE PRELOAD BINARY [binary arguments...]
set -euo pipefail
lab=$1 mode=$2 preload=$3 binary=$4
shift 4

skip() {
    echo "SKIPPED: $*"
    exit 77
}

[ "$(id -u)" -eq 0 ] || skip "the lab needs root (network namespaces and nftables); run as root"
for tool in ip nft ss flock miniupnpd upnpc; do
    command -v "$tool" >/dev/null 2>&1 || skip "lab tool missing: $tool (scripts/setup installs it)"
done
probe=quaymap-probe-$$
ip netns add "$probe" 2>/dev/null || skip "network namespaces are not permitted here"
ip netns del "$probe"

# The session waits while anyone else on this machine uses the lab, and takes it down after.
exec "$lab" session "$mode" --mappings "$preload" -- "$lab" exec "$binary" "$@"
