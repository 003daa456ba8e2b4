#!/usr/bin/env bash
# Daemon benchmark: latency from an append to a Claude Code session log to the upload
# reaching the local service, and the daemon's idle CPU and memory over a minute with
# about 1,000 log files under watch.   bench/daemon_bench.sh [BUILD_DIR] [IDLE_SECONDS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
idle=${2:-60}
work=$(mktemp -d)
server_pid= daemon_pid=
trap 'kill $server_pid $daemon_pid 2>/dev/null || true; [ -n "${QUORRAL_BENCH_VERBOSE:-}" ] && cat "$work/daemon.log" >&2; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
port=$((20000 + RANDOM % 20000))
export QUORRAL_API_URL=http://127.0.0.1:$port/api

# ~1,000 session logs in 100 project folders.
mkdir -p "$HOME"
"$build/tools/loggen/quorral-loggen" --home "$HOME" --megabytes 200 --projects 100 --seed 3 >/dev/null
mapfile -t projects < <(ls -d "$HOME"/.claude/projects/*/)
extra=0
while [ "$(find "$HOME/.claude/projects" -name '*.jsonl' | wc -l)" -lt 1000 ]; do
  dir=${projects[$((extra % ${#projects[@]}))]}
  printf '%0300d\n{"type":"user","message":{"content":"small session number %d"}}\n' 0 "$extra" >"$dir/extra-$extra.jsonl"
  extra=$((extra + 1))
done
logs=$(find "$HOME/.claude/projects" -name '*.jsonl' | wc -l)

"$build/server/quorral-server" --port "$port" --db "$work/server.db" >/dev/null &
server_pid=$!
sleep 0.3
"$build/src/cli/quorral" login >"$work/login" 2>&1 &
login_pid=$!
until grep -q user_code= "$work/login"; do sleep 0.05; done
code=$(grep -o 'user_code=[A-Z-]*' "$work/login" | cut -d= -f2)
# The page first, for its form token and cookie, as a browser would load it.
token=$(curl -s -c "$work/jar" "http://127.0.0.1:$port/device?user_code=$code" | grep -o 'name="csrf_token" value="[0-9a-f]*"' | cut -d'"' -f4)
curl -s -o /dev/null -b "$work/jar" -H "Origin: http://127.0.0.1:$port" -X POST --data "user_code=$code&csrf_token=$token" "http://127.0.0.1:$port/device/approve"
wait $login_pid
"$build/src/cli/quorral" sync >/dev/null   # everything already there is uploaded first

"$build/src/cli/quorral" daemon >"$work/daemon.log" 2>&1 &
daemon_pid=$!
sleep 2
echo "$(head -1 "$work/daemon.log")   [$logs session logs]"

key=$(cat "$HOME/.quorral/credentials")
memories() { curl -s -H "X-Quorral-Key: $key" "http://127.0.0.1:$port/api/v1/stats" | grep -o '"ingest_calls":[0-9]*' | cut -d: -f2; }
for round in 1 2 3 4 5; do
  before=$(memories)
  target=$(find "$HOME/.claude/projects" -name '*.jsonl' | sed -n "$((round * 37))p")
  start=$(date +%s.%N)
  # One exchange, as a tool appends it (the extractor ignores windows of 200 bytes or less).
  printf '{"type":"user","message":{"content":"appended question %d: how do I keep the build under a minute?"}}\n{"type":"assistant","message":{"content":[{"type":"text","text":"Use ccache and Ninja, keep the tests in a few executables, and build only what changed; round %d."}]}}\n' "$round" "$round" >>"$target"
  until [ "$(memories)" != "$before" ]; do sleep 0.01; done
  end=$(date +%s.%N)
  echo "append -> upload stored: $(echo "$end - $start" | bc) s (2 s of it is the debounce)"
  sleep 1
done

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$daemon_pid/stat"; }
c0=$(cpu)
sleep "$idle"
c1=$(cpu)
rss=$(awk '/VmRSS/ {print $2}' "/proc/$daemon_pid/status")
echo "idle for ${idle} s: CPU $(echo "scale=3; ($c1 - $c0) / $ticks" | bc) s ($(echo "scale=3; 100 * ($c1 - $c0) / $ticks / $idle" | bc) %), RSS $((rss / 1024)) MiB, $(grep -c . "$work/daemon.log") log lines"
