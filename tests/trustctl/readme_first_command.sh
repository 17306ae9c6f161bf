#!/usr/bin/env bash
# The README's first command, start to end, as ctest runs it: exit status 0,
# the session's verdicts in its output, and no process of the session left
# running (every process it starts carries its directory in its command line).
set -uo pipefail
root=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/readme-demo-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
status=0
TMPDIR=$tmp "$root/scripts/run-demo" >"$tmp/out" 2>"$tmp/err" || status=$?
cat "$tmp/out"
if [ "$status" -ne 0 ]; then
  echo "run-demo exited $status" >&2
  tail -40 "$tmp/err" >&2
  exit 1
fi
for verdict in "Replay:      matches the TPM (20 registers)" "(exit status 4, as expected)" \
  "(exit status 6, as expected)" "run-demo: every step answered as expected"; do
  grep -qF "$verdict" "$tmp/out" || { echo "missing from the output: $verdict" >&2; exit 1; }
done
if pgrep -f "$tmp" >/dev/null; then
  echo "left running:" >&2
  pgrep -af "$tmp" >&2
  pkill -KILL -f "$tmp"
  exit 1
fi
