#!/usr/bin/env bash
# Installs the Debian packages Quorral builds and tests with. Quick and silent
# when everything is already there; needs root (or sudo) only when it installs.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git
  qt6-base-dev qcoro-qt6-dev libxcb1-dev
  libsimdjson-dev nlohmann-json3-dev libutf8proc-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcpp-httplib-dev libsqlite3-dev curl
  chromium chromium-driver clang libclang-rt-14-dev
  fonts-noto-cjk fonts-noto-color-emoji
  xvfb openbox trayer xdotool x11-utils dbus-daemon
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
