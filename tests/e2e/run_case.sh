#!/usr/bin/env bash
# One end-to-end case: wendrix-host records from the default device under Wine, and what it
# leaves is checked on the Linux side (check_take.py):
#   tests/e2e/run_case.sh CASE wendrix-host.exe Wendrix.ocx OUTDIR
# Cases: 44100_2_16, 22050_1_16, 11025_2_8 (a format each: rate_channels_bits), hidden_meter,
# atl (Wine's own ATL container hosts the control), error_box (an unwritable path: the box is
# found by its caption, read and closed; the start fails), form (the form file keeps the
# settings from one run to the next), pumping_host (every level-event handler pumps messages
# for 150 ms, so ticks come inside ticks), stalled_host (the message loop stops for 5 s with a
# one-second ring: no report, no silence, a phase-continuous take as long as the recording),
# two_ring_stall (the same for exactly two rings, which leave the ring of a steady tone looking
# unchanged), blocked_start (the message loop stops for 5 s right after Wendrix_Start, before
# the device delivered: the same), device_removed (the case's own sound server goes away 3 s
# into the take: one report that names the device, the plain-words error at Wendrix_Stop, a
# finished file of what came before and no invented time), released_recording (the form lets
# the recording control go without stopping it), silent_source (the case's own sound server
# with its source muted: one report of a silent start, and the take goes on), no_audio (the case's
# own sound server with the tone's sink suspended, so that the device delivers nothing at all: the
# stop says so, and the file is a valid take of no audio), exited_host (the
# program ends in the middle of the take without stopping or releasing the control: the module
# writes the true sizes as the process ends), killed_host (the host's process is ended hard 3 s
# into the take: no stop, no release, no code of the module runs; the sizes kept current while
# recording make the file playable).
# Needs the test tone (scripts/audio-env) and a display; skipped (77) without them.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../../scripts/common.sh"

