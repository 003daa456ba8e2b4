#!/bin/sh
# Installs what is missing, then configures and builds everything into ./build.
# QUORRAL_WERROR=ON in the environment turns warnings in our code into errors (CI does).
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORRAL_WERROR="${QUORRAL_WERROR:-OFF}" >/dev/null
cmake --build build
