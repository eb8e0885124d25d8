#!/usr/bin/env bash
# The Debian packages that wavproc's build and tests need, listed here once, and their installation.
#
# Usage: bash .ci/packages.sh build|test
#   build  what building the program needs: cmake, make, a C++20 compiler and the header-only
#          fast_float. Nothing is installed when all of them are already found, from whatever source.
#   test   what `bash tests/check.sh` needs: the build packages and every library and tool the
#          tests, the sanitizer build, the fuzz targets and the benchmarks use, with libmseed-dev
#          for wavproc-import's miniSEED reader (without it the importer builds, refusing miniSEED).
# As root on Debian the missing packages are installed with apt-get; otherwise they are named,
# with the command that installs them, and the caller goes on (its build then tells what fails).
set -euo pipefail

build_packages=(cmake make g++ libfast-float-dev)
test_packages=("${build_packages[@]}" pkg-config libgtest-dev libbenchmark-dev libfftw3-dev clang libclang-rt-14-dev
  libc++-dev libc++abi-dev gnuplot-nox libxml2-utils strace parallel rsync openssh-server openssh-client libmseed-dev)

case ${1:-} in
  build)
    if command -v cmake >/dev/null && command -v make >/dev/null &&
      { [[ -n ${CXX:-} ]] || command -v c++ >/dev/null || command -v g++ >/dev/null || command -v clang++ >/dev/null; } &&
      { [[ -f /usr/include/fast_float/fast_float.h ]] || [[ -f /usr/local/include/fast_float/fast_float.h ]]; }; then
      exit 0
    fi
    wanted=("${build_packages[@]}")
    ;;
  test) wanted=("${test_packages[@]}") ;;
  *)
    sed -n '4,11s/^# \{0,1\}//p' "$0" >&2
    exit 2
    ;;
esac

command -v dpkg-query >/dev/null || exit 0
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
((${#missing[@]})) || exit 0
if ((EUID != 0)) || ! command -v apt-get >/dev/null; then
  echo "packages.sh: missing Debian packages: ${missing[*]}" >&2
  echo "packages.sh: install them as root with: apt-get install ${missing[*]}" >&2
  exit 0
fi
echo "packages.sh: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
