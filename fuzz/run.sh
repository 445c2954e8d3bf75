#!/bin/sh
# Runs a fuzz target with its arguments and prints what it says, less the
# "recommended dictionary" that libFuzzer lists at the end of every run;
# exits with the target's status.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$@" >"$log" 2>&1
status=$?
sed '/Recommended dictionary/,/End of recommended dictionary/d' "$log"
exit $status
