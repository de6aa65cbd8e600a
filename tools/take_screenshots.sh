#!/usr/bin/env bash
# Retakes the README's screenshots from the real program under Xvfb, so that they stay true:
# the main window with a result, the batch window with people pasted in and computed, the
# rate-table window, a printed page of the tax payment table (iitcalc-cli print, then
# pdftoppm), and the payroll ledger window with a month computed. Run after a build:
# tools/take_screenshots.sh [BUILD_DIR]  (default build/dev).
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
xdotool mousemove 348 304 click 1 # 计算
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
xdotool mousemove 348 443 click 1 # 税率表, at (250, 373) in the window, 96 x 40
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

# The payroll ledger window on a screen of its own, 1600 x 1000: twenty employees' January
# pasted, February and March brought forward with their incomes pasted, two bonuses and a new
# employee in March, a non-resident, January and February declared.
kill $xvfb 2>/dev/null
wait $xvfb 2>/dev/null || true
Xvfb "$display" -screen 0 1600x1000x24 >/dev/null 2>&1 &
xvfb=$!
sleep 1
xsetroot -solid '#e6e9ee'
ledger="$(mktemp -d)"
trap 'kill $xvfb 2>/dev/null; rm -rf "$data" "$ledger"' EXIT
"$build/app/iitcalc" --data-dir "$ledger" >/dev/null 2>&1 &
program=$!
wait_for "375x532+50+50"
sleep 0.5
xdotool mousemove 180 78 click 1
xdotool type --delay 20 "北京某某科技有限公司"
xdotool mousemove 348 396 click 1 # 工资台账, at (250, 326) in the window, 96 x 40
sleep 2
tap() { xdotool mousemove "$1" "$2" click 1; sleep 0.4; }
put() { xclip -selection clipboard -i; sleep 0.3; xdotool key ctrl+v; sleep 1; }
# The window at (20, 20): the year box, the months (53 pixels apart), 从上月带入 and 申报完成,
# and the grid's first row with the columns 姓名, 本月收入 and 全年一次性奖金.
month() { tap $((204 + ($1 - 1) * 53)) 47; }
row() { echo $((176 + ($1 - 1) * 24)); }
tap 115 47; xdotool key Up Return; sleep 0.5 # the year before
month 1
tap 112 "$(row 1)"
january="$(printf '%b\n' \
    "张伟\t110105197501011002\t22000\t\t2310\t1000\t200" \
    "王芳\t110105197602041075\t8500\t\t892\t\t" \
    "李娜\t110105197703071142\t22000\t\t2310\t4000\t" \
    "刘洋\t110105197804101216\t38000\t\t3990\t1000\t" \
    "陈静\t110105197905131289\t9800\t\t1029\t3000\t200" \
    "杨磊\t110105198006161358\t9800\t\t1029\t1000\t" \
    "赵敏\t110105198107191425\t38000\t\t3990\t3000\t" \
    "黄强\t110105198208221494\t45000\t\t4725\t\t" \
    "周婷\t110105198309251561\t45000\t\t4725\t\t200" \
    "吴刚\t110105198410281634\t8500\t\t892\t1000\t" \
    "徐丽\t110105198511031706\t38000\t\t3990\t1000\t" \
    "孙浩\t110105198612061779\t26500\t\t2782\t1000\t" \
    "胡杰\t110105198701091849\t45000\t\t4725\t2000\t" \
    "朱琳\t110105198802121912\t9800\t\t1029\t4000\t" \
    "高翔\t110105198903151985\t22000\t\t2310\t\t" \
    "林晓\t110105199004182053\t45000\t\t4725\t\t" \
    "何平\t110105199105212127\t31000\t\t3255\t1500\t200" \
    "郭斌\t11010519920624219X\t22000\t\t2310\t3000\t200" \
    "马超\t110105199307272267\t22000\t\t2310\t2000\t" \
    "罗兰\t110105199408022339\t12000\t\t1260\t1500\t")"
printf '%s\n' "$january" | put
for m in 2 3; do
    month $m
    tap 88 93
    xdotool key n # the incomes are pasted
    sleep 0.5
    tap 336 "$(row 1)"
    printf '%s\n' "$january" | awk -F'\t' -v m=$m '{ print $3 + (m - 1) * 300 }' | put
done
tap 680 "$(row 3)"; printf '36000\n' | put
tap 680 "$(row 8)"; printf '60000\n' | put
tap 112 "$(row 21)"
printf '沈若曦\t110105199508160034\t16000\t\t1680\t1500\t\t\t\t\t3月入职\n' | put
xdotool key Return # no opening balances
sleep 0.5
tap 112 "$(row 20)"; tap 1317 404 # a non-resident
for m in 1 2; do
    month $m
    tap 180 93
    xdotool key n # no declaration files first
    sleep 0.5
    xdotool key y # declared
    sleep 0.6
done
month 3
tap 112 "$(row 3)"
# 李娜's deductions item by item, pasted with their header as a spreadsheet gives them: the
# insurances of 8 %, 2 % and 0.5 %, a child and her parents.
printf '%b\n' "姓名\t身份证号\t本月收入\t基本养老保险费\t基本医疗保险费\t失业保险费\t子女教育\t赡养老人" \
    "李娜\t110105197703071142\t22600\t1760\t440\t110\t2000\t2000" | put
tap 112 "$(row 3)"
xdotool mousemove 900 980
sleep 0.8
grab ledger-window 20 20 1560 940
kill $program
wait $program 2>/dev/null || true

# March's pay slips and 李娜's year, printed from the same ledger by the command line.
year="$("$build/app/iitcalc-cli" --data-dir "$ledger" ledger people | awk -F'\t' 'NR == 2 { print $1 }')"
employer="北京某某科技有限公司"
if "$build/app/iitcalc-cli" --data-dir "$ledger" ledger slips "$year" 3 -o "$data/slips.pdf" \
    --employer "$employer" >/dev/null &&
    "$build/app/iitcalc-cli" --data-dir "$ledger" ledger statement "$year" 110105197703071142 \
        -o "$data/year.pdf" --employer "$employer" >/dev/null; then
    pdftoppm -png -r 80 -f 1 -l 1 -singlefile "$data/slips.pdf" "$out/pay-slips"
    pdftoppm -png -r 80 -f 1 -l 1 -singlefile "$data/year.pdf" "$out/employee-year"
    echo "wrote $out/pay-slips.png and $out/employee-year.png"
else
    echo "iitcalc-cli cannot print the ledger's pages: no slips or year" >&2
fi
