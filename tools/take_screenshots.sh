#!/usr/bin/env bash
# Retakes the README's screenshots from the real program under Xvfb, so that they stay true:
# the main window with a result, the batch window with people pasted in and computed, the
# rate-table window, and a printed page of the tax payment table (iitcalc-cli print, then
# pdftoppm). Run after a build:  tools/take_screenshots.sh [BUILD_DIR]  (default build/dev).
# Needs Xvfb, xdotool, xclip, xsetroot (x11-xserver-utils), ImageMagick and poppler-utils.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/dev}" && pwd)"
out="$root/docs/screenshots"
data="$(mktemp -d)"
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1100x760x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$data"' EXIT
export DISPLAY="$display"
sleep 1
xsetroot -solid '#e6e9ee'

grab() { # NAME X Y W H
    import -window root -crop "${4}x${5}+${2}+${3}" +repage "$out/$1.png"
    echo "wrote $out/$1.png"
}
wait_for() { # GEOMETRY
    for _ in $(seq 100); do xwininfo -root -tree 2>/dev/null | grep -q "$1" && return 0; sleep 0.1; done
    echo "no window $1" >&2
    return 1
}

"$build/app/iitcalc" --data-dir "$data" >/dev/null 2>&1 &
program=$!
wait_for "375x532+50+50"
sleep 0.5
# The employer box (23, 16), then 8000 with the keypad and 计算.
xdotool mousemove 180 78 click 1
xdotool type --delay 20 "北京某某科技有限公司"
# The keys 8 at (82, 290) and 0 at (26, 458) in the window, 48 x 48.
for key in "156 364" "100 532" "100 532" "100 532"; do
    xdotool mousemove $key click 1
done
xdotool mousemove 348 308 click 1 # 计算
sleep 0.8
grab main-window 40 40 395 552

# The batch window with people from a spreadsheet.
xdotool mousemove 348 364 click 1
wait_for "943x632"
sleep 0.5
printf '%s\n' \
    "张伟	110105198503124515	8000			6222021001123456789	" \
    "王芳	310104199011072427	12500			6228480012345678912	" \
    "李娜	440106198807153326	6800			6217000010012345678	" \
    "刘洋	320102197912306614	25000			6222021001198765432	部门经理" \
    "陈静	510104199505201847	4800			6228480019876543210	试用期" \
    "杨磊	420106198602188839	15000			6217000010098765432	" \
    "赵敏	330106199203046625	9600.5			6222021001134567890	" \
    "黄强	370102198108259152	32000			6228480011234567890	" \
    "周婷	210102199607142262	5000			6217000010023456789	" \
    "吴刚	500103198412093370	18800			6222021001145678901	含加班费" |
    xclip -selection clipboard -i
xdotool mousemove 146 156 click 1
xdotool key ctrl+v
sleep 0.8
xdotool mousemove 146 420 click 1
sleep 0.3
grab batch-window 50 50 943 632
xdotool key --window "$(xdotool search --name '批量计算' | head -1)" Escape
kill $program
wait $program 2>/dev/null || true

# The rate-table window, in a program of its own.
"$build/app/iitcalc" --data-dir "$data" >/dev/null 2>&1 &
program=$!
wait_for "375x532+50+50"
sleep 0.5
xdotool mousemove 348 420 click 1
wait_for "529x529"
sleep 0.8
grab rate-table-window 50 50 529 529
kill $program
wait $program 2>/dev/null || true

# A printed page: the same people through the command line.
people="$data/people.tsv"
xclip -selection clipboard -o >"$people"
if "$build/app/iitcalc-cli" --data-dir "$data" print "$people" -o "$data/table.pdf" \
    --employer "北京某某科技有限公司" 2>/dev/null; then
    pdftoppm -png -r 80 -f 1 -l 1 -singlefile "$data/table.pdf" "$out/printed-page"
    echo "wrote $out/printed-page.png"
else
    echo "iitcalc-cli print is not available: no printed page" >&2
fi
