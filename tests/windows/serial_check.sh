#!/usr/bin/env bash
# tallyctl.exe under Wine on a COM port: Wine maps COM12 (a name Windows opens only as
# \\.\COM12) to the pseudo-terminal of the Linux unit simulator, and lists it in the registry
# as Windows lists its ports. What tallyctl.exe reads over that port, and over TCP, must be what
# the Linux tallyctl reads from the same unit; a write with --verify must go through; a unit that
# says nothing must cost the full one-second wait, no more and no less; a missing port must fail
# to open. Runs alone: it adds a port the other tests would see come and go.
# Usage: serial_check.sh WINE WINEPREFIX WINDOWS_BIN HOST_BUILD
set -euo pipefail
wine=$1
export WINEPREFIX=$2
bin=$3
host=$4
export WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
# Host 12 of the run's own loopback network, as tests/common/testaddress.h makes it.
run=${TALLYCONF_TEST_RUN:-$$}
address=127.$((1 + (run >> 8) % 255)).$((run & 255)).12
serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
link=$WINEPREFIX/dosdevices/com12
work=$(mktemp -d)
units=()
cleanup() {
    for pid in "${units[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    done
    rm -f "$link"
    "$wine" reg delete "$serialcomm" /v 'tallyconf-check' /f >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

fail=0
problem() {
    echo "$*"
    fail=1
}

# start_unit NAME [simulator options]: the Linux simulator on TCP and a pseudo-terminal, with
# COM12 pointing at the latter. Sets unit_port.
start_unit() {
    local name=$1
    shift
    "$host/tools/unit-simulator/unit-simulator" --listen "$address:0" --pty "$@" > "$name.out" 2>&1 &
    units+=($!)
    for _ in $(seq 50); do
        grep -q '^pty: ' "$name.out" && break
        sleep 0.1
    done
    local pty
    pty=$(sed -n 's/^pty: //p' "$name.out")
    unit_port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$name.out")
    [ -n "$pty" ] && [ -n "$unit_port" ] || { echo "the unit simulator did not start: $(cat "$name.out")"; exit 1; }
    ln -sfn "$pty" "$link"
}

start_unit unit
"$wine" reg add "$serialcomm" /v 'tallyconf-check' /t REG_SZ /d COM12 /f >/dev/null

ports=$("$wine" "$bin/tallyctl.exe" list-ports)
grep -qxF "$(printf 'COM12\t\\\\.\\COM12\t\t\t\t')" <<<"$ports" || problem "list-ports does not show COM12 at \\\\.\\COM12: $ports"

"$host/cli/tallyctl" read --host "$address:$unit_port" > linux.txt
for channel in "--serial COM12" "--host $address:$unit_port"; do
    # shellcheck disable=SC2086
    if ! "$wine" "$bin/tallyctl.exe" read $channel > windows.txt 2> windows.err; then
        problem "tallyctl.exe read $channel failed: $(cat windows.err)"
    elif ! cmp -s linux.txt windows.txt; then
        problem "tallyctl.exe read $channel differs from the Linux tallyctl:"
        diff linux.txt windows.txt || true
    fi
done

printf '[General]\nFullTimeout=2000\nCommandTimeout=300\nRetryTimeout=120\nServerToken=42\nIPsrv=10.0.0.1\nURLaddr=kassa.example\nPort=8080\nAPN=internet\nLogin=\\x43b\\x43e\\x433\\x438\\x43d\nPassword=guest\nBalanceCode=*102#\nEthMAC=00-1a-2b-3c-4d-ff\nEthIP=192.168.1.50\nEthMask=255.255.255.0\nGateway=192.168.1.1\nDNSaddr=192.168.1.1\nUseDHCP=false\nPriority=3\nCashDeskID=17\n' > profile.ini
if ! "$wine" "$bin/tallyctl.exe" write profile.ini --serial COM12 --verify --no-increment-mac \
        > write.out 2> write.err || [ -s write.err ]; then
    problem "tallyctl.exe write --verify over COM12 failed: $(cat write.out write.err)"
fi
"$host/cli/tallyctl" read --host "$address:$unit_port" > after.txt
grep -qx 'Login=логин' after.txt && grep -qx 'EthMAC=00-1a-2b-3c-4d-ff' after.txt \
    || problem "the unit does not hold what was written over COM12: $(cat after.txt)"

start_unit silent --fault silent@07/06
status=0
"$wine" "$bin/tallyctl.exe" read --serial COM12 --trace > /dev/null 2> silent.err || status=$?
waited=$(sed -n 's/^ *\([0-9]*\) ! no response within 1000 ms$/\1/p' silent.err)
if [ "$status" != 4 ] || [ -z "$waited" ] || [ "$waited" -lt 990 ] || [ "$waited" -gt 2000 ]; then
    problem "a silent unit on COM12: expected exit 4 after one second's wait, got exit $status:"
    cat silent.err
fi

status=0
"$wine" "$bin/tallyctl.exe" read --serial COM13 > /dev/null 2> missing.err || status=$?
[ "$status" = 3 ] && grep -qx 'Не могу открыть порт COM13' missing.err \
    || problem "a missing COM13: expected exit 3 and \"Не могу открыть порт COM13\", got exit $status: $(cat missing.err)"
exit $fail
