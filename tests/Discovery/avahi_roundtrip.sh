#!/usr/bin/env bash
# Runs the mDNS round-trip test inside a network namespace of its own: only loopback exists
# there, so nothing is ever multicast on a real interface. A private D-Bus daemon (socket in
# a temporary folder) and an Avahi daemon restricted to lo serve the test; everything is
# stopped and the namespace deleted on exit. Exits 77 (skipped) where that can't be set up.
set -u

test_binary=${1:?usage: $0 TEST_BINARY}
skip() {
    echo "SKIP: $*"
    exit 77
}

for tool in ip dbus-daemon avahi-daemon avahi-publish; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root here"

ns="quorvel-mdns-$$"
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-mdns.XXXXXX") || skip "no temporary folder"
pids=()

cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null
    done
    ip netns del "$ns" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

ip netns add "$ns" 2>"$work/netns.err" || skip "can't create a network namespace: $(cat "$work/netns.err")"
ip netns exec "$ns" ip link set lo up || skip "can't bring up loopback in the namespace"
ip netns exec "$ns" ip link set lo multicast on || skip "can't enable multicast on loopback"

bus="$work/system_bus_socket"
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF

cat >"$work/avahi.conf" <<EOF
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
EOF

# "ip netns exec" gives each command a private mount namespace; a tmpfs over /run keeps the
# daemons' pid and socket files away from the host's.
ip netns exec "$ns" sh -c 'mount -t tmpfs none /run && exec dbus-daemon --config-file="$1" --nofork --nopidfile' \
    sh "$work/bus.conf" >"$work/dbus.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    [ -S "$bus" ] && break
    sleep 0.1
done
[ -S "$bus" ] || { cat "$work/dbus.log"; skip "the private D-Bus daemon did not start"; }

export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$bus"
ip netns exec "$ns" sh -c 'mount -t tmpfs none /run && exec avahi-daemon -f "$1" --no-drop-root --no-chroot --no-rlimits' \
    sh "$work/avahi.conf" >"$work/avahi.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    grep -q "Server startup complete" "$work/avahi.log" 2>/dev/null && break
    sleep 0.1
done
grep -q "Server startup complete" "$work/avahi.log" \
    || { cat "$work/avahi.log"; skip "the private Avahi daemon did not start"; }

# The test publishes its own services with avahi-publish and talks to 127.0.0.1 inside the
# namespace only.
QUORVEL_MDNS_NAMESPACE="$ns" ip netns exec "$ns" env QUORVEL_MDNS_NAMESPACE="$ns" "$test_binary"
status=$?
if [ $status -ne 0 ]; then
    echo "--- avahi-daemon log"
    cat "$work/avahi.log"
fi
exit $status
