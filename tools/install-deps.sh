#!/usr/bin/env bash
# Installs what building and testing Varkon needs and a fresh Debian machine lacks:
# a C++ compiler, CMake, make, GoogleTest and libfathom (the Syzygy tablebase prober).
# Does nothing when all are present.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/tbprobe.h ] || need+=(libfathom-dev)
[ ${#need[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${need[@]}"
