#!/usr/bin/env bash
# The concurrency stress test under ThreadSanitizer, in a bounded form: a
# separate clang++-14 build with -fsanitize=thread in which only the stress
# test and what it links are built. Fails on any ThreadSanitizer report
# (halt_on_error) and on any test failure.
#
# Environment (all optional):
#   DRAL_TSAN_BUILD_DIR  build directory             (default <repo>/build-tsan)
#   DRAL_STRESS_CALLS    calls issued by the test    (default 2000)
#   DRAL_JOBS            parallel compile jobs       (default: cores)
#   TSAN_OPTIONS         added after this script's own options
# Arguments go to the test binary, for example --gtest_repeat=3.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${DRAL_TSAN_BUILD_DIR:-$root/build-tsan}
jobs=${DRAL_JOBS:-$(nproc)}

tsan=-fsanitize=thread
configure=(-S "$root" -B "$build" -G Ninja
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
  -DCMAKE_CXX_COMPILER=clang++-14
  "-DCMAKE_CXX_FLAGS=$tsan -fno-omit-frame-pointer"
  "-DCMAKE_EXE_LINKER_FLAGS=$tsan"
  "-DCMAKE_SHARED_LINKER_FLAGS=$tsan"
  -DDRAL_BUILD_TESTS=ON
  -DDRAL_BUILD_EXAMPLES=OFF)
if command -v ccache >/dev/null; then
  configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
fi

cmake "${configure[@]}"
cmake --build "$build" --target concurrency_stress_test --parallel "$jobs"

# second_deadlock_stack: both stacks of a lock-order report.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
export DRAL_STRESS_CALLS=${DRAL_STRESS_CALLS:-2000}
echo "run-stress-tsan.sh: $DRAL_STRESS_CALLS calls, TSAN_OPTIONS=$TSAN_OPTIONS"
exec "$build/tests/stress/concurrency_stress_test" "$@"
