#!/bin/sh
# Renders what a user sees of the front end to PNG files: the main window in English and
# in Chinese, and the tray menu opened in each language. Usage:
#
#     ./scripts/render-pictures.sh [FOLDER]      (default: docs)
#
# Writes FOLDER/mainui_en.png, mainui_zh.png, tray_menu_en.png and tray_menu_zh.png, and
# the SSL login view after Connect on "Office": login_en.png and login_zh.png (the user
# name page), login_cert_en.png and login_cert_zh.png (the certificate page),
# login_gateways_en.png and login_gateways_zh.png (the gateway list open, on a profile
# without automatic choice).
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

# ---- The SSL login view ---------------------------------------------------------------

# login_run LANG_ID NAME ENGINE PROFILES: starts the front end over a scenario in that
# stored language with "Office" last used (ENGINE and PROFILES: members added to the
# scenario's "engine" and the whole "profiles" member, or empty), clicks the window's
# Connect button and leaves the login view's "id x y width height" in $login.
login_run() {
    home="$work/home-login-$2"
    mkdir -p "$home/tmp" "$home/run"
    chmod 700 "$home/run"
    extra=""
    [ -n "$4" ] && extra=", \"profiles\": $4"
    printf '{"config": {"LanguageID": %s, "LastAccessSession": "Office.ini"}, "engine": {%s}%s}\n' \
        "$1" "$3" "$extra" >"$home/scenario.json"
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
        { cat "$home/output.log" >&2; fail "the main window ($2) did not show"; }
    set -- $main
    # The Connect button sits below the drop-down, in the middle of the window.
    xdotool mousemove --sync --window "$1" 200 195 click 1
    login="$(wait_window '$4 == 461 && $5 == 348')" ||
        { cat "$home/output.log" >&2; fail "the login view ($2) did not show"; }
    sleep 1  # let it paint
}

# render_login LANG_ID SUFFIX: the view's three pictures in that language.
render_login() {
    login_run "$1" "$2" "" ""
    set -- $login "$1" "$2"
    import -display "$DISPLAY" -window "$1" "$out/login_$7.png" ||
        fail "no picture of the login view ($7)"
    stop_app
    lang_id=$6
    suffix=$7

    login_run "$lang_id" "cert-$suffix" '"authType": 2' ""
    set -- $login
    import -display "$DISPLAY" -window "$1" "$out/login_cert_$suffix.png" ||
        fail "no picture of the certificate page ($suffix)"
    stop_app

    # "Office" as a user who picks the gateway has it: the list open under the drop-down.
    login_run "$lang_id" "gateways-$suffix" "" '[{"name": "Office.ini", "linkType": 1,
        "fields": {"acGatewayAddress": "192.0.2.10", "uiPort": 443, "uiTunnelMode": 2,
                   "uiAutoBest": 0, "uiGatewayNum": 2, "uiDefaultGateway": 0,
                   "astGateway": [{"acAddress": "192.0.2.10", "uiPort": 443},
                                  {"acAddress": "192.0.2.11", "uiPort": 443}]},
        "session": {"UserName": "alice", "RemPwd": 0}}]'
    set -- $login
    vx=$2 vy=$3 vw=$4 vh=$5
    # The drop-down stands right of its caption, on the row below the banner.
    xdotool mousemove --sync --window "$1" 230 121 click 1
    popup="$(wait_window "\$4 < 461 && \$5 > 60 && \$5 < 348")" ||
        fail "the gateway list ($suffix) did not open"
    sleep 1
    # The view and the list, which may reach below it, within the screen.
    set -- $popup
    y1=$((vy + vh))
    [ $(($3 + $5)) -le $((y1 + 2)) ] || y1=$(($3 + $5))
    [ "$y1" -le 800 ] || y1=800
    import -display "$DISPLAY" -window root -crop "${vw}x$((y1 - vy))+$vx+$vy" +repage \
           "$out/login_gateways_$suffix.png" ||
        fail "no picture of the gateway list ($suffix)"
    xdotool key Escape
    stop_app
    echo "render: $out/login_$suffix.png, $out/login_cert_$suffix.png and" \
         "$out/login_gateways_$suffix.png"
}

render 1033 en
render 2052 zh
render_login 1033 en
render_login 2052 zh
