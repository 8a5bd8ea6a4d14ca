#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the benchmarks and the
# demo need. Quick and silent when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev clang-format clang-tidy
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-qpa-plugins libgl-dev
  fonts-wqy-microhei locales-all
  libssl-dev openssl
  libsqlite3-dev sqlite3
  postgresql libpq-dev
  nginx-light curl aria2 libcurl4-openssl-dev tinyproxy util-linux
  apache2-bin lighttpd python3
  xvfb xauth
  iproute2 procps valgrind
  dpkg-dev file lintian desktop-file-utils appstream bash-completion dbus-daemon
  libminizip-dev zlib1g-dev libarchive-dev
  zip unzip 7zip libarchive-tools binutils-mingw-w64-x86-64 cpp
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
