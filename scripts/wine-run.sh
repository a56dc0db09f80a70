#!/usr/bin/env bash
# Runs a Windows test program under Wine, the way ctest and the test listing call it.
#   scripts/wine-run.sh program.exe [arguments...]
# Now and then Wine fails to start a program at all on a busy machine: it ends at once with a
# non-zero code and not one byte on its standard output (its own messages are off,
# WINEDEBUG=-all). A test program always prints there before it can fail, so such an end says
# nothing about the test: it is started again, twice at most, with a line saying so. Every other
# end, output and code are the program's own.
set -uo pipefail

output=$(mktemp)
trap 'rm -f "$output"' EXIT

for try in 1 2 3; do
  # The output goes on as it comes (a test that hangs still shows what it printed) and to a
  # file that says whether anything was printed at all. The errors stay apart: the test listing
  # reads the standard output alone.
  wine "$@" | tee "$output"
  code=${PIPESTATUS[0]}
  if [[ $code -eq 0 || -s "$output" ]]; then exit "$code"; fi
  echo "wine-run: $1 ended with code $code before printing anything (try $try of 3)" >&2
done
exit "$code"
