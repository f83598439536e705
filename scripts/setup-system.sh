#!/usr/bin/env bash
# Installs the system packages the build needs (PCRE2 and xxHash headers and
# libraries, pkg-config, a C++ compiler) when they are missing, Graphviz for
# the tests, Java 17 for the Spark tests, and Debian's Chromium for the
# browser tests of the HTML report.  Debian/Ubuntu.
set -euo pipefail

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
updated=0
apt_install() {
  if [ "$updated" -eq 0 ]; then
    $sudo apt-get update -qq
    updated=1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@"
}

missing=()
pkg-config --exists libpcre2-8 libpcre2-16 libpcre2-32 2>/dev/null || missing+=(libpcre2-dev)
pkg-config --exists libxxhash 2>/dev/null || missing+=(libxxhash-dev)
command -v pkg-config >/dev/null || missing+=(pkg-config)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
# Graphviz's dot checks every DOT graph `quorvane inventory` writes.
command -v dot >/dev/null || missing+=(graphviz)
if [ "${#missing[@]}" -gt 0 ]; then
  apt_install "${missing[@]}"
fi

# Chromium for tests/test_html_browser.py (Playwright drives it; Playwright's
# own browser downloads are never used).  Best effort: where it cannot be
# installed, those tests skip and say why.
if ! command -v chromium >/dev/null 2>&1 && ! command -v chromium-browser >/dev/null 2>&1; then
  if command -v apt-get >/dev/null 2>&1 && { [ -z "$sudo" ] || command -v sudo >/dev/null 2>&1; }; then
    apt_install chromium >/dev/null 2>&1 || echo "setup-system: chromium could not be installed; the browser tests will skip" >&2
  else
    echo "setup-system: no apt-get (or sudo) to install chromium; the browser tests will skip" >&2
  fi
fi

# Java for the local Spark session of tests/test_spark.py.
if ! command -v java >/dev/null 2>&1; then
  apt_install openjdk-17-jre-headless
fi

# CMake and Ninja from PyPI when the machine has none.
command -v cmake >/dev/null || python3 -m pip install --quiet cmake
