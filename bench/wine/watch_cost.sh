#!/usr/bin/env bash
# The position watch's cost under Wine: CPU over SECONDS (default 60) of the bare DirectSound
# loop, of the same loop with the watch's thread, and of wendrix-host recording with the whole
# control, for one build (win32 or win64):
#   bench/wine/watch_cost.sh win64 [SECONDS ["bare watch control control-hidden"]]
# CPU is read from /proc for the program's own process and for the wine server (time `wine`
# itself does not see it); the loop also prints what GetProcessTimes says and the watch's
# wakeups per second. Starts PulseAudio with the test tone, an Xvfb and the prefix's server, and
# stops them again.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
cd "$WENDRIX_ROOT"
build=build/${1:?usage: watch_cost.sh win32|win64 [SECONDS]}
seconds=${2:-60}
audio_dir="$WENDRIX_ROOT/build/audio-bench"
xvfb=""

cleanup() {
  wendrix_wine_stop
  scripts/audio-env stop "$audio_dir"
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT
eval "$(scripts/audio-env start "$audio_dir")"
fdfile="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fdfile" >/dev/null 2>&1 &
xvfb=$!
for ((i = 0; i < 100; i++)); do [[ -s $fdfile ]] && break; sleep 0.1; done
export DISPLAY=":$(tr -dc 0-9 <"$fdfile")"
rm -f "$fdfile"
wendrix_wine_keep
wendrix_wine_prefix  # exports WINEPREFIX

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null; }
# The newest process named $1 that runs in this tree's prefix (other trees' tests may run
# programs of the same name, and servers of their own).
ours() {
  local pid
  for pid in $(pgrep -u "$(id -u)" "$@" | sort -rn); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return
    fi
  done
}
server_ticks() {
  local pid
  pid=$(ours '^wineserver')
  [[ -n $pid ]] && ticks "$pid" || echo 0
}

# measure NAME EXE-NAME COMMAND...: the CPU seconds of the process named EXE-NAME and of the
# wine server while COMMAND runs.
measure() {
  local name=$1 exe=$2 pid="" last=0 server_before server_after
  shift 2
  server_before=$(server_ticks)
  "$@" >"$build/bench-$name.log" 2>&1 &
  local runner=$!
  while kill -0 "$runner" 2>/dev/null; do
    [[ -z $pid ]] && pid=$(ours -x "${exe:0:15}")
    if [[ -n $pid ]]; then
      local t
      t=$(ticks "$pid")
      [[ -n $t ]] && last=$t
    fi
    sleep 0.2
  done
  wait "$runner"
  server_after=$(server_ticks)
  local hz
  hz=$(getconf CLK_TCK)
  printf '%-12s process %6.2f s CPU, wine server %6.2f s CPU over %s s; %s\n' "$name" \
    "$(echo "$last / $hz" | bc -l)" "$(echo "($server_after - $server_before) / $hz" | bc -l)" \
    "$seconds" "$(tr -d '\r' <"$build/bench-$name.log" | grep -E 'cpu|recorded_seconds' | tr '\n' ' ')"
}

host() {
  scripts/wine-run "$build/wendrix-host.exe" --ocx "Z:${WENDRIX_ROOT//\//\\}\\$build\\Wendrix.ocx" \
    --record "Z:\\tmp\\watch-cost.wav" --seconds "$seconds" --close-message-boxes "$@"
}
for what in ${3:-bare watch control control-hidden}; do
  case $what in
    bare) measure bare dsound-loop.exe scripts/wine-run "$build/bench/wine/dsound-loop.exe" \
      --seconds "$seconds" ;;
    watch) measure watch dsound-loop.exe scripts/wine-run "$build/bench/wine/dsound-loop.exe" \
      --watch --seconds "$seconds" ;;
    # The whole control, with its meter, and with the meter hidden (then it drains every half
    # ring, as the bare loop does).
    control) measure control wendrix-host.exe host ;;
    control-hidden) measure control-hidden wendrix-host.exe host --hide-meter ;;
  esac
done
rm -f /tmp/watch-cost.wav
