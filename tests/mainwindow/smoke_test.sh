#!/usr/bin/env bash
# Starts the real iitcalc under xvfb-run and checks that its window appears on the screen and
# that the program ends cleanly; without a display it must say so in one line and fail.
# Exit 77 (skipped) when xvfb-run is not installed.
set -uo pipefail
program="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "xvfb-run is not installed: skipped"
    exit 77
fi

fail() { echo "FAIL: $*"; exit 1; }

# The window is painted once it is mapped and exposed on the X server; the program then stays
# 300 ms, lists the server's windows and leaves.
out="$(xvfb-run -a -s "-screen 0 800x700x24" bash -c '
    "$0" --data-dir "$1" --exit-after-show=300 &
    pid=$!
    sleep 0.2
    for i in $(seq 50); do
        if command -v xwininfo >/dev/null 2>&1; then
            xwininfo -root -tree 2>/dev/null | grep -q "375x532+50+50" && { echo "window mapped"; break; }
        else
            break
        fi
        sleep 0.1
    done
    wait $pid
    echo "exit $?"' "$program" "$dir" 2>&1)"
echo "$out"
grep -q "^shown after [0-9.]* ms$" <<<"$out" || fail "the window was never shown"
grep -q "^exit 0$" <<<"$out" || fail "the program did not end with 0"
if command -v xwininfo >/dev/null 2>&1; then
    grep -q "^window mapped$" <<<"$out" || fail "no 375x532 window at (50, 50) on the X server"
fi
[ -f "$dir/print.dbf" ] && [ -f "$dir/设置税率表A.dat" ] || fail "the built-in files were not written"

# Without any display: one clear line, a non-zero exit.
err="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --data-dir "$dir" 2>&1 >/dev/null)"
code=$?
[ "$code" -ne 0 ] || fail "started without a display"
[ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || fail "more than one line without a display: $err"
grep -q "display" <<<"$err" || fail "the line does not speak of the display: $err"
echo "ok"