(($# == 4)) || wendrix_die "usage: run_case.sh CASE wendrix-host.exe Wendrix.ocx OUTDIR"
case_name=$1 host=$2 ocx=$3 out=$4
if [[ -z ${WENDRIX_TONE_LEFT:-} || -z ${DISPLAY:-} ]]; then
  echo "skipped: needs the test tone (scripts/audio-env) and a display"
  exit 77
fi
rm -rf "$out"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
windows_path() { echo "Z:${1//\//\\}"; }
seconds=3
check_options=()  # more options for check_take.py

# Runs the host, keeps what it printed in $out/host.log (and shows it), returns its status.
run_host() {
  local status=0
  "$WENDRIX_ROOT/scripts/wine-run" "$host" --ocx "$(windows_path "$ocx")" "$@" \
    >"$out/host.log" 2>"$out/host.err" || status=$?
  tr -d '\r' <"$out/host.log" >"$out/host.txt"
  grep -v '^event dBOnChange' "$out/host.txt"
  echo "($(grep -c '^event dBOnChange' "$out/host.txt") level events; exit status $status)"
  return "$status"
}

# No message box at all.
no_box() {
  ! grep -q '^message box:' "$out/host.txt" || { echo "FAIL  a message box was shown"; exit 1; }
}

record_and_check() {
  local rate=$1 channels=$2 bits=$3
  shift 3
  run_host --record "$(windows_path "$out/take.wav")" --seconds "$seconds" \
    --rate "$rate" --channels "$channels" --bits "$bits" \
    --screenshot "$(windows_path "$out/shot.bmp")" "$@" || return 1
  local -a extra=("${check_options[@]}")
  [[ " $* " == *" --hide-meter "* ]] && extra+=(--meter-hidden)
  grep -q '^event OnStart$' "$out/host.txt" && grep -q '^event OnStop$' "$out/host.txt" ||
    { echo "FAIL  OnStart and OnStop were not both heard"; return 1; }
  python3 "$here/check_take.py" --log "$out/host.txt" --wav "$out/take.wav" --rate "$rate" \
    --channels "$channels" --bits "$bits" --bmp "$out/shot.bmp" "${extra[@]}"
}

case "$case_name" in
  [0-9]*_[12]_*)
    IFS=_ read -r rate channels bits <<<"$case_name"
    record_and_check "$rate" "$channels" "$bits"
    ;;
  hidden_meter)
    record_and_check 44100 2 16 --hide-meter
    ;;
  atl)
    record_and_check 22050 2 16 --atl &&
      grep -q '^ATL container: AtlAxWin' "$out/host.txt"
    ;;
  error_box)
    status=0
    run_host --record "$(windows_path "$out/no such folder/take.wav")" --seconds 1 \
      --close-message-boxes || status=$?
    path="$(windows_path "$out/no such folder/take.wav")"
    fails=0
    ((status == 4)) || { echo "FAIL  exit status $status, not 4 (Wendrix_Start returned False)"; fails=1; }
    grep -qxF "message box: Cannot create \"$path\": Path not found" "$out/host.txt" ||
      { echo "FAIL  no message box saying it cannot create the file"; fails=1; }
    grep -q '^error: Wendrix_Start(.*) returned False$' "$out/host.txt" ||
      { echo "FAIL  the start did not return False"; fails=1; }
    [[ ! -e "$out/no such folder" ]] || { echo "FAIL  the folder was created"; fails=1; }
    exit "$fails"
    ;;
  pumping_host)
    seconds=5
    record_and_check 44100 2 16 --pump-in-level-events 150 --close-message-boxes || exit 1
    ! grep -q '^message box:' "$out/host.txt" || { echo "FAIL  a message box was shown"; exit 1; }
    ;;
  stalled_host)
    # Unread for 5 s with a one-second ring: the watch saves what the ring would write over, so
    # no box, no silence, the tone whole and the take as long as the recording.
    seconds=8
    record_and_check 44100 2 16 --block-ms 5000 --block-at 1.5 --close-message-boxes || exit 1
    no_box
    ;;
  two_ring_stall)
    # Exactly two rings of a steady tone look like an unchanged ring: nothing is lost either.
    seconds=6
    record_and_check 44100 2 16 --block-ms 2000 --block-at 1.5 --close-message-boxes || exit 1
    no_box
    ;;
  blocked_start)
    # Blocked for 5 s right after the start: the same, but for the device's start delay
    # (0.2 to 0.9 s here), which the take does not hold.
    seconds=7
    check_options=(--length-slack 1.0)
    record_and_check 44100 2 16 --block-ms 5000 --block-at start --close-message-boxes || exit 1
    no_box
    ;;
  device_removed)
    audio="$out/audio"
    trap '"$WENDRIX_ROOT/scripts/audio-env" stop "$audio"' EXIT
    eval "$("$WENDRIX_ROOT/scripts/audio-env" start "$audio")"
    run_host --record "$(windows_path "$out/take.wav")" --seconds 8 --close-message-boxes &
    host_pid=$!
    for ((tries = 0; tries < 300; tries++)); do
      grep -q '^recording ' "$out/host.log" 2>/dev/null && break
      sleep 0.1
    done
    sleep 3
    # The server goes at once, with the tone still playing into it (as a device is unplugged);
    # the player follows at the end.
    server=$(awk '$1 == "pulseaudio" { print $2 }' "$audio/pids")
    [[ $server =~ ^[0-9]+$ ]] && kill -9 "$server"
    status=0
    wait "$host_pid" || status=$?
    fails=0
    ((status == 7)) || { echo "FAIL  exit status $status, not 7 (Wendrix_Stop raised)"; fails=1; }
    grep -q '^error: Wendrix_Stop: The recording device stopped or was removed (.*failed (0x88890004)$' \
      "$out/host.txt" || { echo "FAIL  Wendrix_Stop did not raise the device's error in plain words"; fails=1; }
    reports=$(grep -c '^message box: private update wendrix Error: the recording device ' "$out/host.txt")
    ((reports == 1)) || { echo "FAIL  $reports reports naming the device, not 1"; fails=1; }
    (($(grep -c '^message box:' "$out/host.txt") == 1)) || { echo "FAIL  other message boxes"; fails=1; }
    python3 "$here/check_take.py" --log "$out/host.txt" --wav "$out/take.wav" --rate 44100 \
      --channels 2 --bits 16 --ends-early-by 3 || fails=1
    exit "$fails"
    ;;
  silent_source)
    audio="$out/audio"
    trap '"$WENDRIX_ROOT/scripts/audio-env" stop "$audio"' EXIT
    eval "$("$WENDRIX_ROOT/scripts/audio-env" start "$audio")"
    pactl set-source-mute wendrix_tone.monitor 1 || exit 1
    run_host --record "$(windows_path "$out/take.wav")" --seconds 5 --close-message-boxes ||
      exit 1
    fails=0
    reports=$(grep -c '^message box: private update wendrix Error: the first 3 seconds .* are exact digital silence' \
      "$out/host.txt")
    ((reports == 1)) || { echo "FAIL  $reports reports of a silent start, not 1"; fails=1; }
    (($(grep -c '^message box:' "$out/host.txt") == 1)) || { echo "FAIL  other message boxes"; fails=1; }
    python3 - "$out/take.wav" <<'EOF' || fails=1
import sys, wave
with wave.open(sys.argv[1]) as w:
    frames = w.readframes(w.getnframes())
