#!/usr/bin/env bash
# Renders both manual pages with man as lintian does and checks that groff and man say nothing,
# that the usual sections are there, and that the pages keep up with the programs: every option
# of both programs' --help, every command of iitcalc-cli --help with the options of its usage
# line, and every file of the data directory. Exit 77 (skipped) when man is not installed.
#   man_test.sh GUI_PAGE CLI_PAGE GUI_PROGRAM CLI_PROGRAM
set -uo pipefail
gui_page="$1"
cli_page="$2"
gui="$3"
cli="$4"
command -v man >/dev/null 2>&1 || { echo "man is not installed: skipped"; exit 77; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

render() { # PAGE OUT: the page as a terminal shows it; groff's warnings go to OUT.err
    LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 "$1" \
        2>"$2.err" | sed 's/.\x08//g' >"$2"
}
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
render "$gui_page" "$out/gui"
render "$cli_page" "$out/cli"
for page in gui cli; do
    if [ -s "$out/$page.err" ]; then
        cat "$out/$page.err"
        fail "man reports warnings for the $page page"
    fi
done

# Words of a page, hyphenation at line ends undone, so that an option split over two lines
# is still found.
for page in gui cli; do
    sed -e ':a' -e '/[-‐]$/{N;s/[-‐]\n *//;ba' -e '}' "$out/$page" | tr -s ' \t' '\n' >"$out/$page.words"
done
mentions() { # PAGE WORD
    grep -qF -- "$2" "$out/$1.words" || fail "the $1 page does not mention $2"
}

for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" ENVIRONMENT FILES EXAMPLES "SEE ALSO"; do
    for page in gui cli; do
        grep -q "^$section\$" "$out/$page" || fail "the $page page has no section $section"
    done
done
grep -q "^OPTIONS\$" "$out/gui" || fail "the gui page has no section OPTIONS"
grep -q "^COMMANDS\$" "$out/cli" || fail "the cli page has no section COMMANDS"

# Every option the programs accept, as their help lists it.
for option in $("$gui" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    mentions gui "$option"
done
for option in $("$cli" --help | sed '/^commands:/,$d' | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    mentions cli "$option"
done
# Every command, with each option of its usage line in the command's own entry.
commands="$("$cli" --help | sed -n '/^commands:/,$p' | sed 1d | awk '{print $1}')"
[ -n "$commands" ] || fail "iitcalc-cli --help lists no commands"
for command in $commands; do
    usage="$("$cli" "$command" --help)"
    entry="$(awk -v c="$command" '
        /^COMMANDS$/ { inside = 1; next }
        /^[A-Z]/ { inside = 0 }
        inside && $0 ~ "^       " c " " { found = 1; print; next }
        inside && found && /^       [a-z]/ { found = 0 }
        inside && found { print }' "$out/cli")"
    [ -n "$entry" ] || { fail "the cli page has no entry for the command $command"; continue; }
    for option in $(grep -oE -- ' -[a-z]\b| --[a-z][a-z-]*' <<<"$usage" | sort -u); do
        grep -qF -- "$option" <<<"$entry" || fail "the entry of $command does not mention $option"
    done
done

# The data directory and its files, in both pages.
for page in gui cli; do
    for file in '~/.local/share/iitcalc' '$XDG_DATA_HOME/iitcalc' 设置税率表A.dat print.dbf \
        configJS.inf config.inf 个人所得税扣税表.dat; do
        mentions "$page" "$file"
    done
done
# Exit codes 0, 1 and 2 of both programs.
for page in gui cli; do
    for code in 0 1 2; do
        status="$(sed -n '/^EXIT STATUS$/,/^[A-Z]/p' "$out/$page")"
        grep -qE "^       $code( |$)" <<<"$status" ||
            fail "the $page page does not document exit status $code"
    done
done

[ "$failures" -eq 0 ] || exit 1
echo "ok"
