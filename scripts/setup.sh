#!/usr/bin/env bash
# Installs every Debian package Velvanet needs to build, run and test.
# Idempotent and non-interactive: packages already present are left alone.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git python3 clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libavdevice-dev libavfilter-dev ffmpeg
  librtmp-dev libssl-dev libjsoncpp-dev uuid-dev
  libsqlite3-dev sqlite3 libasound2-dev
  libmariadb-dev mariadb-server mariadb-client
  nginx libnginx-mod-rtmp
  procps iproute2 linux-perf
  qt6-base-dev libqt6svg6 libgl-dev fonts-wqy-microhei xvfb xauth x11vnc xdg-utils ccache
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  # Service start-up is not wanted on a build machine: the tests start their
  # own private servers.
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
echo "setup: all packages present"
