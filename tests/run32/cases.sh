#!/bin/bash
# Runs one command per case, in turn, and says how each ended; exit code 1
# when any failed.  "{}" in the command's arguments stands for the case.
# Suites of the 32-bit tier use it to run all their cases in one boot.
#   cases.sh CASE... -- COMMAND [ARGUMENT...]
set -u
cases=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  cases+=("$1")
  shift
done
if [ $# -lt 2 ] || [ ${#cases[@]} -eq 0 ]; then
  echo "usage: cases.sh CASE... -- COMMAND [ARGUMENT...]" >&2
  exit 2
fi
shift
failed=()
for case in "${cases[@]}"; do
  "${@//\{\}/$case}"
  code=$?
  if [ $code -eq 0 ]; then
    echo "$case: ok"
  else
    echo "$case: FAILED (exit code $code)"
    failed+=("$case")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "${#failed[@]} of ${#cases[@]} failed: ${failed[*]}"
  exit 1
fi
echo "all ${#cases[@]} passed"
