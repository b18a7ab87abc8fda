#!/usr/bin/env bash
# Builds the Debian package and checks it as a user's machine would get it:
# lintian, the desktop entry and AppStream validators, then it installs the
# package, runs quelm-cli, starts quelm under a virtual X server with a fresh
# home folder (it must write its configuration there) and purges it again.
# Needs root (or sudo) for apt-get; CI runs it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/package.sh
bash scripts/deps.sh check-package
deb=$(ls build/quelm_*.deb)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

lintian --fail-on error --tag-display-limit 0 "$deb"
desktop-file-validate packaging/org.quelm.Quelm.desktop
appstreamcli validate --no-net build/packaging/org.quelm.Quelm.metainfo.xml

work=$(mktemp -d)
pid="" run=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  if [ -n "$run" ]; then wait "$run" 2>/dev/null || true; fi
  rm -rf "$work"
  if dpkg-query -W -f='${Status}' quelm 2>/dev/null | grep -q 'install ok installed'; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq quelm >/dev/null
  fi
}
trap cleanup EXIT

DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "./$deb" >/dev/null
want=$(dpkg-deb -f "$deb" Version)
got=$(quelm-cli --version)
[ "$got" = "quelm-cli $want" ] || { echo "quelm-cli --version says '$got', the package is $want" >&2; exit 1; }
test -f /usr/share/applications/org.quelm.Quelm.desktop
test -f /usr/share/icons/hicolor/scalable/apps/org.quelm.Quelm.svg
test -f /usr/share/man/man1/quelm-cli.1.gz

build/tools/sample-data/quelm-sample-data --blocks 25 --seed 7 "$work/sample.dat" >/dev/null
(cd "$work" && quelm-cli info sample.dat) | tee "$work/info.txt"
grep -q '^Blocks: 25$' "$work/info.txt"

# A fresh home: the installed program keeps its configuration there.
home="$work/home"
mkdir -p "$home"
# quelm runs under xvfb-run, which takes the virtual display down when quelm
# ends: so quelm itself is the process to end, and it tells its id.
env -u XDG_CONFIG_HOME HOME="$home" xvfb-run -a -s "-screen 0 1280x1024x24" \
  sh -c 'echo $$ >"$0"; exec quelm' "$work/quelm.pid" >"$work/quelm.log" 2>&1 &
run=$!
config="$home/.config/quelm/quelm.INI"
for _ in $(seq 300); do
  [ -s "$config" ] && break
  kill -0 "$run" 2>/dev/null || break
  sleep 0.1
done
[ -s "$work/quelm.pid" ] && pid=$(cat "$work/quelm.pid")
if [ ! -s "$config" ]; then
  echo "quelm did not write $config" >&2
  cat "$work/quelm.log" >&2
  exit 1
fi
grep -q '^Professional=0' "$config"
echo "quelm wrote $config"
kill "$pid" 2>/dev/null || true
wait "$run" 2>/dev/null || true
pid=""

DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq quelm >/dev/null
if [ -e /usr/bin/quelm ]; then echo "purge left /usr/bin/quelm" >&2; exit 1; fi
echo "package checks passed"
