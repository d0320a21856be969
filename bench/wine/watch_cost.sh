#!/usr/bin/env bash
# What the control costs under Wine against a bare DirectSound loop that drains the same ring
# on the same schedule, for one build (win32 or win64):
#   bench/wine/watch_cost.sh win64 [SECONDS [ROUNDS ["bare watch control control-hidden"]]]
# (defaults: 60 s, 5 rounds, all four). The programs run interleaved, round after round, so that a
# change of the machine's load falls on all of them alike. A run's CPU is taken over its steady
# recording (from the line the program prints as it starts recording to the one it prints as it
# stops, so that neither Wine's start nor the host's is counted): its process's, per thread (the
# scheduler's own count in /proc, the user-interface thread apart, the test host's box watchdog left
# out), plus the prefix's wine server's (which `wine` itself does not count), per second. The
# watchdog looks for a box once a second, not ten times: each look is a request the server would
# otherwise charge to the control. Each round's runs are divided by that round's bare loop, and the
# median and the spread (lowest and highest) of those ratios are printed, with the control's
# per-stage timings (the tick path's counters, WENDRIX_PROFILE) and the 99th percentile of its time
# per tick on the host's user-interface thread. The host runs with --quiet: its level handlers do
# nothing, so that what is measured is the control. Starts PulseAudio with the test tone, an Xvfb
# and the prefix's server, and stops them again. With WENDRIX_BENCH_STRACE=1 each program's system
# calls in its steady window are counted too (strace -c, in the results folder; that run's CPU
# figures are then strace's, not the program's). Run it with the machine otherwise idle; with the
# defaults it takes about 22 minutes per build.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
cd "$WENDRIX_ROOT"
build=build/${1:?usage: watch_cost.sh win32|win64 [SECONDS [ROUNDS [PROGRAMS]]]}
seconds=${2:-60}
rounds=${3:-5}
programs=${4:-bare watch control control-hidden}
results="$build/bench-cost"
rm -rf "$results" && mkdir -p "$results"
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

