#!/bin/bash
# Runs inside `unshare -nm`: a private system bus, avahi-daemon and ser2net advertising two ports on a veth link
# of its own, then `vellport discover`. Exit 77 when any of them cannot start here (the test skips).
# Usage: discover_avahi.sh VELLPORT FOLDER
set -u
vellport=$1 dir=$2
pids=()
trap 'kill -KILL "${pids[@]}" 2>/dev/null' EXIT
skip() { echo "skip: $*" >&2; exit 77; }
# Tries a command up to N times, 50 ms apart, until it succeeds: await N COMMAND...
await() {
    local tries=$1
    shift
    for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.05; done
    return 1
}
for program in avahi-daemon dbus-daemon ser2net; do
    command -v "$program" >/dev/null || skip "$program is not installed"
done
mount -t tmpfs tmpfs /run || skip "no private /run"
if ! { ip link set lo up && ip link add v0 type veth peer name v1 && ip link set v1 up && ip link set v0 up &&
    ip addr add 10.9.0.1/24 dev v0; }; then
    skip "no veth link"
fi
cat >"$dir/bus.conf" <<END
<busconfig><type>system</type><listen>unix:path=/run/bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/><allow user="*"/>
</policy></busconfig>
END
printf '[server]\nuse-ipv6=no\nallow-interfaces=v0\n[publish]\npublish-workstation=no\n' >"$dir/avahi.conf"
cat >"$dir/ser2net.yaml" <<END
connection: &front-desk
    accepter: telnet(rfc2217),tcp,10.9.0.1,2001
    connector: serialdev,/dev/null,9600n81,local
    options:
        mdns: true
        mdns-name: front-desk
        mdns-txt: location=front desk
        mdns-txt: baud=9600n81
connection: &back-raw
    accepter: tcp,10.9.0.1,2002
    connector: serialdev,/dev/null,9600n81,local
    options:
        mdns: true
        mdns-name: back-raw
END
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/bus
dbus-daemon --config-file="$dir/bus.conf" --nofork --nopidfile >"$dir/dbus.log" 2>&1 &
pids+=($!)
await 100 test -S /run/bus || skip "no private system bus"
avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$dir/avahi.conf" >"$dir/avahi.log" 2>&1 &
pids+=($!)
await 100 test -S /run/avahi-daemon/socket || skip "avahi-daemon did not start"
unset VELLPORT_MDNS_ADDRESS
advertised() { [[ $("$vellport" discover --seconds 0.2) == *back-raw*front-desk* ]]; }
# ser2net gives up its adverts when avahi is not on the bus yet: a new ser2net asks again.
for attempt in 1 2 3 4; do
    ser2net -n -d -u -c "$dir/ser2net.yaml" -P "$dir/ser2net.pid" >"$dir/ser2net.log" 2>&1 &
    pids+=($!)
    await 8 advertised && break
    kill -KILL "${pids[-1]}"
    wait "${pids[-1]}" 2>/dev/null
    ((attempt == 4)) && skip "ser2net's adverts did not appear: $(tail -1 "$dir/ser2net.log")"
done
"$vellport" discover
