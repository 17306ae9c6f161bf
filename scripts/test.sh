#!/usr/bin/env bash
# Builds the project and runs its whole test suite, after installing the
# missing build dependencies on Debian 12. Arguments are passed to ctest, for
# example: ./scripts/test.sh -LE consumer. Environment: see common.sh.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing_packages
configure
cmake --build "$build" --parallel "$jobs"
ctest --test-dir "$build" --output-on-failure --parallel "$jobs" --timeout 600 "$@"