seconds = len(frames) / 176400
print(f"take: {seconds:.2f} s, {sum(frames)} summed bytes")
assert seconds > 3.5 and not any(frames), "the take did not go on in silence"
EOF
    exit "$fails"
    ;;
  no_audio)
    audio="$out/audio"
    trap '"$WENDRIX_ROOT/scripts/audio-env" stop "$audio"' EXIT
    eval "$("$WENDRIX_ROOT/scripts/audio-env" start "$audio")"
    pactl suspend-sink wendrix_tone 1 || exit 1
    run_host --record "$(windows_path "$out/take.wav")" --seconds 4 --close-message-boxes ||
      exit 1
    fails=0
    grep -qxF "message box: private update wendrix Error: the recording device delivered no audio during this recording: $(windows_path "$out/take.wav") holds none." \
      "$out/host.txt" || { echo "FAIL  the stop did not say that the device delivered nothing"; fails=1; }
    (($(grep -c '^message box:' "$out/host.txt") == 1)) || { echo "FAIL  other message boxes"; fails=1; }
    python3 - "$out/take.wav" <<'EOF' || fails=1
import sys, wave
with wave.open(sys.argv[1]) as w:
    print(f"take: {w.getnframes()} frames")
    assert w.getnframes() == 0, "audio in a take of a device that delivered none"
EOF
    exit "$fails"
    ;;
  exited_host)
    run_host --record "$(windows_path "$out/take.wav")" --seconds "$seconds" \
      --exit-while-recording || exit 1
    grep -q '^exiting while the control records$' "$out/host.txt" || exit 1
    ! grep -q '^event OnStop$' "$out/host.txt" || { echo "FAIL  the recording was stopped"; exit 1; }
    # What the last transfer took is all the take holds: up to a drain period less.
    python3 "$here/check_take.py" --log "$out/host.txt" --wav "$out/take.wav" --rate 44100 \
      --channels 2 --bits 16 --killed --length-slack 1.0
    ;;
  killed_host)
    take="$(windows_path "$out/take.wav")"
    run_host --record "$take" --seconds 30 &
    host_pid=$!
    for ((tries = 0; tries < 300; tries++)); do
      grep -q '^capture_delay_seconds ' "$out/host.log" 2>/dev/null && break
      sleep 0.1
    done
    began=$(date +%s.%N)
    sleep 3
    # The Windows process of this run (its command line names this take), ended as the task
    # manager ends a program: at once, running no code of its own.
    pids=$(ps -eo pid=,args= | TAKE="$take" awk 'index($0, ENVIRON["TAKE"]) && /wendrix-host/ { print $1 }')
    [[ -n $pids ]] || { echo "FAIL  the host's process was not found"; exit 1; }
    kill -9 $pids
    ended=$(date +%s.%N)
    wait "$host_pid"
    ! grep -q '^event OnStop$' "$out/host.txt" || { echo "FAIL  the recording was stopped"; exit 1; }
    delay=$(awk '$1 == "capture_delay_seconds" { print $2 }' "$out/host.txt")
    echo "recorded_seconds $(echo "$ended - $began + $delay" | bc)" >>"$out/host.txt"
    echo "drain_period_seconds 0.5" >>"$out/host.txt"
    python3 "$here/check_take.py" --log "$out/host.txt" --wav "$out/take.wav" --rate 44100 \
      --channels 2 --bits 16 --killed --length-slack 1.5
    ;;
  released_recording)
    run_host --record "$(windows_path "$out/take.wav")" --seconds "$seconds" \
      --release-while-recording || exit 1
    grep -q '^released the control while it recorded$' "$out/host.txt" || exit 1
    python3 "$here/check_take.py" --log "$out/host.txt" --wav "$out/take.wav" --rate 44100 \
      --channels 2 --bits 16
    ;;
  form)
    # The first run saves the form with the settings it was given; the second, given none,
    # records in those settings again.
    form="$(windows_path "$out/Form1.frm")"
    run_host --form "$form" --record "$(windows_path "$out/take1.wav")" --seconds 1 \
      --rate 11025 --channels 1 --bits 8 --hide-meter || exit 1
    cat "$out/Form1.frm" | tr -d '\r'
    fails=0
    grep -q '^Begin Wendrix.DSWendrixControl Wendrix1' "$out/Form1.frm" &&
      grep -Eq '^ +SamplesPerSecond *= +11025' "$out/Form1.frm" &&
      grep -Eq "^ +ShowVU *= +0 +'False" "$out/Form1.frm" &&
      grep -q '^End' "$out/Form1.frm" || { echo "FAIL  the saved form"; fails=1; }
    run_host --form "$form" --record "$(windows_path "$out/take2.wav")" --seconds 1 || exit 1
    grep -q '^form: .* loaded (14 properties)' "$out/host.txt" &&
      grep -q '^format 11025 Hz, 1 channels, 8 bits' "$out/host.txt" ||
      { echo "FAIL  the second run did not take the saved settings"; fails=1; }
    [[ "$(soxi -r "$out/take2.wav")/$(soxi -c "$out/take2.wav")/$(soxi -b "$out/take2.wav")" == 11025/1/8 ]] ||
      { echo "FAIL  the second take is not 11025 Hz mono 8-bit"; fails=1; }
    exit "$fails"
    ;;
  *)
    wendrix_die "unknown case $case_name"
    ;;
esac
