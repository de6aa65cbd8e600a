#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop installation needs: the
# file list, programs that run from the prefix (iitcalc-cli with its print program), icons of
# the sizes their folders name, a desktop entry whose program and icon are installed, AppStream
# metadata that launches that entry and provides both programs, and (with appstreamcli) a tree
# that validates as a whole.
#   install_test.sh CMAKE BUILD_DIR VERSION
set -uo pipefail
cmake="$1"
build="$2"
version="$3"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
id=io.github.iitcalc.iitcalc
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! out="$("$cmake" --install "$build" --prefix "$prefix" 2>&1)"; then
    echo "$out"
    echo "FAIL: cmake --install"
    exit 1
fi

expected="bin/iitcalc
bin/iitcalc-cli
libexec/iitcalc/iitcalc-cli-print
share/applications/$id.desktop
share/doc/iitcalc/changelog.gz
share/doc/iitcalc/copyright
share/icons/hicolor/128x128/apps/$id.png
share/icons/hicolor/256x256/apps/$id.png
share/icons/hicolor/48x48/apps/$id.png
share/icons/hicolor/64x64/apps/$id.png
share/icons/hicolor/scalable/apps/$id.svg
share/man/man1/iitcalc-cli.1.gz
share/man/man1/iitcalc.1.gz
share/metainfo/$id.metainfo.xml"
actual="$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)"
if [ "$actual" != "$expected" ]; then
    fail "installed files differ from the expected list:"
    diff <(echo "$expected") <(echo "$actual")
fi

# The programs run from the prefix and report the project's version.
for program in iitcalc iitcalc-cli; do
    [ -x "$prefix/bin/$program" ] || { fail "bin/$program is not executable"; continue; }
    got="$("$prefix/bin/$program" --version 2>&1)"
    [ "$got" = "$program $version" ] || fail "bin/$program --version says '$got'"
done

# iitcalc-cli finds its print program where it is installed, and the PDF is drawn without
# a display.
work="$(mktemp -d)"
trap 'rm -rf "$prefix" "$work"' EXIT
if ! printf '张三\t\t8000\n' | env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/iitcalc-cli" \
    --data-dir "$work/data" print - -o "$work/t.pdf" >"$work/out" 2>&1; then
    cat "$work/out"
    fail "bin/iitcalc-cli print does not run from the prefix"
elif [ "$(head -c 5 "$work/t.pdf")" != "%PDF-" ]; then
    fail "bin/iitcalc-cli print wrote no PDF"
fi

# Each PNG is square with the size of its folder (width and height from the IHDR chunk).
for size in 48 64 128 256; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
    [ -f "$png" ] || continue
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
        { fail "$png is not a PNG"; continue; }
    dims="$(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')"
    [ "$dims" = "${size}x${size}" ] || fail "$png is $dims"
done

# The desktop entry names an installed program and an installed icon; the metainfo launches
# that entry and provides both programs.
desktop="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
if [ -f "$desktop" ]; then
    exec_program="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
    [ -x "$prefix/bin/$exec_program" ] || fail "Exec=$exec_program is not an installed program"
    icon="$(sed -n 's/^Icon=//p' "$desktop")"
    [ "$icon" = "$id" ] || fail "Icon=$icon is not the application id $id"
    [ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
fi
if [ -f "$metainfo" ]; then
    grep -q "<id>$id</id>" "$metainfo" || fail "the metainfo's id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "the metainfo does not launch $id.desktop"
    for binary in $(sed -n 's|.*<binary>\(.*\)</binary>.*|\1|p' "$metainfo"); do
        [ -x "$prefix/bin/$binary" ] || fail "the metainfo provides $binary, which is not installed"
    done
    grep -q "<binary>iitcalc-cli</binary>" "$metainfo" || fail "the metainfo does not provide iitcalc-cli"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "no release entry for $version"
fi

for page in "$prefix"/share/man/man1/*.gz "$prefix/share/doc/iitcalc/changelog.gz"; do
    gzip -t "$page" 2>/dev/null || fail "$page is not a valid gzip file"
done
first="$(zcat "$prefix/share/doc/iitcalc/changelog.gz" 2>/dev/null | sed -n 1p)"
[[ "$first" == "iitcalc ($version) "* ]] || fail "the changelog does not start with version $version"

if command -v appstreamcli >/dev/null 2>&1; then
    report="$(appstreamcli validate-tree --no-net "$prefix" 2>&1)" || fail "appstreamcli validate-tree:"
    if grep -qE '^[EW]:' <<<"$report" || ! grep -q "successful" <<<"$report"; then
        echo "$report"
        fail "the installed tree does not validate cleanly"
    fi
else
    echo "appstreamcli is not installed: the tree was not validated"
fi

[ "$failures" -eq 0 ] || exit 1
echo "ok"
