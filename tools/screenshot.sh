#!/usr/bin/env bash
# Starts the application under Xvfb in a throw-away data folder and takes screenshots.
#   tools/screenshot.sh OUT-PREFIX ["xdotool steps;shot;..."]
# Every "shot" step writes OUT-PREFIX<n>.png; other steps are xdotool arguments
# ("mousemove 257 42 click 1", "key Escape"). Without steps it takes one shot.
# QUORVEL_CONNECTIONS names a connections.json to use instead of the default routers (keep it to
# the simulator and 127.0.0.1); QUORVEL_SCREEN sets the screen size (default 1400x900). The
# window has no manager to size it: "search --onlyvisible --class quorvel windowsize %@ 860 582"
# gives it a content area of 860x560 below the menu bar. QUORVEL_CELL_SIZE sets the matrix's
# cell size (the zoom control's "matrixCellSize", 30 to 68). QUORVEL_SALVOS names a
# salvos.json to start with.
#
# The folder holds only the simulator and 127.0.0.1 routers, usage statistics are off, and the
# binary is the test build (feed and analytics on a closed loopback port), so nothing leaves
# the machine. Needs xvfb, imagemagick and xdotool.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:?usage: tools/screenshot.sh OUT-PREFIX [steps]}
steps=${2:-shot}
bin=${QUORVEL_BIN:-build/src/quorvel}
[ -x "$bin" ] || { echo "build first: ./setup.sh test" >&2; exit 1; }
bin=$(realpath "$bin")

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export HOME=$root XDG_DATA_HOME=$root/data XDG_CONFIG_HOME=$root/config XDG_CACHE_HOME=$root/cache
mkdir -p "$XDG_DATA_HOME/Quorvel" "$XDG_CONFIG_HOME/Quorvel"
printf '[General]\nanalyticsOptOut=true\n' >"$XDG_CONFIG_HOME/Quorvel/Quorvel.conf"
[ -z "${QUORVEL_CELL_SIZE:-}" ] ||
    printf 'matrixCellSize=%s\n' "$QUORVEL_CELL_SIZE" >>"$XDG_CONFIG_HOME/Quorvel/Quorvel.conf"
if [ -n "${QUORVEL_CONNECTIONS:-}" ]; then
    cp "$QUORVEL_CONNECTIONS" "$XDG_DATA_HOME/Quorvel/connections.json"
else
    cat >"$XDG_DATA_HOME/Quorvel/connections.json" <<'JSON'
[{"id":"6F1C2B0E-3D44-4E7B-9C1A-000000000001","name":"Demo Router","vendor":"simulator",
  "host":"","port":0,"simSourceCount":16,"simDestinationCount":16},
 {"id":"6F1C2B0E-3D44-4E7B-9C1A-000000000002","name":"Studio Videohub",
  "vendor":"blackmagicVideohub","host":"127.0.0.1","port":9990,"simSourceCount":16,
  "simDestinationCount":16},
 {"id":"6F1C2B0E-3D44-4E7B-9C1A-000000000003","name":"Ultrix Main","vendor":"rossUltrix",
  "host":"127.0.0.1","port":2000,"simSourceCount":64,"simDestinationCount":64,"accentHue":0.78}]
JSON
fi
[ -z "${QUORVEL_SALVOS:-}" ] || cp "$QUORVEL_SALVOS" "$XDG_DATA_HOME/Quorvel/salvos.json"

cat >"$root/drive.sh" <<'DRIVE'
"$BIN" & pid=$!
sleep 2.5
n=0
IFS=';' read -ra steps <<<"$STEPS"
for step in "${steps[@]}"; do
    if [ "$step" = shot ]; then
        import -window root "$PREFIX$n.png"
        n=$((n + 1))
    else
        read -ra args <<<"$step"
        xdotool "${args[@]}"
        sleep 1
    fi
done
kill "$pid"
DRIVE
BIN=$bin PREFIX=$prefix STEPS=$steps xvfb-run -a -s "-screen 0 ${QUORVEL_SCREEN:-1400x900}x24" bash "$root/drive.sh"
