#!/usr/bin/env bash
# The concurrent tests under ThreadSanitizer, in a bounded form: a separate
# clang++-14 build with -fsanitize=thread in which only these tests and what
# they link are built: the bindings' concurrency stress, the transport's
# client, server, road and security tests, and trustd (also under faults)
# and trustctl against a software TPM (the daemon and the CLI they start are
# built with ThreadSanitizer too and inherit its options). Fails on any
# ThreadSanitizer report (halt_on_error) and on any test failure.
#
# Environment (all optional):
#   DRAL_TSAN_BUILD_DIR  build directory             (default <repo>/build-tsan)
#   DRAL_STRESS_CALLS    calls issued by the stress  (default 2000)
#   DRAL_JOBS            parallel compile jobs       (default: cores)
#   TSAN_OPTIONS         added after this script's own options
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

# Test binaries, relative to the build directory.
tests=(
  tests/stress/concurrency_stress_test
  tests/framework/http/http_client_test
  tests/framework/http/http_server_test
  tests/framework/http/http_road_test
  tests/framework/http/http_natural_server_test
  tests/framework/http/http_security_test
  tests/trustd/store/trustd_store_test
  tests/trustd/tpm/trustd_tpm_test
  tests/trustd/daemon/trustd_daemon_test
  tests/trustd/daemon/trustd_faults_test
  tests/trustctl/trustctl_test
)
targets=(trustd trustctl)
for test in "${tests[@]}"; do targets+=("$(basename "$test")"); done

cmake "${configure[@]}"
cmake --build "$build" --target "${targets[@]}" --parallel "$jobs"

# second_deadlock_stack: both stacks of a lock-order report. OpenSSL is not
# built with ThreadSanitizer: see the suppressions file.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan.supp ${TSAN_OPTIONS:-}"
export DRAL_STRESS_CALLS=${DRAL_STRESS_CALLS:-2000}
echo "run-tsan.sh: TSAN_OPTIONS=$TSAN_OPTIONS, stress $DRAL_STRESS_CALLS calls"
status=0
for test in "${tests[@]}"; do
  start=$SECONDS
  if "$build/$test" >"$build/$(basename "$test").tsan.log" 2>&1; then
    echo "run-tsan.sh: $(basename "$test") passed ($((SECONDS - start)) s)"
  else
    echo "run-tsan.sh: $(basename "$test") FAILED ($((SECONDS - start)) s):"
    tail -80 "$build/$(basename "$test").tsan.log"
    status=1
  fi
done
exit "$status"
