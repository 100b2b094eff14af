#!/usr/bin/env bash
# Times finding the lab router and reading its whole table: QuayMap's client (and, with
# --app, the whole application from process start to its last table row) next to
# `upnpc -l` on the same router in the same run, and the router's own answer time.
# The lab needs root: run by a user, it builds first, then runs itself again through sudo.
# Prints figures only.
#
# Usage: bench/upnp/run_lab_bench.sh [--mappings N[,N...]] [--runs R] [--build DIR] [--app]
#   e.g. bench/upnp/run_lab_bench.sh --mappings 1,20,100 --app
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
sizes=20
runs=7
build=$root/build
with_app=no
while (($#)); do
    case $1 in
    --mappings) sizes=$2; shift ;;
    --runs) runs=$2; shift ;;
    --build) build=$2; shift ;;
    --app) with_app=yes ;;
    *) echo "usage: $0 [--mappings N[,N...]] [--runs R] [--build DIR] [--app]" >&2; exit 2 ;;
    esac
    shift
done
again=(--mappings "$sizes" --runs "$runs" --build "$build")
[ "$with_app" = yes ] && again+=(--app)
if [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null 2>&1; then
    echo "lab bench: the lab needs root and sudo is not installed: run it as root" >&2
    exit 1
fi

# Built by whoever started the benchmark, so that build/ stays theirs; only the lab runs as root.
if [ "${QUAYMAP_BUILT:-}" != yes ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -G Ninja >/dev/null
    fi
    targets=(upnp_lab_bench)
    [ "$with_app" = yes ] && targets+=(quaymap)
    cmake --build "$build" --target "${targets[@]}" >/dev/null
    export QUAYMAP_BUILT=yes
fi
if [ "$(id -u)" -ne 0 ]; then
    exec sudo env QUAYMAP_BUILT=yes "$(readlink -f "$0")" "${again[@]}"
fi
driver=(--desc-url)
app_args=()
[ "$with_app" = yes ] && app_args=(--app "$build/app/quaymap")

lab=$root/scripts/lab
# The whole benchmark is one lab session: nobody else's run can change the router under it.
if [ "${QUAYMAP_LAB_SESSION:-}" != held ]; then
    exec "$lab" session -- "$0" "${again[@]}"
fi
rows=()
IFS=, read -r -a size_list <<<"$sizes"
for n in "${size_list[@]}"; do
    echo "== $n mappings"
    "$lab" up igd --mappings "$n" >/dev/null
    url=$("$lab" env | sed -n 's/^LAB_DESC_URL=//p')
    out=$("$lab" exec "$build/bench/upnp/upnp_lab_bench" "${driver[@]}" "$url" --runs "$runs" \
        "${app_args[@]}")
    grep -v '^table-row ' <<<"$out"
    rows+=("$(sed -n 's/^table-row //p' <<<"$out")")
    echo
done

echo "Medians of $runs runs, milliseconds (ratio: QuayMap / upnpc -l; margin: QuayMap - router)"
if [ "$with_app" = yes ]; then
    printf '%9s %12s %12s %10s %7s %10s %10s\n' mappings application "upnpc -l" router ratio margin client
    for row in "${rows[@]}"; do
        read -r n client app upnpc router <<<"$row"
        awk -v n="$n" -v c="$client" -v a="$app" -v u="$upnpc" -v r="$router" 'BEGIN {
            printf "%9d %12.1f %12.1f %10.1f %7.2f %10.1f %10.1f\n", n, a, u, r, a / u, a - r, c }'
    done
else
    printf '%9s %12s %12s %10s %7s %10s\n' mappings client "upnpc -l" router ratio margin
    for row in "${rows[@]}"; do
        read -r n client app upnpc router <<<"$row"
        awk -v n="$n" -v c="$client" -v u="$upnpc" -v r="$router" 'BEGIN {
            printf "%9d %12.1f %12.1f %10.1f %7.2f %10.1f\n", n, c, u, r, c / u, c - r }'
    done
fi
