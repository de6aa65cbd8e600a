#!/usr/bin/env bash
# Starts the real iitcalc under Xvfb with an accessibility bus, reads it through the bus as a
# screen reader does (atspi_client.py) and checks that it keeps running.
# Exit 77 (skipped) when Xvfb, D-Bus, the AT-SPI bus launcher, xdotool or the Python AT-SPI
# bindings are not installed.
set -uo pipefail
program="$1"
here="$(cd "$(dirname "$0")" && pwd)"
launcher=/usr/libexec/at-spi-bus-launcher
python=/usr/bin/python3

skip() { echo "$*: skipped"; exit 77; }
command -v Xvfb >/dev/null 2>&1 || skip "Xvfb is not installed"
command -v dbus-run-session >/dev/null 2>&1 || skip "dbus-run-session is not installed"
command -v xdotool >/dev/null 2>&1 || skip "xdotool is not installed"
[ -x "$launcher" ] || skip "at-spi-bus-launcher is not installed"
"$python" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' \
    2>/dev/null || skip "the Python AT-SPI bindings are not installed"

dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

# Inside its own session bus: a display, the accessibility bus, the program, the client.
dbus-run-session -- bash -c '
    program="$1"; client="$2"; data="$3"; launcher="$4"; python="$5"
    display=""
    for n in $(seq 90 130); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
    done
    [ -n "$display" ] || { echo "FAIL: no free display"; exit 1; }
    Xvfb "$display" -screen 0 800x700x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY="$display"
    for i in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
    "$launcher" --launch-immediately >/dev/null 2>&1 &
    bus=$!
    sleep 0.5
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$program" --data-dir "$data" >"$data/program.log" 2>&1 &
    pid=$!
    timeout 90 "$python" "$client" "$pid"
    result=$?
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"; wait "$pid" 2>/dev/null
    else
        wait "$pid"; echo "the program ended with $?"; result=1
    fi
    kill "$bus" "$xvfb" 2>/dev/null
    wait "$bus" "$xvfb" 2>/dev/null
    exit $result' \
    bash "$program" "$here/atspi_client.py" "$dir" "$launcher" "$python" 2>&1 |
    grep -v "Failed to set fd limit\|XDG_RUNTIME_DIR\|dbus-daemon\|SpiRegistry"
exit "${PIPESTATUS[0]}"
