#!/usr/bin/env bash
# Checks the program as it is installed, not as it runs from the build folder:
#   - `cmake --install` into a temporary prefix; with the build folder moved
#     away, the installed qlsdownloader answers --version and the installed
#     qlsdownloader-cli downloads the publisher server's package byte-exact,
#     once on the direct path and once through the engine: the library
#     installs the engine from the server's update archive into a fresh
#     roaming folder and starts it, and the job goes through it (no
#     fallback), which only works when the shipped engine needs nothing
#     but Debian's libraries;
#   - the installed desktop entry passes desktop-file-validate, the AppStream
#     metainfo passes appstreamcli validate, and the bash completion offers the
#     program's options;
#   - CPack builds the Debian package; lintian finds no error in it, and its
#     dependencies were computed from the shared libraries;
#   - as root, with the package not installed yet: `apt-get install ./…deb`,
#     the installed programs run, and the package is purged again.
# Usage: scripts/check-package.sh [BUILD_DIR]   (default: build)
set -euo pipefail

build=$(realpath "${1:-build}")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
work=$(mktemp -d "${TMPDIR:-/tmp}/qls-check-package.XXXXXX")
server_pid=
passed=0
engine_program=
failed=0

cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  for pid in $(engine_pids); do kill "$pid" 2>/dev/null || true; done
  [ -d "$build.away" ] && [ ! -e "$build" ] && mv "$build.away" "$build"
  rm -rf "$work"
}
trap cleanup EXIT

check() {
  local name=$1
  shift
  if "$@"; then
    echo "ok: $name"
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    failed=$((failed + 1))
  fi
}

