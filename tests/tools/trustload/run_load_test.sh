#!/usr/bin/env bash
# scripts/run-load, briefly, as ctest runs it: every run without an
# unexpected answer, refusals noticed, and no process of it left running
# (each one it starts carries its temporary directory in its command line).
set -uo pipefail
root=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/run-load-test-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
status=0
TMPDIR=$tmp timeout 120 "$root/scripts/run-load" --no-build --duration 2 --warmup 0.5 --connections "8 64" \
  --check-refusals >"$tmp/out" 2>"$tmp/err" || status=$?
cat "$tmp/out"
failed=0
if [ "$status" -ne 0 ]; then
  echo "run-load exited $status" >&2
  tail -40 "$tmp/err" >&2
  failed=1
fi
runs=$(grep -c '^calls [0-9]*: .* unexpected errors 0, ' "$tmp/out")
if [ "$runs" -ne 2 ]; then
  echo "expected 2 runs without unexpected errors, found $runs" >&2
  failed=1
fi
grep -q '^reader token: trustload reported the refused writes' "$tmp/out" || { echo "refusals not checked" >&2; failed=1; }
if pgrep -f "$tmp" >/dev/null; then
  echo "left running:" >&2
  pgrep -af "$tmp" >&2
  pkill -KILL -f "$tmp"
  failed=1
fi
exit "$failed"
