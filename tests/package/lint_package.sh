#!/usr/bin/env bash
# Builds the Debian package of a build folder into a scratch folder and has
# lintian judge it: any error fails. Exits 77 (skipped) without lintian.
set -euo pipefail
build="$1"
command -v lintian >/dev/null || { echo "lintian is not installed"; exit 77; }
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; exit 1; }
lintian --fail-on error "$scratch"/*.deb