# The engines the checks' library started: the processes of the program it
# installed below $work.
engine_pids() {
  [ -n "$engine_program" ] || return 0
  local exe
  for exe in /proc/[0-9]*/exe; do
    if [ "$(readlink "$exe" 2>/dev/null)" = "$engine_program" ]; then
      exe=${exe#/proc/}
      echo "${exe%/exe}"
    fi
  done
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# ---- The installed tree, with the build folder out of the way --------------
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
# The publisher server reads the engine update's archives (made from the
# built engine) when it starts: it starts before the build folder goes.
root=$work/publisher
mkfifo "$work/ready"
"$build/bin/publisher_server" --port 0 --mirror-port 0 --sizes 3M,200K --root "$root" >"$work/ready" &
server_pid=$!
read -r -t 30 line <"$work/ready" || { echo "the publisher server did not start"; exit 1; }
port=$(sed -n 's/^publisher_server ready port=\([0-9]*\).*/\1/p' <<<"$line")
[ -n "$port" ] || { echo "the publisher server said: $line"; exit 1; }
mv "$build" "$build.away"

versions_answer() {
  [ "$("$prefix/bin/qlsdownloader" --version)" = "qlsdownloader $version" ] &&
    [ "$("$prefix/bin/qlsdownloader-cli" --version)" = "qlsdownloader-cli $version" ]
}

no_build_path_in_runpaths() {
  local file
  for file in "$prefix"/bin/* "$prefix"/lib/*/qlsdownloader/* "$prefix"/lib/qlsdownloader/*; do
    [ -e "$file" ] || continue
    if readelf -d "$file" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
      echo "  $file looks for libraries in the build folder"
      return 1
    fi
  done
}

# The installed CLI downloads the package into `folder` on its own C: drive;
# the variables given before it set the run's environment.
run_installed_cli() {
  local drive=$1 folder=$2
  shift 2
  env MESHDROP_DRIVE_C="$drive" MESHDROP_REGISTRY="$drive.reg" MESHDROP_RUNTIME_DIR="$drive.run" "$@" \
    "$prefix/bin/qlsdownloader-cli" --quiet --consent --folder "$folder" \
    --url "http://127.0.0.1:$port/download/tharnel/qlsdownload/filelist.txt"
}

package_arrived() {
  local file
  for file in "$root"/download/tharnel/qlsdownload/package/*; do
    cmp "$file" "$1/$(basename "$file")" || return 1
  done
}

cli_downloads_the_package() {
  # No update server: the library falls back to the direct path.
  run_installed_cli "$work/drive_direct" "$work/download" \
    MESHDROP_UPDATE_LIST_URL=http://127.0.0.1:1/orvane/qlsdownload/update/v3_32/qlsdownload_updater.xml ||
    return 1
  package_arrived "$work/download"
}

cli_downloads_through_the_engine() {
  local drive=$work/drive_engine log
  run_installed_cli "$drive" "$work/download_engine" \
    MESHDROP_UPDATE_LIST_URL="http://127.0.0.1:$port/orvane/qlsdownload/update/v3_32/qlsdownload_updater.xml" \
    MESHDROP_ENGINE_PORT="$(free_port)" MESHDROP_ENGINE_IDLE_EXIT=1 || return 1
  package_arrived "$work/download_engine" || return 1
  engine_program=$(realpath "$(find "$drive" -name QLSDownloadV32.exe -path '*Roaming*' | head -1)" 2>/dev/null)
  [ -n "$engine_program" ] || { echo "  no engine was installed"; return 1; }
  log=$(find "$drive" -name service.log | head -1)
  if ! grep -q "Patch Success" "$log" || grep -q "CPlatFormDownloader Begin" "$log"; then
    echo "  the job did not go through the engine:"
    cat "$log"
    return 1
  fi
  grep -q " accepted: 3 files" "$(dirname "$engine_program")/QLSDownloadV32.log"
}

check "installed programs answer --version $version" versions_answer
check "installed programs find their libraries in the prefix" no_build_path_in_runpaths
check "installed qlsdownloader-cli downloads a package byte-exact" cli_downloads_the_package
check "installed qlsdownloader-cli installs the engine and downloads through it" cli_downloads_through_the_engine
mv "$build.away" "$build"
kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
server_pid=

check "desktop entry passes desktop-file-validate" \
  desktop-file-validate "$prefix/share/applications/qlsdownloader.desktop"
# Width and height from a PNG's header.
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216 + $2*65536 + $3*256 + $4 "x" $5*16777216 + $6*65536 + $7*256 + $8 }'
}
icons_installed() {
  local size
  for size in 16 24 32 48 64 128 256; do
    [ "$(png_size "$prefix/share/icons/hicolor/${size}x${size}/apps/qlsdownloader.png")" = "${size}x${size}" ] ||
      return 1
  done
}
check "icons at the usual sizes" icons_installed

# ---- Software centres and the shell ------------------------------------------
check "AppStream metainfo passes appstreamcli validate" \
  appstreamcli validate --no-net "$prefix/share/metainfo/example.orvane.qlsdownloader.metainfo.xml"
# bash-completion loads the file by the program's name; it offers the options
# the installed program's --help lists.
completion_completes() {
  local file=$prefix/share/bash-completion/completions/qlsdownloader-cli
  [ -f "$file" ] || return 1
  local offered
  offered=$(PATH="$prefix/bin:$PATH" bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" &&
    COMP_WORDS=(qlsdownloader-cli --lim) COMP_CWORD=1 COMP_LINE="qlsdownloader-cli --lim" COMP_POINT=23 &&
    _qlsdownloader_cli qlsdownloader-cli --lim qlsdownloader-cli && echo "${COMPREPLY[*]}"' _ "$file")
  [ "$offered" = "--limit-rate" ] || {
    echo "  completing --lim offered: $offered"
    return 1
  }
}
check "bash completion installed and completes the options" completion_completes

# ---- The Debian package -----------------------------------------------------
(cd "$build" && cpack -G DEB >"$work/cpack.log") || {
  cat "$work/cpack.log"
  exit 1
}
deb=$(ls "$build"/qlsdownloader_"$version"_*.deb)
echo "package: $deb"
dependencies_computed() {
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "  Depends: $depends"
  [[ $depends == *libqt6widgets6* && $depends == *libssl3* && $depends == *libc6* ]]
}
check "dependencies computed from the shared libraries" dependencies_computed
check "lintian finds no error" lintian --fail-on error --tag-display-limit 0 "$deb"
package_lists_metainfo_and_completion() {
  local files
  files=$(dpkg-deb -c "$deb")
  grep -q ' ./usr/share/metainfo/example.orvane.qlsdownloader.metainfo.xml$' <<<"$files" &&
    grep -q ' ./usr/share/bash-completion/completions/qlsdownloader-cli$' <<<"$files"
}
check "the package holds the metainfo and the completion" package_lists_metainfo_and_completion

installs_with_apt() {
  apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || {
    cat "$work/apt.log"
    return 1
  }
  local ok=0
  [ "$(/usr/bin/qlsdownloader --version)" = "qlsdownloader $version" ] &&
    [ "$(/usr/bin/qlsdownloader-cli --version)" = "qlsdownloader-cli $version" ] &&
    [ -f /usr/share/applications/qlsdownloader.desktop ] || ok=1
  apt-get purge -y -qq qlsdownloader >>"$work/apt.log" 2>&1 || ok=1
  return $ok
}
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W qlsdownloader >/dev/null 2>&1; then
  check "apt installs the package, its programs run, and it purges" installs_with_apt
else
  echo "skipped: apt install (needs root and no qlsdownloader installed already)"
fi

echo "check-package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
