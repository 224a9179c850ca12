#!/bin/sh
# Runs the include check on the small tree beside this script, which breaks
# the floors twice, and passes only when the check fails and names both.
# Usage: expect.sh <check_includes.sh> <QtWidgets include folder>
here=$(dirname "$0")
out=$(sh "$1" "$here/src" "$2")
status=$?
echo "$out"
[ $status -ne 0 ] || { echo "the check passed a tree that breaks the floors"; exit 1; }
echo "$out" | grep -q 'document/model.cpp.*document/ may not include controls/' ||
    { echo "the check missed document/ including controls/"; exit 1; }
echo "$out" | grep -q 'core/clock.cpp.*core/ may not use Qt Widgets' ||
    { echo "the check missed core/ using Qt Widgets"; exit 1; }
if echo "$out" | grep -q 'controls/box.cpp\|app/window.cpp'; then
    echo "the check refused an include that keeps to the floors"
    exit 1
fi
exit 0
