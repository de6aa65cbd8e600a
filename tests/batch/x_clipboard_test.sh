#!/usr/bin/env bash
# The real iitcalc under Xvfb with the real X clipboard: "批量" opens the batch window, a
# spreadsheet's rows put on the clipboard by another program (xclip) are pasted with Ctrl+V and
# computed, and "全选", "复制" put the sheet back on the clipboard for other programs.
# Exit 77 (skipped) when xvfb-run, xdotool or xclip is not installed.
set -uo pipefail
program="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

for tool in xvfb-run xdotool xclip; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done

out="$(xvfb-run -a -s "-screen 0 1100x800x24" bash -c '
    program="$0"; dir="$1"
    "$program" --data-dir "$dir" &
    pid=$!
    for i in $(seq 100); do xwininfo -root -tree 2>/dev/null | grep -q "375x532+50+50" && break; sleep 0.1; done
    # 批量 is at (250, 280) in the main window, 96 x 40.
    xdotool mousemove 348 364 click 1
    for i in $(seq 100); do xwininfo -root -tree 2>/dev/null | grep -q "943x632" && break; sleep 0.1; done
    sleep 0.5
    # A spreadsheet copies its rows with a line break after the last one.
    printf "张三\t110101199001011234\t8000\n李四\t\t12000\n" | xclip -selection clipboard -i
    sleep 0.3
    # Cell (1, 1): the grid at (11, 44) in the window, header row 50 high, column 0 45 wide.
    xdotool mousemove 146 156 click 1
    sleep 0.2
    xdotool key ctrl+v
    sleep 0.8
    # 全选 and 复制 on the side panel (the panel at (825, 7), the buttons at (18, 119) and (18, 157)).
    xdotool mousemove 909 191 click 1
    sleep 0.2
    xdotool mousemove 909 229 click 1
    sleep 0.5
    xclip -selection clipboard -o | head -4
    kill $pid
    wait $pid 2>/dev/null
    echo done' "$program" "$dir" 2>&1)"
echo "$out"
expected="$(printf '张三\t110101199001011234\t8000\t90\t7910\t\t\n李四\t\t12000\t490\t11510\t\t\n合计\t\t20000\t580\t19420\t\t\n\t\t\t\t\t\t')"
got="$(grep -v -e '^done$' -e 'XDG_RUNTIME_DIR' <<<"$out" | tr -d '\r')"
if [ "$got" != "$expected" ]; then
    echo "FAIL: the clipboard holds something else than the computed sheet"
    exit 1
fi
echo "ok"
