#!/usr/bin/env bash
# Installs the Debian packages Corvane's build and tests need, if any are missing.
# Usage: scripts/setup.sh [run|test|release]
set -euo pipefail
want=(cmake ninja-build g++ libcurl4-openssl-dev pkg-config ca-certificates)
if [ "${1:-run}" = test ]; then
  want+=(clang libclang-rt-14-dev libgtest-dev libbenchmark-dev g++-mingw-w64-x86-64-posix
         wine64 xvfb xauth openssl libssl-dev libcpp-httplib-dev python3 valgrind tinyproxy
         libhamlib-utils)
fi
# The release packages: scripts/release.sh builds them (Corvane.exe cross-built, whose toolchain
# wants wine64; the .deb with its man page), tests/release/check_release.sh checks them.
case "${1:-run}" in
  test) want+=(help2man dpkg-dev lintian file unzip) ;;
  release) want+=(g++-mingw-w64-x86-64-posix wine64 help2man dpkg-dev) ;;
esac
missing=()
for package in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "Corvane needs these packages; install them with:" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
