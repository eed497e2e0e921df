#!/bin/sh
# Renders what a user sees of the front end to PNG files: the main window in English and
# in Chinese, and the tray menu opened in each language. Usage:
#
#     ./scripts/render-pictures.sh [FOLDER]      (default: docs)
#
# Writes FOLDER/mainui_en.png, mainui_zh.png, tray_menu_en.png and tray_menu_zh.png, and
# the new-profile dialog on its three pages: profile_ssl_*.png, profile_ipsec_*.png and
# profile_import_*.png (en and zh).
#
# The runnable tree in build/bin is built first when needed (output in
# build/render-build.log, shown only on failure). Everything runs on a private virtual
# display (Xvfb) with trayer as tray host, never on the caller's desktop, so the pictures
# do not depend on anyone's theme. HOME, TMPDIR and XDG_CONFIG_HOME point at a fresh
# temporary folder, so the front end, and the simulator it starts as its service, write
# nothing into the real home.
#
# The language is the one stored in the service's configuration, as a user who chose it
# in the options would have it; "Office" is the last used connection, as after a
# login. Both are set through the simulator's scenario file, which the front end's
# service inherits through the environment.
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"

out="${1:-docs}"
case "$out" in
    /*) ;;
    *) out="$root/$out" ;;
esac
mkdir -p "$out"

./scripts/install-deps.sh >/dev/null

mkdir -p build
log=build/render-build.log
if ! { cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_TESTS=OFF &&
       cmake --build build -j "$(nproc)"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "render: the build failed; its output is above and in $log" >&2
    exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/vt-render-XXXXXX")"
xvfb=""
tray=""
app=""

# Stops the front end and the service it started (its child), waiting for both.
stop_app() {
    if [ -n "$app" ]; then
        pkill -TERM -P "$app" 2>/dev/null || true
        kill "$app" 2>/dev/null || true
        wait "$app" 2>/dev/null || true
        app=""
    fi
}
cleanup() {
    stop_app
    [ -n "$tray" ] && kill "$tray" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
    echo "render: $*" >&2
    exit 1
}

# The service's port is fixed; another run of the front end or the simulator may hold it
# for a while.
port_busy() {
    ss -ltnH 'sport = :29191' 2>/dev/null | grep -q .
}
wait_port_free() {
    i=0
    while port_busy; do
        i=$((i + 1))
        [ "$i" -le 600 ] || fail "port 29191 stays taken (ss -ltnp | grep 29191 shows by whom)"
        sleep 0.1
    done
}

. ./scripts/virtual-display.sh
start_virtual_display render || exit 1

# The visible windows of the front end, one "id x y width height" line each.
app_windows() {
    for w in $(xdotool search --onlyvisible --pid "$app" 2>/dev/null); do
        # A window may go between the search and this question: it is then skipped.
        X="" Y="" WIDTH="" HEIGHT=""
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
        [ -n "$HEIGHT" ] && echo "$w $X $Y $WIDTH $HEIGHT"
    done
}

# Waits up to 30 s for a visible window of the front end that satisfies the awk test.
wait_window() {
    i=0
    while :; do
        found="$(app_windows | awk "$1" | head -n 1)"
        [ -n "$found" ] && { echo "$found"; return 0; }
        i=$((i + 1))
        [ "$i" -le 300 ] && kill -0 "$app" 2>/dev/null || return 1
        sleep 0.1
    done
}

# render LANG_ID SUFFIX: one run of the front end in that stored language.
render() {
    lang_id=$1
    suffix=$2
    home="$work/home-$suffix"
    mkdir -p "$home/tmp" "$home/run"
    chmod 700 "$home/run"
    printf '{"config": {"LanguageID": %s, "LastAccessSession": "Office.ini"}}\n' "$lang_id" \
        >"$home/scenario.json"

    wait_port_free
    (
        cd build/bin
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec ./VanTrelo
    ) >"$home/output.log" 2>&1 &
    app=$!

    main="$(wait_window '$4 == 400 && $5 == 270')" ||
        { cat "$home/output.log" >&2; fail "the main window ($suffix) did not show"; }
    icon="$(wait_window '$4 < 64 && $5 < 64')" ||
        fail "no tray icon ($suffix): is trayer running?"
    sleep 1  # let the window and the icon paint
    set -- $main
    import -display "$DISPLAY" -window "$1" "$out/mainui_$suffix.png" ||
        fail "no picture of the main window ($suffix)"

    # The context menu opens at the pointer on a right click on the tray icon: clicked
    # near the icon's lower edge, the menu leaves the icon in sight.
    set -- $icon
    ix=$2 iy=$3 iw=$4 ih=$5
    xdotool mousemove $((ix + iw / 2)) $((iy + ih - 2)) click 3
    menu="$(wait_window '$4 >= 64 && !($4 == 400 && $5 == 270)')" ||
        fail "the tray menu ($suffix) did not open"
    sleep 0.5
    set -- $menu
    mx=$2 my=$3 mw=$4 mh=$5
    # The menu and the icon it belongs to, with a small margin, inside the screen.
    x0=$(( (mx < ix ? mx : ix) - 8 ))
    y0=$(( (my < iy ? my : iy) - 8 ))
    x1=$(( (mx + mw > ix + iw ? mx + mw : ix + iw) + 8 ))
    y1=$(( (my + mh > iy + ih ? my + mh : iy + ih) + 8 ))
    [ "$x0" -ge 0 ] || x0=0
    [ "$y0" -ge 0 ] || y0=0
    [ "$x1" -le 1280 ] || x1=1280
    [ "$y1" -le 800 ] || y1=800
    import -display "$DISPLAY" -window root \
           -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$out/tray_menu_$suffix.png" ||
        fail "no picture of the tray menu ($suffix)"
    xdotool key Escape

    stop_app
    echo "render: $out/mainui_$suffix.png and $out/tray_menu_$suffix.png"
}

# render_profile LANG_ID SUFFIX: the new-profile dialog on its SSL VPN, import and
# L2TP/IPSec pages, opened from the main window's gear button as a user opens it. The
# service holds no profile, so the gear opens a new one.
render_profile() {
    lang_id=$1
    suffix=$2
    home="$work/profile-$suffix"
    mkdir -p "$home/tmp" "$home/run"
    chmod 700 "$home/run"
    printf '{"config": {"LanguageID": %s, "LastAccessSession": ""}, "profiles": []}\n' \
        "$lang_id" >"$home/scenario.json"

    wait_port_free
    (
        cd build/bin
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec ./VanTrelo
    ) >"$home/output.log" 2>&1 &
    app=$!

    main="$(wait_window '$4 == 400 && $5 == 270')" ||
        { cat "$home/output.log" >&2; fail "the main window ($suffix) did not show"; }
    sleep 1
    set -- $main
    # The gear button sits at the right end of the connection row.
    xdotool mousemove --window "$1" 352 146 click 1
    dialog="$(wait_window '$4 == 600 && $5 == 570')" ||
        fail "the profile dialog ($suffix) did not open"
    sleep 1
    set -- $dialog
    id=$1
    import -display "$DISPLAY" -window "$id" "$out/profile_ssl_$suffix.png" ||
        fail "no picture of the profile dialog ($suffix)"
    # The menu's entries are 49 pixels tall under the 70-pixel banner: SSL VPN, then
    # L2TP/IPSec, then import (the L2TP/IPSec sub-menu opens below its entry).
    xdotool mousemove --window "$id" 70 192 click 1
    sleep 0.5
    import -display "$DISPLAY" -window "$id" "$out/profile_import_$suffix.png" ||
        fail "no picture of the import page ($suffix)"
    xdotool mousemove --window "$id" 70 143 click 1
    sleep 0.5
    import -display "$DISPLAY" -window "$id" "$out/profile_ipsec_$suffix.png" ||
        fail "no picture of the L2TP/IPSec page ($suffix)"

    stop_app
    echo "render: $out/profile_ssl_$suffix.png, profile_import_$suffix.png and" \
         "profile_ipsec_$suffix.png"
}

render 1033 en
render 2052 zh
render_profile 1033 en
render_profile 2052 zh
