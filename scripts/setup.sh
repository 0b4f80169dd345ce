#!/usr/bin/env bash
# Shared by scripts/test and scripts/run: install what is missing, then build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(g++ cmake ninja-build pkg-config
          qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl1-mesa-dev
          libgtest-dev libgmock-dev googletest libbenchmark-dev
          nlohmann-json3-dev  # the tests read the tool's JSON output
          python3 python3-dbf python3-dbfread pgdbf
          xvfb xauth time
          dpkg-dev    # dpkg-shlibdeps, for the Depends line of `cpack -G DEB`
          lintian     # judges that package (tests/package/lint_package.sh)
          groff-base) # renders the man page in its test
# Only for the Windows build (scripts/build-windows) and its tests under
# Wine: the MinGW-w64 cross compiler, GoogleTest's sources for it, Wine.
# Installed without Wine's recommends (sound, printing, scanners, fonts):
# the tests run console programs only.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix googletest wine wine64)
# Only for the fuzz build (-DORV_FUZZ=ON, scripts/fuzz): clang and libFuzzer.
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

orv_install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  local lean=() full=()
  for p in "${missing[@]}"; do
    if [[ " ${WINDOWS_PACKAGES[*]} " == *" $p "* ]]; then lean+=("$p"); else full+=("$p"); fi
  done
  [ ${#full[@]} -eq 0 ] || apt-get install -y -qq "${full[@]}"
  [ ${#lean[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${lean[@]}"
}

# orv_build DIR [cmake options...]
orv_build() {
  local dir="$1"; shift
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$ROOT/$dir" -j "$(nproc)"
}
