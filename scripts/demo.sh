#!/usr/bin/env bash
# The demo: builds what is missing, starts the publisher server on the
# loopback ports the downloader has built in, and runs the downloader against
# it, on a C: drive, registry and runtime folder of its own (removed after).
#
# With a display the player uses the real window. Without one (or with
# DEMO_AUTOPILOT=1) the demo's autopilot runs the same window, presses its
# buttons, prints the labels once a second and saves screenshots into
# <build>/demo/; it ends when the installer has run.
#
#   scripts/demo.sh [build folder]     DEMO_SIZES=6M,4M,2M DEMO_RATE=1536K
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
sizes=${DEMO_SIZES:-6M,4M,2M}
rate=${DEMO_RATE:-1536K}

gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"${JOBS:-2}" --target qlsdownloader demo_autopilot publisher_server agent_server

work=$(mktemp -d "${TMPDIR:-/tmp}/qls-demo-XXXXXX")
server_pid=
agent_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  if [ -n "$agent_pid" ]; then kill "$agent_pid" 2>/dev/null || true; wait "$agent_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/drive_c" "$work/runtime"
export MESHDROP_DRIVE_C="$work/drive_c"
export MESHDROP_REGISTRY="$work/registry.reg"
export MESHDROP_RUNTIME_DIR="$work/runtime"
export MESHDROP_SETUP_MARKER="$work/setup.ran"

# The publisher server on the ports the downloader's built-in addresses name.
"$build/bin/publisher_server" --port 18080 --mirror-port 18081 --sizes "$sizes" --rate "$rate" \
  --root "$work/publisher" >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 1 100); do
  grep -q "publisher_server ready" "$work/server.out" 2>/dev/null && break
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "demo: the publisher server did not start:" >&2
    cat "$work/server.err" >&2
    echo "demo: ports 18080 and 18081 of 127.0.0.1 must be free." >&2
    exit 1
  fi
  sleep 0.1
done
cat "$work/server.out"

# The agent server on its built-in port keeps the downloader's reports.
"$build/bin/agent_server" --db "$work/agent.db" >"$work/agent.out" 2>&1 &
agent_pid=$!
for _ in $(seq 1 100); do
  grep -q "agent_server ready" "$work/agent.out" 2>/dev/null && break
  kill -0 "$agent_pid" 2>/dev/null || { cat "$work/agent.out" >&2; echo "demo: port 54547 of 127.0.0.1 must be free." >&2; exit 1; }
  sleep 0.1
done
head -1 "$work/agent.out"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${DEMO_AUTOPILOT:-}" ]; then
  echo "demo: the downloader's window is open; press 開始 (start), then 安裝 (install) when it has finished."
  "$build/bin/qlsdownloader"
else
  shots="$build/demo"
  mkdir -p "$shots"
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "demo: no display; the autopilot plays the window offscreen."
  fi
  "$build/bin/demo_autopilot" --screenshots "$shots"
fi

if [ -f "$MESHDROP_SETUP_MARKER" ]; then
  echo "demo: the installer ran: $(cat "$MESHDROP_SETUP_MARKER")"
  echo "demo: downloaded into C:\\quorvik\\veilrune\\ ($MESHDROP_DRIVE_C/quorvik/veilrune):"
  ls -l "$MESHDROP_DRIVE_C/quorvik/veilrune"
  echo "demo: the agent server stored these download reports:"
  "$build/bin/agent_server" --db "$work/agent.db" --summary
else
  echo "demo: the installer did not run." >&2
  exit 1
fi
