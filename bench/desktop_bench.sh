#!/usr/bin/env bash
# Desktop application benchmark, under Xvfb with openbox and trayer: time from starting
# `quorral` to its tray icon on screen, from a click on the icon to the panel on screen,
# and the idle application's CPU and memory over a minute with its watcher running over
# about 1,000 Claude Code logs.   bench/desktop_bench.sh [BUILD_DIR] [IDLE_SECONDS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
idle=${2:-60}
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Quorral" && chmod 700 "$XDG_RUNTIME_DIR"
port=$((20000 + RANDOM % 20000))
export QUORRAL_API_URL=http://127.0.0.1:$port/api
now() { date +%s.%N; }

"$build/tools/loggen/quorral-loggen" --home "$HOME" --megabytes 200 --projects 100 --seed 3 >/dev/null
mapfile -t projects < <(ls -d "$HOME"/.claude/projects/*/)
for extra in $(seq 0 799); do
  printf '%0300d\n{"type":"user","message":{"content":"small session number %d"}}\n' 0 "$extra" \
    >"${projects[$((extra % ${#projects[@]}))]}/extra-$extra.jsonl"
done
"$build/server/quorral-server" --port "$port" --db "$work/server.db" >/dev/null &
pids+=($!)
sleep 0.3
"$build/src/cli/quorral" login >"$work/login" 2>&1 &
login_pid=$!
until grep -q user_code= "$work/login"; do sleep 0.05; done
code=$(grep -o 'user_code=[A-Z-]*' "$work/login" | cut -d= -f2)
token=$(curl -s -c "$work/jar" "http://127.0.0.1:$port/device?user_code=$code" | grep -o 'name="csrf_token" value="[0-9a-f]*"' | cut -d'"' -f4)
curl -s -o /dev/null -b "$work/jar" -H "Origin: http://127.0.0.1:$port" -X POST --data "user_code=$code&csrf_token=$token" "http://127.0.0.1:$port/device/approve"
wait $login_pid
"$build/src/cli/quorral" sync >/dev/null 2>&1
printf '[General]\nonboardingCompleted=true\n' >"$XDG_CONFIG_HOME/Quorral/Quorral.conf"
logs=$(find "$HOME/.claude/projects" -name '*.jsonl' | wc -l)

exec 3< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null)
read -r display <&3
export DISPLAY=:$display WAYLAND_DISPLAY= QT_QPA_PLATFORM=xcb
pids+=($(pgrep -n Xvfb))
export DBUS_SESSION_BUS_ADDRESS=$(dbus-daemon --session --fork --print-address=1 --print-pid=2 2>"$work/bus.pid")
pids+=($(cat "$work/bus.pid"))
openbox >/dev/null 2>&1 &
pids+=($!)
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do sleep 0.05; done
trayer --edge top --align right --widthtype request --height 24 --SetDockType true >/dev/null 2>&1 &
pids+=($!)
until xdotool search --onlyvisible --class trayer >/dev/null 2>&1; do sleep 0.05; done

# The application's viewable windows as "WIDTHxHEIGHT+X+Y", one per line.
windows() {
  for id in $(xdotool search --onlyvisible --classname quorral 2>/dev/null); do
    xwininfo -id "$id" 2>/dev/null | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
      /Width:/ {w=$2} /Height:/ {h=$2} /Map State: IsViewable/ {v=1} END {if (v) print w "x" h "+" x "+" y}'
  done
}
wait_for() { until windows | grep -q "$1"; do sleep 0.005; done; }
wait_gone() { while windows | grep -q "$1"; do sleep 0.005; done; }

start=$(now)
"$build/src/cli/quorral" >"$work/app.log" 2>&1 &
app=$!
pids+=($app)
wait_for '^2[0-9]x2[0-9]+'
echo "start -> tray icon on screen: $(echo "$(now) - $start" | bc) s"
icon=$(windows | grep '^2[0-9]x2[0-9]+' | head -1)
size=${icon%%+*} pos=${icon#*+}
ix=$(( ${pos%%+*} + ${size%%x*} / 2 )) iy=$(( ${pos#*+} + ${size#*x} / 2 ))

for round in 1 2 3 4 5; do
  start=$(now)
  xdotool mousemove "$ix" "$iy" click 1
  wait_for '^320x400+'
  echo "click -> panel on screen: $(echo "$(now) - $start" | bc) s"
  sleep 0.5
  xdotool key Escape mousemove "$ix" "$iy" click 1
  wait_gone '^320x400+'
  sleep 0.3
done

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$app/stat"; }
c0=$(cpu)
sleep "$idle"
c1=$(cpu)
rss=$(awk '/VmRSS/ {print $2}' "/proc/$app/status")
echo "idle for ${idle} s watching $logs logs: CPU $(echo "scale=3; ($c1 - $c0) / $ticks" | bc) s ($(echo "scale=3; 100 * ($c1 - $c0) / $ticks / $idle" | bc) %), RSS $((rss / 1024)) MiB"
grep -q "watching the AI tools' logs" "$work/app.log" || { echo "the watcher did not start:" >&2; cat "$work/app.log" >&2; exit 1; }
