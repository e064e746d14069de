#!/usr/bin/env bash
# Checks the Debian package as a user of the machine meets it: builds it (cpack -G DEB), runs
# lintian on it (an error or a warning fails the check), installs it with dpkg -i, lets an
# ordinary user make a database with tesmoctl and start Tesmo under Xvfb from /usr/bin/tesmo
# and from the menu entry's command, then removes it with dpkg -r and looks for anything left
# behind. Needs root; takes a few minutes. Not part of ./test.
#
#   scripts/check-deb.sh [PACKAGE.deb]      (default: build one in build/)
#
# Screenshots of the two starts go to $TESMO_CHECK_OUT (default: a temporary folder).
set -euo pipefail
source "$(dirname "$0")/common.sh"

[ "$(id -u)" -eq 0 ] || { echo "check-deb: run as root (dpkg -i / dpkg -r)" >&2; exit 2; }
if dpkg-query -W -f='${Status}' tesmo 2>/dev/null | grep -q "install ok installed"; then
    echo "check-deb: the package tesmo is installed already; remove it first" >&2
    exit 2
fi

DEB="${1:-}"
install_missing "${TESMO_DEB_CHECK_PACKAGES[@]}"
if [ -z "$DEB" ]; then
    build_all
    (cd "$TESMO_BUILD" && cpack -G DEB >/dev/null)
    DEB="$(ls "$TESMO_BUILD"/tesmo_*_amd64.deb)"
fi
OUT="${TESMO_CHECK_OUT:-$(mktemp -d /tmp/tesmo-deb-check-XXXXXX)}"
mkdir -p "$OUT"
USER_NAME=tesmo-check
CREATED_USER=0
fail() { echo "check-deb: FAILED: $*" >&2; exit 1; }
step() { echo "== $*"; }

cleanup() {
    dpkg-query -W -f='${Status}' tesmo 2>/dev/null | grep -q "install ok installed" &&
        dpkg -r tesmo >/dev/null 2>&1
    [ "$CREATED_USER" -eq 1 ] && userdel -r "$USER_NAME" >/dev/null 2>&1
    return 0
}
trap cleanup EXIT

step "Package $(basename "$DEB")"
dpkg-deb -f "$DEB" Package Version Architecture Depends

# The informational, pedantic and experimental tags are shown but do not fail: they name
# choices of this package (the programs and the help page in their own folder below /usr/lib),
# hardening flags the build does not ask for (bindnow, fortified functions) and words that
# lintian's speller finds in machine code.
step "lintian"
lintian --fail-on error,warning --display-info --pedantic "$DEB" ||
    fail "lintian found an error or a warning"

step "Run-time dependencies (apt-get satisfy)"
DEBIAN_FRONTEND=noninteractive apt-get satisfy -y -qq --no-install-recommends \
    "$(dpkg-deb -f "$DEB" Depends)" >/dev/null

step "dpkg -i"
dpkg -i "$DEB"
for f in /usr/bin/tesmo /usr/bin/tesmoctl /usr/lib/tesmo/Tesmo /usr/lib/tesmo/template/tesmo.mdb \
    /usr/share/applications/example.tesmo.Tesmo.desktop; do
    [ -e "$f" ] || fail "$f is missing"
done
DESKTOP="$(dpkg -L tesmo | grep '^/usr/share/applications/.*\.desktop$')"
desktop-file-validate "$DESKTOP" || fail "desktop-file-validate $DESKTOP"
appstreamcli validate --no-net "$(dpkg -L tesmo | grep '^/usr/share/metainfo/')" >/dev/null ||
    fail "appstreamcli validate"
MENU_COMMAND="$(sed -n 's/^Exec=//p' "$DESKTOP")"
echo "menu command: $MENU_COMMAND"

step "An ordinary user: $USER_NAME"
if ! id "$USER_NAME" >/dev/null 2>&1; then
    useradd --create-home --shell /bin/bash "$USER_NAME"
    CREATED_USER=1
fi
HOME_DIR="$(getent passwd "$USER_NAME" | cut -d: -f6)"
as_user() {
    runuser -u "$USER_NAME" -- env -i HOME="$HOME_DIR" USER="$USER_NAME" LANG=C.UTF-8 \
        PATH=/usr/bin:/bin "$@"
}

step "tesmoctl new-db in a temporary folder"
WORK="$(as_user mktemp -d /tmp/tesmo-user-XXXXXX)"
as_user tesmoctl new-db "$WORK/x.mdb"
as_user tesmoctl sql "$WORK/x.mdb" "select pID, pINT from T_config"
as_user tesmoctl paths | tee "$OUT/paths.txt"
grep -qx "mdbpath	$HOME_DIR/.local/share/tesmo/tesmo.mdb" "$OUT/paths.txt" ||
    fail "the user's database is not under ~/.local/share/tesmo"

# Starts Tesmo with a command for a few seconds under Xvfb; it must still run then, and a
# screenshot shows what it showed. It must then end on SIGTERM, as at the end of a session;
# one that does not within 10 s is killed, so that the check reports it instead of hanging.
start_tesmo() {
    local name="$1" result
    shift
    result="$(as_user xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        "$@" >/tmp/tesmo-check-$$.log 2>&1 &
        pid=$!
        sleep 6
        command -v import >/dev/null && import -window root "'"$WORK/$name.png"'"
        kill -0 $pid 2>/dev/null || exit 0
        echo running
        kill $pid
        for _ in $(seq 100); do kill -0 $pid 2>/dev/null || exit 0; sleep 0.1; done
        kill -KILL $pid
        echo "kept running after SIGTERM"
        ' starter "$@")"
    [ -f "$WORK/$name.png" ] && cp "$WORK/$name.png" "$OUT/$name.png"
    grep -qx running <<<"$result" || fail "Tesmo ($*) did not keep running"
    ! grep -qx "kept running after SIGTERM" <<<"$result" ||
        fail "Tesmo ($*) did not end within 10 s of SIGTERM (screenshot: $OUT/$name.png)"
    echo "Tesmo ran from $*"
}

step "Tesmo from /usr/bin/tesmo"
start_tesmo usr-bin-tesmo /usr/bin/tesmo
[ -f "$HOME_DIR/.local/share/tesmo/tesmo.mdb" ] ||
    fail "no database in $HOME_DIR/.local/share/tesmo after the first start"
as_user tesmoctl sql "$HOME_DIR/.local/share/tesmo/tesmo.mdb" "select count(*) from T_CONFIG"

step "Tesmo from the menu entry's command"
# shellcheck disable=SC2086 # the Exec line is a command with its words
start_tesmo menu-entry $MENU_COMMAND

step "The program folder is as the package installed it"
dpkg --verify tesmo || fail "dpkg --verify tesmo"
ls -A /usr/lib/tesmo

step "dpkg -r"
dpkg -r tesmo
[ ! -e /usr/lib/tesmo ] || fail "/usr/lib/tesmo is left: $(ls -A /usr/lib/tesmo)"
for f in /usr/bin/tesmo /usr/bin/tesmoctl "$DESKTOP"; do
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is left"
done
[ -f "$HOME_DIR/.local/share/tesmo/tesmo.mdb" ] || fail "the user's database went with the package"
rm -rf "$WORK"

echo "check-deb: OK ($(basename "$DEB")); screenshots in $OUT"