# CPU time in nanoseconds, as the scheduler counts it (exact, where /proc's stat gives clock
# ticks of 10 ms).
ticks() { awk '{ print $1 }' "/proc/$1/schedstat" 2>/dev/null; }
# The newest process named $1 that runs in this tree's prefix (other trees' tests may run
# programs of the same name, and servers of their own).
ours() {
  local pid
  for pid in $(pgrep -u "$(id -u)" "$@" | sort -rn); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
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

# CPU time of every thread of process $1: "tid name nanoseconds" lines.
threads() {
  local t
  for t in /proc/"$1"/task/*; do
    echo "$(awk '{ print $1, $2 }' "$t/stat" 2>/dev/null) $(awk '{ print $1 }' "$t/schedstat" 2>/dev/null)"
  done
}

# measure NAME EXE-NAME START END COMMAND...: runs COMMAND and, from the moment its log shows
# START to the moment it shows END (the steady recording, without the program's start and
# end), the CPU of the process named EXE-NAME, of each of its threads and of the wine server.
# Prints one line and appends "NAME ROUND CPU-PER-SECOND UI-CPU-PER-SECOND" to $results/cpu.
measure() {
  local name=$1 exe=$2 start=$3 end=$4 pid="" log phase=0 now t0 t1 s0 s1 server tracer=""
  shift 4
  log="$results/$name-$round.log"
  "$@" >"$log" 2>&1 &
  local runner=$!
  while kill -0 "$runner" 2>/dev/null; do
    [[ -z $pid ]] && pid=$(ours -x "${exe:0:15}")
    if [[ -n $pid ]]; then
      now=$(date +%s.%N)
      server=$(server_ticks)
      if ((phase == 0)) && grep -q "$start" "$log"; then
        phase=1 t0=$now s0=$server
        threads "$pid" >"$results/$name-$round.threads0"
        if [[ -n ${WENDRIX_BENCH_STRACE:-} ]]; then
          strace -f -c -q -o "$results/$name-$round.strace" -p "$pid" &
          tracer=$!
        fi
      elif ((phase == 1)) && ! grep -q "$end" "$log"; then
        # The last sample before the end is the window's end: one taken while the program was
        # already ending (its threads going) is not kept, so the end is looked for once more.
        threads "$pid" >"$results/$name-$round.threads"
        if ! grep -q "$end" "$log"; then
          t1=$now s1=$server
          mv "$results/$name-$round.threads" "$results/$name-$round.threads1"
        fi
      elif ((phase == 1)); then
        phase=2
        [[ -n $tracer ]] && kill -INT "$tracer" && wait "$tracer"
      fi
    fi
    sleep 0.2
  done
  wait "$runner"
  if [[ -z ${t1:-} ]]; then
    echo "$name round $round: no steady window seen (log: $log)"
    return
  fi
  python3 - "$name" "$round" "$pid" "$t0" "$t1" "$s0" "$s1" 1000000000 "$results" \
    "$(tr -d '\r' <"$log" | grep -E 'cpu|recorded_seconds|^events' | tr '\n' ' ')" <<'PY'
import sys
name, rnd, pid, t0, t1, s0, s1, hz, results, note = sys.argv[1:]
wall, hz = float(t1) - float(t0), float(hz)
def load(path):
    return {f[0]: (f[1], int(f[2])) for f in (l.split() for l in open(path)) if len(f) == 3}
a = load("%s/%s-%s.threads0" % (results, name, rnd))
b = load("%s/%s-%s.threads1" % (results, name, rnd))
per = sorted(((b[t][1] - a.get(t, (0, 0))[1]) / hz, t, b[t][0]) for t in b)
# The test host's box watchdog (a thread that looks for message boxes to close) is no part of
# the control, nor of any form that shows the control: it is left out and shown apart.
host_only = sum(c for c, _, n in per if n == "(wendrix_box_wat)")
per = [p for p in per if p[2] != "(wendrix_box_wat)"]
process = sum(c for c, _, _ in per)
ui = sum(c for c, t, _ in per if t == pid)
server = (int(s1) - int(s0)) / hz
busy = ", ".join("%s%s %.3f" % (n, " (UI)" if t == pid else "", c) for c, t, n in reversed(per) if c > 0)
print("%-15s round %s: %5.1f s: process %5.3f s CPU (%s), wine server %5.3f s; %.3f%% of a CPU; "
      "the host's box watchdog %.3f s (left out); %s"
      % (name, rnd, wall, process, busy or "-", server, 100 * (process + server) / wall, host_only,
         note))
with open(results + "/cpu", "a") as out:
    out.write("%s %s %.6f %.6f\n" % (name, rnd, (process + server) / wall, ui / wall))
PY
}

host() {
  WENDRIX_PROFILE="Z:${WENDRIX_ROOT//\//\\}\\${results//\//\\}\\$name-$round.profile" \
    scripts/wine-run "$build/wendrix-host.exe" --ocx "Z:${WENDRIX_ROOT//\//\\}\\$build\\Wendrix.ocx" \
    --record "Z:\\tmp\\watch-cost.wav" --seconds "$seconds" --close-message-boxes --box-check-ms 1000 \
    --quiet "$@"
}
for ((round = 1; round <= rounds; ++round)); do
  for what in $programs; do
    name=$what
    case $what in
      bare) measure bare dsound-loop.exe '^started' '^stopping' scripts/wine-run "$build/bench/wine/dsound-loop.exe" \
        --seconds "$seconds" ;;
      watch) measure watch dsound-loop.exe '^started' '^stopping' scripts/wine-run "$build/bench/wine/dsound-loop.exe" \
        --watch --seconds "$seconds" ;;
      # The whole control, with its meter, and with the meter hidden (then it drains every half
      # ring, as the bare loop does).
      control) measure control wendrix-host.exe '^recording ' '^levels ' host ;;
      control-hidden) measure control-hidden wendrix-host.exe '^recording ' '^levels ' host \
        --hide-meter ;;
    esac
  done
done
rm -f /tmp/watch-cost.wav

# Each round's runs against that round's bare loop: median and spread over the rounds.
python3 - "$results" "$seconds" <<'PY'
import glob, os, statistics, sys
results, seconds = sys.argv[1], float(sys.argv[2])
runs = {}
for line in open(os.path.join(results, "cpu")):
    name, rnd, total, ui = line.split()
    runs.setdefault(name, {})[int(rnd)] = (float(total), float(ui))
def spread(values, unit=""):
    return "median %6.3f%s (low %6.3f, high %6.3f, n=%d)" % (
        statistics.median(values), unit, min(values), max(values), len(values))
print("\nCPU of the process and the wine server per second of steady recording (%), and against"
      " the same round's bare loop:")
for name, by_round in runs.items():
    line = "%-15s %s" % (name, spread([100 * t for t, _ in by_round.values()], "%"))
    if name != "bare" and "bare" in runs:
        ratios = [t / runs["bare"][r][0] for r, (t, _) in by_round.items() if r in runs["bare"]]
        if ratios:
            line += "   x bare: " + spread(ratios)
    print(line)
for name in ("control", "control-hidden"):
    tables = sorted(glob.glob(os.path.join(results, name + "-[0-9]*.profile")))
    if not tables or name not in runs:
        continue
    stages = {}
    for path in tables:
        for row in open(path):
            f = row.split()
            if len(f) == 6 and f[0] != "stage":
                stages.setdefault(f[0], []).append(f)
    cpu = statistics.median(t for t, _ in runs[name].values())
    ui = statistics.median(u for _, u in runs[name].values())
    print("\n%s: the tick path's stages, medians over %d runs: wall time on the UI thread (a stage"
          " holds those indented under it; waits count), and per second of recording against"
          " the UI thread's CPU (%.2f ms/s) and the process's and server's (%.2f ms/s)"
          % (name, len(tables), 1000 * ui, 1000 * cpu))
    print("%-16s %8s %10s %10s %8s" % ("stage", "count", "median_us", "p99_us", "ms/s"))
    indent = {"drain": 1, "watch_take": 2, "block": 2, "file_write": 2, "header": 1,
              "meter_measure": 1, "meter_paint": 1, "meter_events": 1, "face_notice": 1}
    for stage, rows in stages.items():
        med = lambda i: statistics.median(float(r[i]) for r in rows)
        print("%-16s %8.0f %10.1f %10.1f %8.3f" % ("  " * indent.get(stage, 0) + stage, med(1),
                                                 med(2), med(3), med(5) / seconds))
    ticks = stages.get("tick")
    if ticks:
        p99 = [float(r[3]) for r in ticks]
        print("UI-thread time per tick, p99: median of the runs %.1f us, worst run %.1f us"
              " (target < 500)" % (statistics.median(p99), max(p99)))
PY
