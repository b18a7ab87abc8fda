#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing, so a
# second run costs nothing. Usage: scripts/deps.sh build|run|fuzz|test|package|check-package
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libxkbcommon-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev libgsl-dev libfontconfig-dev librsvg2-bin libpq-dev)
# The dose archive's database drivers: SQLite by default, PostgreSQL for a service.
run_pkgs=(qt6-qpa-plugins fonts-dejavu-core libgsl27 libqt6sql6-sqlite libqt6sql6-psql)
# The archive suite runs against a real server too (scripts/with-postgres.sh);
# its reports are read back with pdftotext and pdfinfo.
# A locale with a decimal comma for the C library (see below).
test_pkgs=(postgresql poppler-utils locales)
fuzz_pkgs=(clang-14 libclang-rt-14-dev)
# CPack's Debian generator: dpkg-shlibdeps computes the library dependencies
# and needs file to tell programs from other files.
package_pkgs=(dpkg-dev file)
# What CI checks an installed package with.
check_pkgs=(lintian desktop-file-utils appstream xvfb xauth)

case "${1:-build}" in
  build) wanted=("${build_pkgs[@]}" "${run_pkgs[@]}") ;;
  run) wanted=("${build_pkgs[@]}" "${run_pkgs[@]}" xvfb xauth) ;;
  fuzz) wanted=("${build_pkgs[@]}" "${run_pkgs[@]}" "${fuzz_pkgs[@]}") ;;
  test) wanted=("${build_pkgs[@]}" "${run_pkgs[@]}" "${test_pkgs[@]}") ;;
  package) wanted=("${build_pkgs[@]}" "${run_pkgs[@]}" "${package_pkgs[@]}") ;;
  check-package) wanted=("${check_pkgs[@]}") ;;
  *) echo "usage: $0 build|run|fuzz|test|package|check-package" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The number tests set the C library's locale to one that writes a decimal
# comma, as the toolkit does for a German user; without one they could only
# skip. A fresh machine has none compiled.
if [ "${1:-build}" = test ] && ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  $sudo localedef -i de_DE -c -f UTF-8 de_DE.UTF-8 ||
    echo "deps.sh: the locale de_DE.UTF-8 could not be made; the number tests that need it skip" >&2
fi
