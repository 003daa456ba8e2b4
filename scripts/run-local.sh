#!/usr/bin/env bash
# The main job: build, make sure the local memory service runs, sign in once, and sync
# what is new in your AI tools to it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh

port=8787
origin="http://127.0.0.1:$port"
quorral=./build/src/cli/quorral
state_dir="${XDG_STATE_HOME:-$HOME/.local/state}/quorral"

if ! curl -s -o /dev/null "$origin/"; then
  mkdir -p "$state_dir"
  echo "Starting the local memory service on $origin (log: $state_dir/server.log)"
  nohup ./build/server/quorral-server --port "$port" >"$state_dir/server.log" 2>&1 &
  for _ in $(seq 50); do curl -s -o /dev/null "$origin/" && break; sleep 0.1; done
fi

export QUORRAL_API_URL="$origin/api"
if ! "$quorral" status >/dev/null 2>&1; then
  login_log=$(mktemp)
  "$quorral" login >"$login_log" 2>&1 &
  login_pid=$!
  until grep -q "user_code=" "$login_log"; do
    kill -0 "$login_pid" 2>/dev/null || { cat "$login_log"; exit 1; }
    sleep 0.1
  done
  cat "$login_log"
  if [ ! -t 0 ]; then
    # Nobody at a terminal to press the button: approve the local service's page ourselves.
    code=$(grep -o 'user_code=[A-Z-]*' "$login_log" | head -1 | cut -d= -f2)
    echo "No terminal attached: approving the sign-in on the local service for you."
    # The page first, for its form token and cookie, as a browser would load it.
    jar=$(mktemp)
    token=$(curl -s -c "$jar" "$origin/device?user_code=$code" | grep -o 'name="csrf_token" value="[0-9a-f]*"' | cut -d'"' -f4)
    curl -s -o /dev/null -b "$jar" -H "Origin: $origin" -X POST --data "user_code=$code&csrf_token=$token" "$origin/device/approve"
    rm -f "$jar"
  fi
  wait "$login_pid"
  tail -n 1 "$login_log"
  rm -f "$login_log"
fi

"$quorral" sync
