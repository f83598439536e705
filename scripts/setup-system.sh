#!/usr/bin/env bash
# Installs the system packages the build needs (PCRE2 headers and libraries,
# pkg-config, a C++ compiler) when they are missing.  Debian/Ubuntu.
set -euo pipefail

missing=()
pkg-config --exists libpcre2-8 libpcre2-16 libpcre2-32 2>/dev/null || missing+=(libpcre2-dev)
command -v pkg-config >/dev/null || missing+=(pkg-config)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

# CMake and Ninja from PyPI when the machine has none.
command -v cmake >/dev/null || python3 -m pip install --quiet cmake
