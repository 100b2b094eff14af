#!/usr/bin/env bash
# Times finding the lab router and reading its whole table: QuayMap's client next to
# `upnpc -l` on the same router in the same run, and the router's own answer time.
# Needs root (the lab). Prints figures only.
#
# Usage: bench/upnp/run_lab_bench.sh [--mappings N[,N...]] [--runs R] [--build DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
sizes=20
runs=7
build=$root/build
while (($#)); do
    case $1 in
    --mappings) sizes=$2; shift ;;
    --runs) runs=$2; shift ;;
    --build) build=$2; shift ;;
    *) echo "usage: $0 [--mappings N[,N...]] [--runs R] [--build DIR]" >&2; exit 2 ;;
    esac
    shift
done
[ "$(id -u)" -eq 0 ] || { echo "lab bench: needs root (the lab)" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" --target upnp_lab_bench >/dev/null
driver=$build/bench/upnp/upnp_lab_bench

lab=$root/scripts/lab
trap '"$lab" down >/dev/null 2>&1 || true' EXIT
trap 'exit 130' INT TERM
IFS=, read -r -a size_list <<<"$sizes"
for n in "${size_list[@]}"; do
    echo "== $n mappings"
    "$lab" up igd --mappings "$n" >/dev/null
    url=$("$lab" env | sed -n 's/^LAB_DESC_URL=//p')
    "$lab" exec "$driver" --desc-url "$url" --runs "$runs"
    echo
done
