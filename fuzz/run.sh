#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++-14 (AddressSanitizer and
# UndefinedBehaviorSanitizer) in their own build directory, then runs each
# target for a while on a copy of its committed corpus. Exits non-zero on any
# finding: a crash, a sanitizer report, a violated property, a timeout, an
# out-of-memory or a leak. On Debian 12 it first installs whichever build
# dependencies are missing (as root, or through sudo).
#
#   fuzz/run.sh [seconds-per-target] [target...]     targets: format primitive check road natural_json lossless_json eventlog
#                                                    trustd_input http_request
#
# Environment (all optional):
#   DRAL_FUZZ_BUILD_DIR  build directory                      (default <repo>/build-fuzz)
#   DRAL_FUZZ_OUT        new corpus entries, logs, findings   (default <build>/fuzz-out)
#   DRAL_FUZZ_JOBS       parallel compile jobs                (default: cores)
#   ASAN_OPTIONS         default malloc_context_size=4: cheaper allocations, short
#                        allocation stacks; re-run a finding with ASAN_OPTIONS= for full ones
#
# Every target also runs its deep seeds (fuzz/corpus/<target>-deep, trees of
# 100k levels) once, with DRAL_FUZZ_DEEP=1, before fuzzing. All runs use a
# 2 MiB stack, so any recursion over a deep tree shows as a stack overflow.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${DRAL_FUZZ_BUILD_DIR:-$root/build-fuzz}
out=${DRAL_FUZZ_OUT:-$build/fuzz-out}
jobs=${DRAL_FUZZ_JOBS:-$(nproc)}
seconds=${1:-60}
[ $# -gt 0 ] && shift
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: fuzz/run.sh [seconds-per-target] [format|primitive|check|road|natural_json|lossless_json|eventlog|trustd_input|http_request...]" >&2
  exit 2
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(format primitive check road natural_json lossless_json eventlog trustd_input http_request)
export ASAN_OPTIONS=${ASAN_OPTIONS-malloc_context_size=4}

# The whole project is configured, trustd and trustctl included.
packages=(cmake ninja-build clang-14 libclang-rt-14-dev libboost1.81-dev libssl-dev python3 libtss2-dev
  libsqlite3-dev libcli11-dev libboost-json1.81-dev libboost-url1.81-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "run.sh: installing ${missing[*]}"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

configure=(-S "$root" -B "$build" -G Ninja
  -DCMAKE_CXX_COMPILER=clang++-14
  -DCMAKE_BUILD_TYPE=Debug
  -DDRAL_SANITIZE=ON
  -DDRAL_BUILD_FUZZERS=ON
  -DDRAL_BUILD_TESTS=OFF
  -DDRAL_BUILD_EXAMPLES=OFF
  -DDRAL_BUILD_BENCHMARKS=OFF
  -DDRAL_WERROR=OFF)
if command -v ccache >/dev/null; then
  configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
fi
cmake "${configure[@]}" >/dev/null
binaries=()
for target in "${targets[@]}"; do binaries+=("fuzz_$target"); done
cmake --build "$build" --parallel "$jobs" --target "${binaries[@]}"

# Prints the figures of one libFuzzer log: coverage, features, corpus and
# the final statistics.
summarize() {
  local log=$1
  local last
  last=$(grep -E '^#[0-9]+[[:space:]]+(DONE|NEW|REDUCE|pulse|INITED)' "$log" | tail -n 1 || true)
  echo "  ${last:-no progress line}"
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|slowest_unit_time_sec|peak_rss_mb)' \
    "$log" | sed 's/^/  /' || true
}

status=0
for target in "${targets[@]}"; do
  binary=$build/fuzz/fuzz_$target
  work=$out/$target
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -R "$root/fuzz/corpus/$target/." "$work/corpus/"
  options=(-timeout=30 -rss_limit_mb=3072 -print_final_stats=1 -artifact_prefix="$work/artifacts/")
  [ -f "$root/fuzz/dict/$target.dict" ] && options+=(-dict="$root/fuzz/dict/$target.dict")

  echo "== $target"
  deep=$root/fuzz/corpus/$target-deep
  if [ -d "$deep" ]; then
    if ! (ulimit -s 2048 && DRAL_FUZZ_DEEP=1 exec "$binary" "${options[@]}" "$deep"/*) >"$work/deep.log" 2>&1; then
      echo "  FINDING on the deep seeds; log: $work/deep.log"
      tail -n 30 "$work/deep.log" | sed 's/^/    /'
      status=1
    else
      echo "  deep seeds: $(find "$deep" -type f | wc -l) passed"
    fi
  fi

  rc=0
  (ulimit -s 2048 && exec "$binary" "${options[@]}" -max_total_time="$seconds" "$work/corpus") \
    >"$work/fuzz.log" 2>&1 || rc=$?
  summarize "$work/fuzz.log"
  echo "  corpus: $(find "$work/corpus" -type f | wc -l) inputs (started from $(find "$root/fuzz/corpus/$target" -type f | wc -l))"
  if [ $rc -ne 0 ]; then
    echo "  FINDING (exit $rc); log: $work/fuzz.log"
    grep -E 'violated|ERROR|SUMMARY|Test unit written' "$work/fuzz.log" | head -n 20 | sed 's/^/    /' || true
    status=1
  fi
  if compgen -G "$work/artifacts/*" >/dev/null; then
    echo "  inputs kept: $(ls "$work/artifacts")"
    echo "  reproduce: $binary <input>; keep the input in fuzz/corpus/$target/ and add a test in tests/fuzz_regressions/"
  fi
done
exit $status
