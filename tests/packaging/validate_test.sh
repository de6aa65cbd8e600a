#!/usr/bin/env bash
# The desktop entry through desktop-file-validate and the AppStream metadata through
# appstreamcli validate, offline: neither may report an error or a warning.
# Exit 77 (skipped) when either validator is not installed.
#   validate_test.sh DESKTOP_FILE METAINFO_FILE
set -uo pipefail
desktop="$1"
metainfo="$2"
for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done
failures=0

# desktop-file-validate prints nothing for a clean file, and exits 0 after warnings.
report="$(desktop-file-validate "$desktop" 2>&1)"
code=$?
if [ "$code" -ne 0 ] || [ -n "$report" ]; then
    echo "$report"
    echo "FAIL: desktop-file-validate $desktop (exit $code)"
    failures=$((failures + 1))
fi

report="$(appstreamcli validate --no-net --explain "$metainfo" 2>&1)"
code=$?
echo "$report"
if [ "$code" -ne 0 ] || grep -qE '^[EW]:' <<<"$report"; then
    echo "FAIL: appstreamcli validate $metainfo (exit $code)"
    failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] || exit 1
echo "ok"
