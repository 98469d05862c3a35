#!/usr/bin/env bash
# Quorvel set-up: installs what the build needs (Debian 12), builds, and then either runs
# every test or starts the application.
#   ./setup.sh test   build and run every test
#   ./setup.sh run    build and start the application
set -euo pipefail
cd "$(dirname "$0")"

mode=${1:-}
case "$mode" in
test | run) ;;
*)
    echo "usage: $0 test|run" >&2
    exit 2
    ;;
esac

packages=(g++ cmake make pkg-config qt6-base-dev qt6-svg-dev libqt6svg6 libgl-dev
    libavahi-client-dev)
if [ "$mode" = test ]; then
    # Test-only tools: the benchmark library, a private Avahi/D-Bus pair for the discovery
    # round trip, and Qt's private GUI headers, through which the accessibility sweep turns
    # the platform's accessibility on as a screen reader would.
    packages+=(libbenchmark-dev avahi-daemon avahi-utils dbus iproute2 qt6-base-private-dev)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    # Installing avahi-daemon must not start a daemon on the host network.
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 4)
if [ "$mode" = run ]; then
    # The application as shipped talks to the product's own hosts. It builds in a folder of
    # its own and only the app, so switching between run and test never rebuilds the other.
    build_dir=${QUORVEL_BUILD_DIR:-build-app}
    configure=(-DQUORVEL_WEB_HOST=https://quorvel.app
        -DQUORVEL_ANALYTICS_HOST=https://collect.quorvel.app
        -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF)
    targets=(--target quorvel)
else
    # Tests never reach outside hosts: usage events and the feed point at a closed local port.
    build_dir=${QUORVEL_BUILD_DIR:-build}
    configure=(-DQUORVEL_WEB_HOST=http://127.0.0.1:9 -DQUORVEL_ANALYTICS_HOST=http://127.0.0.1:9)
    targets=()
fi
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" ${QUORVEL_CMAKE_ARGS:-}
cmake --build "$build_dir" -j"$jobs" "${targets[@]}"

if [ "$mode" = test ]; then
    ctest --test-dir "$build_dir" --output-on-failure -j"$jobs"
else
    exec "$build_dir/src/quorvel"
fi
