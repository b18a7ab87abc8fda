#!/usr/bin/env bash
# Builds and starts the program with a demo data file and a simulated reader
# on COM1 (a pseudo-terminal); the reader stops when the program ends.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quelm quelm-sample-data quelm-reader-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat <<TXT
No display is available, so the program's window cannot be shown.
Run it under a virtual X server instead:
    xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/demo.sh
(then take screenshots with e.g. "import -window root shot.png"), or start
it from a desktop session.
TXT
  exit 1
fi

demo=build/demo
mkdir -p "$demo"
build/tools/sample-data/quelm-sample-data --blocks 300 --seed 1 "$demo/sample.dat" >/dev/null
echo "Demo data file: $PWD/$demo/sample.dat (File > Import... > From File)"

# The program reads the configuration file beside itself (build/quelm.INI).
exe=build/quelm

# The simulated reader maps COM1 to a fixed link in that file (other
# settings in it are kept) and serves until the program ends.
reader="$PWD/$demo/reader"
rm -f "$demo/reader-sim.out"
build/tools/reader-sim/quelm-reader-sim --blocks 300 --seed 1 --link "$reader" --ini "$exe.INI" \
  >"$demo/reader-sim.out" 2>"$demo/reader-sim.log" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -s "$demo/reader-sim.out" ] && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$demo/reader-sim.out" ]; then
  echo "The simulated reader did not start:" >&2
  cat "$demo/reader-sim.log" >&2
  exit 1
fi
echo "Simulated reader: COM1 = $reader -> $(head -1 "$demo/reader-sim.out") (log: $demo/reader-sim.log)"

# Sets key=value in [section] of an INI file and keeps everything else
# (section and key names compare without regard to case, as the program's).
ini_set() {
  local file=$1 section=$2 key=$3 value=$4 tmp
  touch "$file"
  tmp=$(mktemp "$file.XXXXXX")
  awk -v s="[$section]" -v k="$key" -v v="$value" '
    function put() { if (!done) { print k "=" v; done = 1 } }
    { line = $0; sub(/\r$/, "", line) }
    line ~ /^[ \t]*\[/ { if (inside) put(); t = line; gsub(/^[ \t]+|[ \t]+$/, "", t); inside = (tolower(t) == tolower(s)) }
    inside { n = index(line, "="); if (n > 0) { name = substr(line, 1, n - 1); gsub(/^[ \t]+|[ \t]+$/, "", name)
             if (tolower(name) == tolower(k)) { put(); next } } }
    { print }
    END { if (inside) put(); else if (!done) { print s; put() } }
  ' "$file" >"$tmp"
  cat "$tmp" >"$file"  # keeps the file's owner and mode
  rm -f "$tmp"
}
# The demo runs at service level, so that every window can be tried.
ini_set "$exe.INI" "Safety restrictions" Professional 1403726958
echo "Configuration: $PWD/$exe.INI (service level on)"

status=0
"$exe" || status=$?
exit "$status"
