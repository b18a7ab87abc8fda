#!/usr/bin/env bash
# How quickly the program shows its first window and how much memory it holds
# then, side by side with a bare Qt 6 main window (bench/bare_window.cpp).
#   bench/startup.sh [BUILD_FOLDER]          (default: build)
# Builds quelm, quelm_bare_window and quelm_startup_probe (with its
# quelm_paint_hook), starts a virtual
# display (Xvfb) of its own and, after one start of each that is not counted,
# starts them in turn QUELM_STARTUP_RUNS times each (10). Each start is
# measured by quelm_startup_probe (see bench/startup_probe.cpp): the time
# until the first window is painted, the resident memory once the program
# idles. It prints the medians and their ratios against the bare
# window; the goals are 1.5 for the start-up and 1.3 for the memory. For
# reference it also starts the bare window showing one line of text
# (--text), which pays the font set-up that any window with text pays.
# Below the ratios it tells where the time goes, as medians of each phase:
# loading the libraries (until main), connecting to the display (the
# QApplication), building and showing the window (until the event loop) and
# painting the first frame.
#
# Nothing of the user's is read or written: both programs run from a
# temporary folder (the program keeps its configuration file beside itself
# there, new for every start) with a home, configuration, data and cache
# folder of their own in it and no other environment. A step that does not
# happen within QUELM_STARTUP_TIMEOUT seconds (20) ends the script with a
# message saying which. QUELM_STARTUP_VERBOSE=1 shows every start's figures.
set -euo pipefail

build=${1:-build}
runs=${QUELM_STARTUP_RUNS:-10}
timeout=${QUELM_STARTUP_TIMEOUT:-20}

command -v Xvfb >/dev/null || { echo "startup.sh: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }
if ! log=$(cmake --build "$build" -j2 --target quelm quelm_bare_window quelm_startup_probe quelm_paint_hook 2>&1); then
  echo "$log" >&2
  echo "startup.sh: building in $build failed (quelm_startup_probe needs libxcb1-dev)" >&2
  exit 1
fi
probe=$build/bench/quelm_startup_probe

tmp=$(mktemp -d /tmp/quelm-startup.XXXXXX)
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

mkdir -p "$tmp/bin" "$tmp/cache"
cp "$build/quelm" "$tmp/bin/quelm"
cp "$build/bench/quelm_bare_window" "$tmp/bin/quelm_bare_window"

# Xvfb writes its display number to the pipe once it takes connections.
# Without -noreset it would reset whenever its last client leaves, and
# refuse the next start's first connection meanwhile.
mkfifo "$tmp/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
display=
read -r -t "$timeout" display <"$tmp/display" || true
if [ -z "$display" ]; then
  echo "startup.sh: the virtual display did not start within $timeout s:" >&2
  cat "$tmp/xvfb.log" >&2
  exit 1
fi

# One start of `name` (with its arguments), measured:
# "<mapped ms> <painted ms> <resident KiB> <title>".
measure() {
  local name=$1 run=$tmp/run
  shift
  rm -rf "$run"
  find "$tmp/bin" -mindepth 1 ! -name quelm ! -name quelm_bare_window -exec rm -rf {} +
  mkdir -p "$run/home" "$run/config" "$run/data" "$run/runtime"
  chmod 700 "$run/runtime"
  env -i PATH=/usr/bin:/bin LANG=C.UTF-8 DISPLAY=":$display" QT_QPA_PLATFORM=xcb \
    HOME="$run/home" XDG_CONFIG_HOME="$run/config" XDG_DATA_HOME="$run/data" \
    XDG_CACHE_HOME="$tmp/cache" XDG_RUNTIME_DIR="$run/runtime" \
    "$probe" --timeout "$timeout" "$tmp/bin/$name" "$@"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The yardsticks: the bare window, and the bare window with one line of
# text, which costs the font set-up every window with text pays.
declare -A shown memory title phases args=([quelm_bare_window]="" [text_window]="--text" [quelm]="")
declare -A program=([quelm_bare_window]=quelm_bare_window [text_window]=quelm_bare_window [quelm]=quelm)
names="quelm_bare_window text_window quelm"
measure quelm_bare_window >/dev/null
measure quelm >/dev/null
for ((i = 1; i <= runs; ++i)); do
  for name in $names; do
    # shellcheck disable=SC2086
    line=$(measure "${program[$name]}" ${args[$name]})
    [ -n "${QUELM_STARTUP_VERBOSE:-}" ] && echo "$name: $line" >&2
    read -r _ ms kib loaded connected looping window <<<"$line"
    shown[$name]+="$ms "
    memory[$name]+="$kib "
    title[$name]=$window
    # The phases of this start, one per line; none when a moment was not seen.
    phases[$name]+=$(awk -v l="$loaded" -v c="$connected" -v e="$looping" -v p="$ms" \
      'BEGIN { if (l >= 0 && c >= l && e >= c && p >= e) printf "%s %s %s %s\n", l, c - l, e - c, p - e }')$'\n'
  done
done

# "<median of phase 1> ... <median of phase 4>" of name's starts, or "-".
phaseMedians() {
  local rows column out=
  rows=$(grep . <<<"${phases[$1]}" || true)
  [ -n "$rows" ] || { echo -; return; }
  for column in 1 2 3 4; do out+="$(awk -v c=$column '{ print $c }' <<<"$rows" | median) "; done
  echo "$out"
}

for name in $names; do
  shown[$name]=$(tr ' ' '\n' <<<"${shown[$name]}" | grep . | median)
  memory[$name]=$(tr ' ' '\n' <<<"${memory[$name]}" | grep . | median)
  phases[$name]=$(phaseMedians "$name")
done
echo "Start-up under Xvfb, median of $runs starts each (windows measured: \"${title[quelm_bare_window]}\", \"${title[quelm]}\")"
awk -v bs="${shown[quelm_bare_window]}" -v qs="${shown[quelm]}" -v ts="${shown[text_window]}" \
  -v bm="${memory[quelm_bare_window]}" -v qm="${memory[quelm]}" -v tm="${memory[text_window]}" 'BEGIN {
  printf "%-22s %12s %12s %8s %6s %14s\n", "", "bare window", "quelm", "ratio", "goal", "one text line"
  printf "%-22s %9.1f ms %9.1f ms %7.2fx %5.1fx %8.1f ms %4.2fx\n", "first window painted", bs, qs, qs / bs, 1.5, ts, ts / bs
  printf "%-22s %8.1f MiB %8.1f MiB %7.2fx %5.1fx %7.1f MiB %4.2fx\n", "resident memory", bm / 1024, qm / 1024, qm / bm, 1.3, tm / 1024, tm / bm
}'
awk -v b="${phases[quelm_bare_window]}" -v q="${phases[quelm]}" -v t="${phases[text_window]}" 'BEGIN {
  if (b == "-" || q == "-" || t == "-") { print "(where the time goes: the paint hook saw not every moment)"; exit }
  split(b, bp, " "); split(q, qp, " "); split(t, tp, " ")
  split("loading the libraries|connecting to the display|building, showing the window|painting the first frame", what, "|")
  printf "%-32s %12s %12s %14s\n", "where the time goes (medians)", "bare window", "quelm", "one text line"
  for (i = 1; i <= 4; ++i) printf "%-32s %9.1f ms %9.1f ms %11.1f ms\n", what[i], bp[i], qp[i], tp[i]
}'
