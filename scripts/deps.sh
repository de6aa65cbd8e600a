# Installs the Debian packages the build and the tests need, when any is missing.
# Sourced by scripts/run and scripts/test: iit_install_deps PACKAGE...
iit_install_deps() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
            echo "error: missing packages (${missing[*]}) and no sudo to install them" >&2
            return 1
        fi
    fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building the programs needs (libgmp-dev: exact rationals for the rare amount that does not
# fit 128 bits; libsqlite3-dev: the payroll ledger's database file).
# Qt's platform plugins (xcb, wayland, offscreen), the Noto CJK fonts the windows use (with the
# Hanazono fonts for the rare characters of names beyond them, CJK extensions B to F) and the
# Chinese texts of Qt's own dialogs;
# rsvg-convert (librsvg2-bin) renders the icon's fixed sizes from its SVG; libxcb1-dev lets the
# shaped main window ask the X server whether a compositing manager runs.
# The spreadsheet files (sheets/): libxlsxwriter writes .xlsx, minizip (with zlib) and expat read
# it, FreeXL reads .xls. libpq (libpq-dev) is the client of the server ledger (PostgreSQL).
IIT_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config libssl-dev libgmp-dev
                    libsqlite3-dev qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev fonts-noto-cjk
                    fonts-hanazono qt6-translations-l10n
                    librsvg2-bin libxcb1-dev
                    libxlsxwriter-dev libminizip-dev zlib1g-dev libexpat1-dev libfreexl-dev
                    libpq-dev)
# What the tests and benchmarks add.
# xvfb-run starts the real program in the smoke test, xwininfo (x11-utils) finds its window;
# poppler-utils (pdfinfo, pdftotext, pdffonts) reads back the printed PDF; xclip and xdotool
# drive the real program and its X clipboard; the packaging tests validate the desktop entry
# and the AppStream file and render the manual pages; the accessibility test reads the real
# program over an AT-SPI bus (at-spi2-core, dbus) as a screen reader does (python3-gi with
# gir1.2-atspi-2.0); python3-openpyxl checks the .xlsx files the sheets module writes and
# writes one it reads. The server ledger's tests start a throwaway PostgreSQL server
# (postgresql: initdb, pg_ctl).
IIT_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth x11-utils clang
                   libclang-rt-14-dev poppler-utils xclip xdotool desktop-file-utils appstream man-db
                   groff-base at-spi2-core dbus python3-gi gir1.2-atspi-2.0 python3-openpyxl
                   postgresql)
# What scripts/package adds: dpkg-shlibdeps (dpkg-dev) and file, which CPack uses to find the
# libraries the programs need.
IIT_PACKAGE_PACKAGES=(dpkg-dev file)
