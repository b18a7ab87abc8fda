#!/usr/bin/env bash
# Builds and starts the program with a demo data file.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quelm quelm-sample-data

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
exec build/quelm
