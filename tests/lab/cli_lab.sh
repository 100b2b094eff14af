#!/usr/bin/env bash
# quaymap-cli against miniupnpd in the lab, in every kind of router the lab offers, each command
# checked against what the router itself says (upnpc, natpmpc, its forwarding rules).
# Usage: cli_lab.sh LAB_SCRIPT QUAYMAP_CLI   (run_lab_tests.sh runs it inside a lab session)
set -uo pipefail
lab=$1 cli=$2
failed=0

check() { # DESCRIPTION COMMAND...: passes when COMMAND succeeds
    local what=$1
    shift
    if "$@" >/dev/null; then echo "ok - $what"; else echo "not ok - $what"; failed=$((failed + 1)); fi
}
up() {
    "$lab" up "$@" >/dev/null || exit 1
    eval "$("$lab" env)"
    export XDG_STATE_HOME=$LAB_RUN_DIR/state # QuayMap's record: the lab's, gone with it
}
q() { "$lab" exec "$cli" "$@"; }
# Exit status and standard error of quaymap-cli, as "STATUS|MESSAGE".
outcome() {
    local err status
    err=$(q "$@" 2>&1 >/dev/null)
    status=$?
    echo "$status|$err"
}
# The router's table, one "PORT PROTOCOL ADDRESS:PORT NAME" a line, as quaymap-cli and upnpc see it.
rows_cli() {
    q "$@" --json list | jq -r '.mappings[] |
        "\(.external_port) \(.protocol) \(.internal_client):\(.internal_port) \(.name)"' | sort
}
rows_upnpc() {
    "$lab" exec upnpc -u "$LAB_DESC_URL" -l |
        sed -nE "s/^ *[0-9]+ (TCP|UDP) +([0-9]+)->([0-9.]+:[0-9]+) +'([^']*)'.*/\2 \1 \3 \4/p" | sort
}
forwarded() { ip netns exec "$LAB_ROUTER_NS" nft list chain inet nat prerouting_miniupnpd | grep -q "dport $1 "; }
not_forwarded() { ! forwarded "$1"; }
is() { [ "$1" = "$2" ] || { echo "  got:  $1" >&2; echo "  want: $2" >&2; return 1; }; }
says() { [[ "$1" == $2 ]] || { echo "  got:  $1" >&2; echo "  want: $2" >&2; return 1; }; }

for mode in igd igd2; do
    up "$mode" --mappings 5
    kind=igd1
    [ "$mode" = igd2 ] && kind=igd2
    check "$mode: status names the router, its kind and its public address" is \
        "$(q --json status | jq -r '[.router.kind, .router.name, .public_address, .address_is_public] | @tsv')" \
        "$kind	Lab Gateway	$LAB_WAN_IP	true"
    check "$mode: the list is the router's table" is "$(rows_cli)" "$(rows_upnpc)"
    check "$mode: with --router the list is the same" is "$(rows_cli --router "$LAB_DESC_URL")" "$(rows_cli)"
    check "$mode: a TCP and a UDP mapping under one name are added" q add "Café Server" 27015:27016 both
    check "$mode: both reach the router, name intact" is \
        "$(rows_upnpc | grep -c "^27015 .* $LAB_CLIENT_IP:27016 Café Server$")" 2
    check "$mode: a port another computer holds is refused, naming it" says "$(outcome add Web 8080 tcp)" \
        "1|8080/TCP: Port 8080/TCP already goes to $LAB_OTHER_IP (Web Server)."
    check "$mode: the refusal carries the router's code in JSON" is \
        "$(q --json add Web 8080 tcp 2>/dev/null | jq -r '.results[0] | "\(.verdict) \(.upnp_error_code)"')" "refused 718"
    check "$mode: both are deleted" q delete 27015 both
    check "$mode: and gone from the router" is "$(rows_upnpc | grep -c '^27015 ')" 0
done

# Renewed before the lease ends, deleted once stopped.
"$lab" exec "$cli" add Kept 27200 tcp --lease 4 --keep 2>"$LAB_RUN_DIR/keep.err" &
keeper=$!
renewed() { for _ in $(seq 100); do grep -q '^renewed 27200/TCP' "$1" && return; sleep 0.1; done; false; }
check "igd2: --keep renews the mapping before its lease ends" renewed "$LAB_RUN_DIR/keep.err"
check "igd2: the kept mapping is on the router" is "$(rows_upnpc | grep -c '^27200 TCP')" 1
kill -TERM "$keeper"
wait "$keeper"
check "igd2: --keep deletes it when stopped" is "$(rows_upnpc | grep -c '^27200 ')" 0

