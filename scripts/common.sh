# Shared by the commands in this directory; sourced, not run.
#
# Environment (all optional):
#   DRAL_BUILD_DIR   build directory                      (default <repo>/build)
#   DRAL_BUILD_TYPE  CMake build type                     (default Debug)
#   DRAL_SANITIZE    ON: AddressSanitizer + UBSan build   (default OFF)
#   DRAL_WERROR      ON: warnings fail the build          (default ON)
#   DRAL_JOBS        parallel compile and test jobs       (default: cores)
#   CXX              compiler, read when the build directory is first configured

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${DRAL_BUILD_DIR:-$root/build}
jobs=${DRAL_JOBS:-$(nproc)}

# Installs whichever build dependencies are missing, from Debian 12's
# packages, as root or through sudo. A machine that has them all needs no
# network.
install_missing_packages() {
  local packages=(cmake ninja-build g++ clang-14 libclang-rt-14-dev libboost1.81-dev libgtest-dev libgmock-dev
    libbenchmark-dev libssl-dev pkg-config ccache python3 curl libtss2-dev libsqlite3-dev swtpm swtpm-tools tpm2-tools
    libcli11-dev jq libboost-json1.81-dev libboost-url1.81-dev)
  local missing=() package
  for package in "${packages[@]}"; do
    dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

configure() {
  local args=(-S "$root" -B "$build" -G Ninja
    -DCMAKE_BUILD_TYPE="${DRAL_BUILD_TYPE:-Debug}"
    -DDRAL_SANITIZE="${DRAL_SANITIZE:-OFF}"
    -DDRAL_WERROR="${DRAL_WERROR:-ON}")
  if command -v ccache >/dev/null; then
    args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Lets clones in other directories hit the same cache entries.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
  fi
  cmake "${args[@]}"
}
