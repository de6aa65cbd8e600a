#!/usr/bin/env bash
# The real iitcalc under Xvfb with the real X clipboard: "工资台账" opens the ledger window on
# the month to work on with the focus on the first 姓名 cell, a month's rows put on the clipboard
# by another program (xclip) are pasted with Ctrl+V, and the ledger file holds them computed.
# Exit 77 (skipped) when xvfb-run, xdotool, xclip or python3 is not installed.
set -uo pipefail
program="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

for tool in xvfb-run xdotool xclip python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done

xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    program="$0"; dir="$1"
    "$program" --data-dir "$dir" &
    pid=$!
    for i in $(seq 100); do xwininfo -root -tree 2>/dev/null | grep -q "375x532+50+50" && break; sleep 0.1; done
    # 工资台账 is at (250, 326) in the main window, 96 x 40.
    xdotool mousemove 348 396 click 1
    for i in $(seq 100); do wid="$(xdotool search --name "^工资台账$" 2>/dev/null | head -1)"; [ -n "$wid" ] && break; sleep 0.1; done
    sleep 0.8
    # A spreadsheet copies its rows with a line break after the last one.
    printf "甲\t110101199001011237\t20000\t\t2000\n乙\t110101199002021231\t9000\n" | xclip -selection clipboard -i
    sleep 0.3
    xdotool windowfocus "$wid" 2>/dev/null
    xdotool key ctrl+v
    sleep 1.5
    kill $pid
    wait $pid 2>/dev/null
    echo done' "$program" "$dir" 2>&1 | grep -v XDG_RUNTIME_DIR

python3 - "$dir/工资台账.db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
rows = db.execute("SELECT e.name, e.id_number, x.income, x.withholding, x.after_tax FROM employee e "
                  "JOIN entry x ON x.employee = e.id ORDER BY e.id").fetchall()
print(rows)
# 甲: (20,000 − 5,000 − 2,000) × 3 % = 390; 乙: (9,000 − 5,000) × 3 % = 120 (in fen).
expected = [("甲", "110101199001011237", 2000000, 39000, 1761000),
            ("乙", "110101199002021231", 900000, 12000, 888000)]
if rows != expected:
    print("FAIL: the ledger holds something else than the pasted month, computed")
    sys.exit(1)
print("ok")
PY
