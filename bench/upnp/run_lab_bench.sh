#!/usr/bin/env bash
# QuayMap against miniupnpd in the lab, each figure next to its peer in the same run:
#   - listing on IGD v1 and v2: quaymap-cli list and the window (process start to its last
#     table row) next to `upnpc -l` and the router's own floor; quaymap-cli --router URL list
#     next to `upnpc -u URL -l`, wall and processor time; on v2 the GetListOfPortMappings pages
#     next to the index walk (tables of at most 128 mappings: pages of more crash the router)
#   - the search outcome (quaymap-cli status, the window's "search result" line) in modes
#     igd, natpmp and none
#   - add, delete and public address on a router that vanished after it was found
#   - framing: quaymap-cli --router URL list at 20 mappings through lab_relay, a relay in the
#     router's namespace that answers chunked and/or keeps the connection open
#   - large: quaymap-cli --router URL list next to `upnpc -u URL -l` on IGD v1 at --large
#     mappings; on IGD v2 at as many, quaymap-cli list and whether the router survived it
#   - keeper: quaymap-cli keep with three mappings on IGD v2 for --keeper-seconds (600), next
#     to a `sleep 60` loop of `upnpc -a` renewals of three: resident memory, processor time,
#     wakeups
# then the README's tables. The router runs without its debug log (scripts/lab up --quiet),
# which would otherwise be nearly all of its time. The lab needs root: run by a user, it
# builds first, then runs itself again through sudo. Prints figures only.
#
# Usage: bench/upnp/run_lab_bench.sh [--mappings N[,N...]] [--runs R] [--build DIR]
#                                    [--no-window] [--large N] [--keeper-seconds S]
#                                    [--only listing,verdict,gone,framing,large,keeper]
#   e.g. bench/upnp/run_lab_bench.sh --mappings 1,20,100 --runs 7
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
sizes=20
runs=7
build=$root/build
window=yes
large=500
only=listing,verdict,gone,framing,large,keeper
keeper_seconds=600
usage() {
    echo "usage: $0 [--mappings N[,N...]] [--runs R] [--build DIR] [--no-window] [--large N]" \
        "[--keeper-seconds S] [--only listing,verdict,gone,framing,large,keeper]" >&2
    exit 2
}
while (($#)); do
    case $1 in
    --mappings) sizes=${2:?}; shift ;;
    --runs) runs=${2:?}; shift ;;
    --build) build=${2:?}; shift ;;
    --no-window) window=no ;;
    --large) large=${2:?}; shift ;;
    --keeper-seconds) keeper_seconds=${2:?}; shift ;;
    --app) ;; # the window is measured unless --no-window: kept for older command lines
    --only) only=${2:?}; shift ;;
    *) usage ;;
    esac
    shift
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || usage
[[ "$sizes" =~ ^[1-9][0-9]*(,[1-9][0-9]*)*$ ]] || usage
[[ "$large" =~ ^[1-9][0-9]*$ ]] || usage
[[ "$keeper_seconds" =~ ^[1-9][0-9]*$ ]] || usage
if [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null 2>&1; then
    echo "lab bench: the lab needs root and sudo is not installed: run it as root" >&2
    exit 1
fi

# Built by whoever started the benchmark, so that the build folder stays theirs; only the lab
# runs as root.
if [ "${QUAYMAP_BUILT:-}" != yes ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -G Ninja >/dev/null
    fi
    cmake --build "$build" -j2 --target upnp_lab_bench lab_relay quaymap-cli >/dev/null
    # The window is measured when it builds; the rest of the figures do not depend on it.
    if [ "$window" = yes ] && ! cmake --build "$build" -j2 --target quaymap >/dev/null 2>&1; then
        echo "lab bench: the window (target quaymap) does not build: its column is left out" >&2
        window=no
    fi
    export QUAYMAP_BUILT=yes
fi
again=(--mappings "$sizes" --runs "$runs" --build "$build" --large "$large" --only "$only"
    --keeper-seconds "$keeper_seconds")
[ "$window" = yes ] || again+=(--no-window)
if [ "$(id -u)" -ne 0 ]; then
    exec sudo env QUAYMAP_BUILT=yes "$(readlink -f "$0")" "${again[@]}"
fi

lab=$root/scripts/lab
# The whole benchmark is one lab session: nobody else's run can change the router under it.
if [ "${QUAYMAP_LAB_SESSION:-}" != held ]; then
    exec "$lab" session -- "$0" "${again[@]}"
fi

bench=$build/bench/upnp/upnp_lab_bench
cli=$build/cli/quaymap-cli
app_args=()
[ "$window" = yes ] && app_args=(--app "$build/app/quaymap")
results=$(mktemp /tmp/quaymap-lab-bench.XXXXXX)
trap 'rm -f "$results"' EXIT
echo "@runs $runs" >>"$results"
started=$SECONDS

wants() { [[ ",$only," == *",$1,"* ]]; }

# Shows a step's figures and keeps its result lines for the summary.
step() {
    local out
    if ! out=$("$lab" exec "$bench" "$@"); then
        grep -v '^@' <<<"$out" || true
        echo "lab bench: step $1 failed" >&2
        exit 1
    fi
    grep -v '^@' <<<"$out" || true
    grep '^@' <<<"$out" >>"$results" || true
    echo
}

up() {
    "$lab" up "$@" --quiet >/dev/null
    eval "$("$lab" env)"
}

IFS=, read -r -a size_list <<<"$sizes"
if wants listing; then
    for mode in igd igd2; do
        for n in "${size_list[@]}"; do
            echo "== listing: $mode, $n mappings ($((SECONDS - started)) s)"
            up "$mode" --mappings "$n"
            step listing --mode "$mode" --desc-url "$LAB_DESC_URL" --expect "$n" --cli "$cli" \
                "${app_args[@]}" --runs "$runs"
            step known-url --mode "$mode" --desc-url "$LAB_DESC_URL" --expect "$n" --cli "$cli" \
                --runs "$runs"
            if [ "$mode" = igd2 ] && ((n <= 128)); then
                step pages --desc-url "$LAB_DESC_URL" --expect "$n" --runs "$runs"
            fi
        done
    done
fi
if wants verdict; then
    for mode in igd natpmp none; do
        echo "== search outcome: $mode ($((SECONDS - started)) s)"
        up "$mode"
        step verdict --mode "$mode" --cli "$cli" "${app_args[@]}" --runs "$runs"
    done
fi
if wants gone; then
    echo "== router gone after the search ($((SECONDS - started)) s)"
    up igd --mappings 1
    step gone --lab "$lab" --runs "$runs"
fi
if wants framing; then
    echo "== framing: chunked answers, connections kept open ($((SECONDS - started)) s)"
    up igd --mappings 20
    step framing --mode igd --desc-url "$LAB_DESC_URL" --expect 20 --cli "$cli" \
        --relay "$build/bench/upnp/lab_relay" --runs "$runs"
fi
if wants large; then
    echo "== large: IGD v1, $large mappings, a known URL ($((SECONDS - started)) s)"
    up igd --mappings "$large"
    step known-url --mode igd --desc-url "$LAB_DESC_URL" --expect "$large" --cli "$cli" \
        --runs "$runs"
    echo "== large: IGD v2, $large mappings, the router afterwards ($((SECONDS - started)) s)"
    up igd2 --mappings "$large"
    step survival --mode igd2 --desc-url "$LAB_DESC_URL" --expect "$large" --cli "$cli" \
        --router-pid "$LAB_RUN_DIR/miniupnpd.pid" --runs "$runs"
fi
if wants keeper; then
    echo "== keeper: three mappings kept for $keeper_seconds s on IGD v2 ($((SECONDS - started)) s)"
    up igd2
    step keeper --desc-url "$LAB_DESC_URL" --cli "$cli" --seconds "$keeper_seconds"
fi
"$lab" down >/dev/null

echo "== summary ($((SECONDS - started)) s in all)"
echo
# Only reads the result lines: no traffic.
"$bench" summary "$results"
cat <<COMMANDS

Commands (each inside the lab's LAN namespace, \`scripts/lab exec\`; URL = \$LAB_DESC_URL):

- \`quaymap-cli list\`, \`quaymap-cli --router URL list\`, \`quaymap-cli status\`
- the window: \`QT_QPA_PLATFORM=offscreen quaymap\`, ended after its last "the forwading name is"
  line (listing) or its "search result" line (search outcome)
- \`upnpc -l\`, \`upnpc -u URL -l\`
- in process: \`UpnpNat::open_description(URL)\` then \`get_port_mappings()\`, the walk by the v1
  service name on the v2 router; \`RouterEngine::search({})\`, then \`scripts/lab router
  stop|drop\`, \`add\`, \`remove\`, \`public_address\`, then \`router start|mend\`
- framing: \`lab_relay --to 192.168.87.1:5000 --port 5001:chunked --port 5002:keep
  --port 5003:chunked-keep\` in the router's namespace, URL = http://192.168.87.1:500N/rootDesc.xml
- the lab: \`scripts/lab up igd|igd2 --mappings N --quiet\`, \`scripts/lab up igd|natpmp|none --quiet\`
- keeper: \`quaymap-cli keep FILE\` (three lines) next to \`while :; do upnpc -e bench -a IP
  PORT PORT PROTO 120 (for each of three); sleep 60; done\`, both ended by SIGTERM after $keeper_seconds s
- all of it: \`bench/upnp/run_lab_bench.sh --mappings $sizes --runs $runs --large $large
  --keeper-seconds $keeper_seconds\`
COMMANDS