# keep: three mappings put back after a reboot, a line gone deleted, the table as it was after.
within() { # SECONDS COMMAND...: passes once COMMAND does, within SECONDS
    local end=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do ((SECONDS < end)) || return 1; sleep 0.2; done
}
held() { [ "$(rows_upnpc | grep -cE '^(18080 TCP|27015 (TCP|UDP)) ')" = "$1" ]; }
keep() { # FILE: the lab's exec becomes quaymap-cli, so the signals go to it
    "$lab" exec "$cli" keep "$1" 2>"$LAB_RUN_DIR/keep.err" &
    keeper=$!
}
before=$(rows_upnpc)
printf '"Kept Web" 18080:80 tcp # the site\nGame 27015 both\n' | tee "$LAB_RUN_DIR/keep.conf" >"$LAB_RUN_DIR/two.conf"
keep "$LAB_RUN_DIR/keep.conf"
check "igd2: keep adds the three mappings of its file" within 10 held 3
check "igd2: list marks them kept" is "$(q --json list | jq '[.mappings[] | select(.quaymap == "kept")] | length')" 3
echo '"Kept Web" 18080:80 tcp' >"$LAB_RUN_DIR/keep.conf"
kill -HUP "$keeper"
check "igd2: SIGHUP with a line gone deletes its mappings" within 10 held 1
kill -TERM "$keeper"
wait "$keeper"
check "igd2: SIGTERM ends keep with 0 and leaves the table as it was" is "$? $(rows_upnpc)" "0 $before"
keep "$LAB_RUN_DIR/two.conf"
within 10 held 3 && "$lab" router reboot >/dev/null
check "igd2: keep puts all three back within 30 s of a reboot" within 30 held 3
check "igd2: it heard a new BOOTID" grep -q '^The router restarted (its BOOTID' "$LAB_RUN_DIR/keep.err"
kill -TERM "$keeper" && wait "$keeper"

# A keep killed while its record write waits in fsync (strace holds each for 5 s) leaves the
# record whole.
q add Before 27401 tcp >/dev/null
echo 'Killed 27400 tcp' >"$LAB_RUN_DIR/kill.conf"
"$lab" exec strace -qq -o /dev/null -e trace=fsync -e inject=fsync:delay_enter=5s \
    "$cli" keep "$LAB_RUN_DIR/kill.conf" 2>/dev/null &
tracer=$!
check "a record write is caught half-way" within 10 compgen -G "$XDG_STATE_HOME/quaymap/mappings.tmp-*"
kill -KILL "$(cat /proc/"$tracer"/task/*/children)" "$tracer" && wait "$tracer" 2>/dev/null
marked() { q --json list 2>&1 | jq -r '.mappings[] | select(.external_port == 27401) | .quaymap'; }
check "the record it left is whole: the mapping made before is marked" is "$(marked)" "made here"
check "forget drops it from the record, not from the router" is "$(q forget 27401 tcp) $(marked)" \
    "forgot 27401/TCP (Before, on uuid:6c8a4f1e-2b1d-4c3a-9e57-51ab0c0ffee1) null"
q delete 27400 tcp >/dev/null && q delete 27401 tcp >/dev/null

# More mappings of a protocol than one GetListOfPortMappings answer of this miniupnpd survives.
up igd2 --mappings 500
check "igd2: 500 mappings are listed whole, and the router still answers" is \
    "$(q --json list | jq -r '"\(.complete) \(.mappings | length)"') $(rows_upnpc | wc -l)" "true 500 500"

up secure --mappings 5
check "secure: another computer's mapping is refused as the router's secure mode" says \
    "$(outcome add Other 9000 tcp "$LAB_OTHER_IP")" "1|9000/TCP: The router refuses mappings for other computers*secure mode*"
check "secure: this computer's own mapping is added" q add Own 9001 tcp
check "secure: and deleted" q delete 9001 tcp

up natpmp
check "natpmp: status names AirPort Station and the address natpmpc reads" is \
    "$(q --json status | jq -r '[.router.kind, .router.name, .public_address] | @tsv')" \
    "natpmp	AirPort Station	$("$lab" exec natpmpc -g "$LAB_ROUTER_LAN_IP" | sed -n 's/^Public IP address : //p')"
check "natpmp: the table is empty" is "$(q --json list | jq '.mappings | length')" 0
check "natpmp: a mapping for another computer is refused before sending" says \
    "$(outcome add Other 27300 udp "$LAB_OTHER_IP")" "2|27300/UDP: A NAT-PMP router forwards ports only*"
check "natpmp: a mapping is added" q add Game 27300 udp
check "natpmp: it reaches the router" within 3 forwarded 27300
check "natpmp: it is deleted" q delete 27300 udp
check "natpmp: and gone from the router" not_forwarded 27300
held() { [ "$(ip netns exec "$LAB_ROUTER_NS" nft list chain inet nat prerouting_miniupnpd | grep -cE 'dport (27500|27501) ')" = "$1" ]; }
printf 'Game 27500 both\nVoice 27501 udp\n' >"$LAB_RUN_DIR/keep.conf"
keep "$LAB_RUN_DIR/keep.conf"
check "natpmp: keep adds the three mappings of its file" within 10 held 3
"$lab" router reboot >/dev/null
check "natpmp: keep puts all three back within 10 s of a reboot" within 10 held 3
kill -TERM "$keeper" && wait "$keeper"
check "natpmp: and deletes them when stopped" held 0

up none
check "none: no router found, exit 3" says "$(outcome status)" "3|quaymap-cli: no router found.*"
check "none: JSON says so" is "$(q --json list 2>/dev/null | jq -r '.error.verdict')" no_router

up igd
"$lab" router drop
check "a silent router is no router, within the search's seconds" says "$(outcome status)" "3|*"
"$lab" router mend

echo "$failed failed"
exit $((failed > 0))
