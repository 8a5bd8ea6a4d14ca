#!/usr/bin/env bash
# The demo: builds what is missing, starts the publisher server on the
# loopback ports the downloader has built in, and runs the downloader against
# it, on a C: drive, registry and runtime folder of its own (removed after).
#
# The download goes through the local engine: the library fetches the engine
# update from the publisher server, installs the engine program in the demo's
# roaming folder and starts it, and the engine downloads the package. The
# demo's C: drive (<build>/demo/drive_c) is kept between runs, so a second run
# finds the engine up to date; only its download folder starts empty.
# DEMO_ENGINE=0 takes the update server down and gives the run a C: drive of
# its own without an engine: the library falls back to the direct path.
# DEMO_PROXY=1 starts a tinyproxy on 127.0.0.1 (DEMO_PROXY_PORT, 18888 by
# default) and points http_proxy and https_proxy at it: the file list, the
# engine update, the banner and every download go through it, and the demo
# ends with the requests the proxy carried.
#
# With a display the player uses the real window. Without one (or with
# DEMO_AUTOPILOT=1) the demo's autopilot runs the same window, presses its
# buttons, prints the labels once a second and the library's log lines as
# they come, and saves screenshots into <build>/demo/; it ends when the
# installer has run.
#
#   scripts/demo.sh [build folder]     DEMO_SIZES=6M,4M,2M DEMO_RATE=256K (1536K direct) DEMO_ENGINE=1
#                                      DEMO_PROXY=0 DEMO_PROXY_PORT=18888
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
sizes=${DEMO_SIZES:-6M,4M,2M}
engine=${DEMO_ENGINE:-1}
proxy=${DEMO_PROXY:-0}
proxy_port=${DEMO_PROXY_PORT:-18888}
# Per connection: the engine opens up to eight for a file, the direct path one.
if [ "$engine" = 0 ]; then rate=${DEMO_RATE:-1536K}; else rate=${DEMO_RATE:-256K}; fi

gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"${JOBS:-2}" --target qlsdownloader demo_autopilot publisher_server agent_server qls_engine

work=$(mktemp -d "${TMPDIR:-/tmp}/qls-demo-XXXXXX")
server_pid=
agent_pid=
proxy_pid=
if [ "$engine" = 0 ]; then
  drive_c="$work/drive_c"
else
  drive_c="$build/demo/drive_c"
fi
engine_program="$drive_c/users/${USER:-$(id -un)}/AppData/Roaming/Orvane/qlsDownloadV32/QLSDownloadV32.exe"

# The engines this demo's library started: the processes of its program.
engine_pids() {
  local program
  program=$(readlink -f "$engine_program" 2>/dev/null) || return 0
  for exe in /proc/[0-9]*/exe; do
    if [ "$(readlink "$exe" 2>/dev/null)" = "$program" ]; then
      pid=${exe#/proc/}; echo "${pid%/exe}"
    fi
  done
}

cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  if [ -n "$agent_pid" ]; then kill "$agent_pid" 2>/dev/null || true; wait "$agent_pid" 2>/dev/null || true; fi
  if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; fi
  for pid in $(engine_pids); do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$drive_c" "$work/runtime"
# The download folder starts empty on every run; the engine stays installed.
rm -rf "$drive_c/quorvik"
export MESHDROP_DRIVE_C="$drive_c"
# The engine leaves soon after the downloader has gone.
export MESHDROP_ENGINE_IDLE_EXIT=5
if [ "$engine" = 0 ]; then
  # The update server is down: nothing listens on port 1.
  export MESHDROP_UPDATE_LIST_URL="http://127.0.0.1:1/orvane/qlsdownload/update/v3_32/qlsdownload_updater.xml"
  echo "demo: DEMO_ENGINE=0: the update server is down; the library falls back to the direct path."
elif [ -x "$engine_program" ]; then
  echo "demo: the engine is installed from an earlier run: the update finds it up to date."
else
  echo "demo: a fresh roaming folder: the engine update installs the engine."
fi
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

if [ "$proxy" = 1 ]; then
  # A proxy of the demo's own: the player's http_proxy and https_proxy lead
  # to it, and nothing is exempt.
  command -v tinyproxy >/dev/null 2>&1 || { echo "demo: DEMO_PROXY=1 needs tinyproxy (scripts/install-deps.sh)." >&2; exit 1; }
  printf 'Port %s\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nLogLevel Connect\nLogFile "%s"\n' \
    "$proxy_port" "$work/proxy.log" >"$work/tinyproxy.conf"
  tinyproxy -d -c "$work/tinyproxy.conf" >"$work/proxy.out" 2>&1 &
  proxy_pid=$!
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$proxy_port") 2>/dev/null && break
    kill -0 "$proxy_pid" 2>/dev/null || { cat "$work/proxy.out" >&2; echo "demo: port $proxy_port of 127.0.0.1 must be free." >&2; exit 1; }
    sleep 0.1
  done
  export http_proxy="http://127.0.0.1:$proxy_port" https_proxy="http://127.0.0.1:$proxy_port"
  unset HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
  echo "demo: DEMO_PROXY=1: http_proxy and https_proxy lead to a tinyproxy on 127.0.0.1:$proxy_port."
fi

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

service_log="$(dirname "$engine_program")/config/service.log"
if grep -q "CPlatFormDownloader Begin" "$service_log" 2>/dev/null; then
  echo "demo: the package came by the direct path (the library fell back from the engine)."
elif grep -q "Patch Success" "$service_log" 2>/dev/null; then
  echo "demo: the package came through the local engine."
fi
if [ "$proxy" = 1 ]; then
  echo "demo: the proxy carried $(grep -c "]: Request (file descriptor" "$work/proxy.log" 2>/dev/null || true) requests:"
  grep "]: Request (file descriptor" "$work/proxy.log" 2>/dev/null | sed 's/.*): /  /' | sort | uniq -c | head -20 || true
fi
if [ -f "$MESHDROP_SETUP_MARKER" ]; then
  echo "demo: the installer ran: $(cat "$MESHDROP_SETUP_MARKER")"
  echo "demo: downloaded into C:\\quorvik\\veilrune\\ ($MESHDROP_DRIVE_C/quorvik/veilrune):"
  ls -l "$MESHDROP_DRIVE_C/quorvik/veilrune"
  # The report of the job leaves when it ends (from the engine, or from the
  # library before it finished); it is stored by now or very soon.
  for _ in $(seq 1 100); do
    grep -q "agent_server stored" "$work/agent.out" && break
    sleep 0.1
  done
  echo "demo: the agent server stored these download reports:"
  "$build/bin/agent_server" --db "$work/agent.db" --summary
else
  echo "demo: the installer did not run." >&2
  exit 1
fi
