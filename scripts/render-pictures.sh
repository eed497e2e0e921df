#!/bin/sh
# Renders what a user sees of the front end, the update program and the uninstaller to
# PNG files, each in English (_en) and in Chinese (_zh). Usage:
#
#     ./scripts/render-pictures.sh [FOLDER]      (default: docs)
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
#
# What it writes into FOLDER, by the function that renders it:
#   render                   mainui_*, tray_menu_* (the main window, the tray menu)
#   render_uninstaller       uninstall_confirm_*, uninstall_done_*
#   render_update            update_nopackage_*, update_window_*, update_done_* (the
#                            update program, in private namespaces)
#   render_fault_report      faultreport_*, logviewer_*, faultarchive_*
#   render_settings_dialogs  proxysetting_*, optionset_*, about_*
#   render_dropdown          dropdown_* (the connection drop-down opened)
#   render_route_network     newvpnnetwork_* (the route dialog alone)
#   render_profile           profile_ssl_*, profile_ipsec_*, profile_import_* (the
#                            new-profile dialog on its three pages)
#   render_login             login_* (user name page), login_cert_* (certificate page),
#                            login_gateways_* (the gateway list open)
#   render_update_download   update_question_*, update_progress_* (the client update)
#   render_login_road        login_refused_*, cert_prompt_*, token_prompt_*, connected_*,
#                            tray_menu_connected_*, changepwd_*
#   render_login_ipsec       loginkeyipsecui_* (the L2TP/IPSec login view on "Branch")
#   render_profile_editor    profile_gateways_*, profile_ipsec_on_*, profile_route_*
#   render_profile_stored    profile_office_*, profile_branch_* (stored profiles, filled)
#   render_profile_saved     profile_office_saved_*, profile_branch_saved_* (each stored
#                            profile edited, saved and opened again)
#   render_tray_switched     tray_menu_switched_* (the tray menu of a logged-in client
#                            after its language was switched in Options)
#   render_plugin_stop       plugin_stop_* (the balloon after a browser stopped the tunnel)
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

# exec_in_private_tmp PROGRAM [ARGUMENTS...]: replaces the calling (sub)shell by the
# program, keeping its pid, in a mount namespace of its own whose /tmp is a fresh tmpfs.
# The front end's single-instance name lies in /tmp/VanTrelo-<uid>, the same for every
# start of one user whatever the environment says: each scene needs a /tmp of its own,
# or it would meet a client its user runs, or the scene before. Carried in from the real
# /tmp, at their own paths: the folders of /tmp that hold the tree, the scene folders,
# the output folder and the display's sockets. Without namespaces the program runs
# directly, with a note.
private_tmp_script='
set -e
stage=$1
shift
mount -t tmpfs -o mode=1777 tmpfs "$stage"
while [ "$1" != "--" ]; do
    case "$1" in
        /tmp/?*)
            top=${1#/tmp/}
            top=${top%%/*}
            if [ ! -e "$stage/$top" ] && [ -e "/tmp/$top" ]; then
                if [ -d "/tmp/$top" ]; then mkdir "$stage/$top"; else : >"$stage/$top"; fi
                mount --bind "/tmp/$top" "$stage/$top"
            fi
            ;;
    esac
    shift
done
shift
mount --move "$stage" /tmp
exec "$@"'
if [ "$(id -u)" = 0 ]; then
    private_tmp_unshare="unshare --mount"
else
    private_tmp_unshare="unshare --user --map-root-user --mount"
fi
if ! $private_tmp_unshare true 2>/dev/null; then
    private_tmp_unshare=""
    echo "render: no private mount namespace here: the front end runs with the shared /tmp," \
         "and a client of this user that runs meanwhile makes its start fail" >&2
fi
exec_in_private_tmp() {
    if [ -z "$private_tmp_unshare" ]; then
        exec "$@"
    fi
    stage="$(mktemp -d "$work/stage-XXXXXX")"
    exec $private_tmp_unshare sh -c "$private_tmp_script" sh "$stage" \
         "$(realpath "$root")" "$(realpath "$work")" "$(realpath "$out")" /tmp/.X11-unix -- "$@"
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
        cd "$home"
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec_in_private_tmp "$root/build/bin/VanTrelo"
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


# The uninstaller's windows: the confirmation window of the real program in each
# language (it is only looked at, never pressed), and the finish window after a real
# removal inside private mount and process namespaces with tmpfs over /opt and /home
# (scripts/uninstall-scene.sh), so that nothing of the machine is removed. Without root
# the namespaces are made in a user namespace; where even that is refused, the finish
# window is skipped with a message. Writes uninstall_confirm_en.png, _zh.png and
# uninstall_done_en.png, _zh.png.
render_uninstaller() {
    for pair in "en_US.UTF-8 en" "zh_CN.UTF-8 zh"; do
        set -- $pair
        home="$work/uninstall-$2"
        mkdir -p "$home/run"
        chmod 700 "$home/run"
        (
            export HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/.config" \
                   XDG_CACHE_HOME="$home/.cache" LANGUAGE="" LC_ALL="" LC_MESSAGES="" \
                   LANG="$1" QT_QPA_PLATFORM=xcb
            exec build/bin/VanTreloUninstaller
        ) >"$home/output.log" 2>&1 &
        app=$!
        window="$(wait_window '$4 == 480 && $5 == 200')" ||
            { cat "$home/output.log" >&2; fail "the uninstaller's window ($2) did not show"; }
        sleep 1
        import -display "$DISPLAY" -window "${window%% *}" "$out/uninstall_confirm_$2.png" ||
            fail "no picture of the uninstaller's confirmation window ($2)"
        stop_app
        echo "render: $out/uninstall_confirm_$2.png"
    done

    if [ "$(id -u)" = 0 ]; then
        set -- unshare --mount --pid --fork --mount-proc
    else
        set -- unshare --user --map-root-user --mount --pid --fork --mount-proc
    fi
    if ! "$@" true 2>/dev/null; then
        echo "render: no private namespaces here: uninstall_done_*.png skipped" >&2
        return 0
    fi
    for pair in "en_US.UTF-8 en" "zh_CN.UTF-8 zh"; do
        # The picture comes out on standard output: inside, /home may hide the output
        # folder.
        # shellcheck disable=SC2016
        "$@" sh -c '. "$1"; trap scene_end EXIT
                    scene_mount "$2" && scene_paths && scene_start "$3" &&
                        scene_press "$scene_confirm" && scene_wait_finish &&
                        import -display "$DISPLAY" -window "${scene_finish%% *}" png:-' \
            sh scripts/uninstall-scene.sh build/bin/VanTreloUninstaller ${pair% *} \
            >"$work/uninstall_done.png" && [ -s "$work/uninstall_done.png" ] ||
            fail "no picture of the uninstaller's finish window (${pair#* })"
        mv "$work/uninstall_done.png" "$out/uninstall_done_${pair#* }.png"
        echo "render: $out/uninstall_done_${pair#* }.png"
    done
}

# The update program's windows, in private namespaces of their own (it unpacks into the
# fixed /tmp/VanTrelo and stops the client's programs by name; the display it starts on
# its private /tmp must not take a number that another display serves in the shared
# network namespace): as root directly, else in a user namespace; without either the
# pictures are left out.
render_update() {
    if [ "$(id -u)" -eq 0 ]; then
        set -- unshare --mount --pid --net --fork --mount-proc
    elif unshare --user --map-root-user true 2>/dev/null; then
        set -- unshare --user --map-root-user --mount --pid --net --fork --mount-proc
    else
        echo "render: no private namespaces here; the update program's pictures are left out" >&2
        return 0
    fi
    "$@" ./scripts/render-update-pictures.sh "$out" "$root/build/bin" ||
        fail "the update program's pictures could not be rendered"
}

# render_fault_report LANG_ID SUFFIX: the fault report as a user goes through it, in that
# stored language: "Fault report" chosen in the tray menu, a description typed, the log
# viewer with the program's log file shown, and the archive dialog after OK. Writes
# faultreport_SUFFIX.png, logviewer_SUFFIX.png and faultarchive_SUFFIX.png. The archive
# dialog is left with Escape, so no archive is made.
render_fault_report() {
    lang_id=$1
    suffix=$2
    case "$suffix" in
        zh) description="连接成功后隧道断开，无法访问内网。" ;;
        *) description="The tunnel dropped a minute after the login." ;;
    esac
    home="$work/home-fault-$suffix"
    mkdir -p "$home/tmp" "$home/run"
    chmod 700 "$home/run"
    printf '{"config": {"LanguageID": %s, "LastAccessSession": "Office.ini"}}\n' "$lang_id" \
        >"$home/scenario.json"

    wait_port_free
    (
        cd "$home"
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec_in_private_tmp "$root/build/bin/VanTrelo"
    ) >"$home/output.log" 2>&1 &
    app=$!
    wait_window '$4 == 400 && $5 == 270' >/dev/null ||
        { cat "$home/output.log" >&2; fail "the main window ($suffix) did not show"; }
    icon="$(wait_window '$4 < 64 && $5 < 64')" || fail "no tray icon ($suffix)"
    sleep 1

    # "Fault report" is the fifth enabled entry from the menu's end: Exit, Help, About,
    # Options, then (past the disabled automatic-login entry) Fault report.
    set -- $icon
    xdotool mousemove $(($2 + $4 / 2)) $(($3 + $5 - 2)) click 3
    wait_window '$4 >= 64 && !($4 == 400 && $5 == 270)' >/dev/null ||
        fail "the tray menu ($suffix) did not open"
    sleep 0.5
    xdotool key Up Up Up Up Up Return
    report="$(wait_window '$4 == 402 && $5 == 402')" ||
        fail "the fault report dialog ($suffix) did not open"
    set -- $report
    report_id=$1
    sleep 0.5
    xdotool windowfocus --sync "$report_id" type --delay 20 "$description"
    sleep 0.5
    import -display "$DISPLAY" -window "$report_id" "$out/faultreport_$suffix.png" ||
        fail "no picture of the fault report dialog ($suffix)"

    # The link is the only blue text of the dialog: it is clicked where that colour is.
    link="$(convert "$out/faultreport_$suffix.png" -fuzz 12% -fill black \
                    +opaque 'rgb(0,85,255)' -trim -format '%w %h %X %Y' info:)" ||
        fail "no link found in the fault report dialog ($suffix)"
    set -- $link
    [ "$1" -gt 1 ] || fail "no link found in the fault report dialog ($suffix)"
    lx=$(($3 + $1 / 2))
    ly=$(($4 + $2 / 2))
    set -- $report
    xdotool mousemove $(($2 + lx)) $(($3 + ly)) click 1
    viewer="$(wait_window '$4 == 469 && $5 == 424')" ||
        fail "the log viewer ($suffix) did not open"
    set -- $viewer
    viewer_id=$1 vx=$2 vy=$3
    # The rows come in the folder's own order, which "ls -U" shows too; the 30-pixel
    # header comes first.
    row="$(ls -U "$home/.VanTrelo/log" | grep -vx 'error_detail.txt' |
           grep -n '^VanTrelo_VanTreloUI_[0-9]*\.log$' | head -n 1 | cut -d: -f1)"
    [ -n "$row" ] || fail "no program log in the log folder ($suffix)"
    sleep 0.5
    xdotool mousemove $((vx + 60)) $((vy + 30 + (row - 1) * 30 + 15)) click 1
    sleep 1
    import -display "$DISPLAY" -window "$viewer_id" "$out/logviewer_$suffix.png" ||
        fail "no picture of the log viewer ($suffix)"
    xdotool windowfocus --sync "$viewer_id" key Escape

    # Tab leaves the description for Cancel, then OK.
    sleep 0.5
    xdotool windowfocus --sync "$report_id" key Tab Tab space
    archive="$(wait_window '$4 == 431 && $5 == 99')" ||
        fail "the archive dialog ($suffix) did not open"
    set -- $archive
    sleep 0.5
    # The path field shows its end; Home brings its start, with the backslashes, to view.
    xdotool windowfocus --sync "$1" key Home
    sleep 0.3
    import -display "$DISPLAY" -window "$1" "$out/faultarchive_$suffix.png" ||
        fail "no picture of the archive dialog ($suffix)"
    xdotool windowfocus --sync "$1" key Escape

    stop_app
    echo "render: $out/faultreport_$suffix.png, logviewer_$suffix.png and faultarchive_$suffix.png"
}

# render_settings_dialogs LANG_ID SUFFIX: the proxy dialog opened from the main window's
# button, and the options dialog and the about box opened from the tray menu, to
# FOLDER/proxysetting_SUFFIX.png, optionset_SUFFIX.png and about_SUFFIX.png. The stored
# configuration holds an HTTPS proxy with an account and a password (shown as "******")
# and start at login switched on.
render_settings_dialogs() {
    lang_id=$1
    suffix=$2
    home="$work/home-dialogs-$suffix"
    mkdir -p "$home/tmp" "$home/run"
    chmod 700 "$home/run"
    printf '{"config": {"LanguageID": %s, "LastAccessSession": "Office.ini", "AutoBoot": 1, "ProxyType": 3, "ProxyAddr": "proxy.example.com", "ProxyPort": 8080, "ProxyUser": "alice", "ProxyPwd": "Passw0rd"}}\n' \
        "$lang_id" >"$home/scenario.json"

    wait_port_free
    (
        cd "$home"
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec_in_private_tmp "$root/build/bin/VanTrelo"
    ) >"$home/output.log" 2>&1 &
    app=$!

    main="$(wait_window '$4 == 400 && $5 == 270')" ||
        { cat "$home/output.log" >&2; fail "the main window ($suffix) did not show"; }
    icon="$(wait_window '$4 < 64 && $5 < 64')" ||
        fail "no tray icon ($suffix): is trayer running?"
    sleep 1

    # The proxy button sits at the window's lower right corner in both languages.
    set -- $main
    xdotool mousemove $(($2 + 375)) $(($3 + 252)) click 1
    dialog="$(wait_window '$4 >= 300 && $4 <= 406 && $5 >= 150 && $5 <= 240')" ||
        fail "the proxy dialog ($suffix) did not open; windows: $(app_windows | tr '\n' ';')"
    sleep 0.5
    set -- $dialog
    import -display "$DISPLAY" -window "$1" "$out/proxysetting_$suffix.png" ||
        fail "no picture of the proxy dialog ($suffix)"
    # Without a window manager the keys go to the window under the pointer.
    xdotool mousemove $(($2 + $4 / 2)) $(($3 + $5 / 2)) key Escape
    sleep 0.5

    # Options and About from the tray menu, chosen with the keyboard: the enabled entries
    # of an idle client are Show window, Connect, Fault report, Options, About, Help, Exit.
    for shot in "optionset 4 405 365" "about 5 411 295"; do
        set -- $shot
        name=$1 downs=$2 width=$3 height=$4
        set -- $icon
        xdotool mousemove $(($2 + $4 / 2)) $(($3 + $5 - 2)) click 3
        wait_window '$4 >= 64 && !($4 == 400 && $5 == 270)' >/dev/null ||
            fail "the tray menu ($suffix) did not open"
        sleep 0.5
        i=0
        while [ "$i" -lt "$downs" ]; do
            xdotool key Down
            i=$((i + 1))
        done
        xdotool key Return
        dialog="$(wait_window "\$4 == $width && \$5 == $height")" ||
            fail "the $name window ($suffix) did not open; windows: $(app_windows | tr '\n' ';')"
        sleep 0.5
        set -- $dialog
        import -display "$DISPLAY" -window "$1" "$out/${name}_$suffix.png" ||
            fail "no picture of the $name window ($suffix)"
        xdotool mousemove $(($2 + $4 / 2)) $(($3 + $5 / 2)) key Escape
        sleep 0.5
    done

    stop_app
    echo "render: $out/proxysetting_$suffix.png, optionset_$suffix.png and about_$suffix.png"
}

# render_dropdown LANG_ID SUFFIX: the connection drop-down opened by a click, as a user
# sees it: the main window and the popup below the drop-down, in one picture.
render_dropdown() {
    lang_id=$1
    suffix=$2
    home="$work/home-dropdown-$suffix"
    mkdir -p "$home/tmp" "$home/run"
    chmod 700 "$home/run"
    printf '{"config": {"LanguageID": %s, "LastAccessSession": "Office.ini"}}\n' "$lang_id" \
        >"$home/scenario.json"

    wait_port_free
    (
        cd "$home"
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec_in_private_tmp "$root/build/bin/VanTrelo"
    ) >"$home/output.log" 2>&1 &
    app=$!

    main="$(wait_window '$4 == 400 && $5 == 270')" ||
        { cat "$home/output.log" >&2; fail "the main window ($suffix) did not show"; }
    sleep 1
    set -- $main
    wx=$2 wy=$3 ww=$4 wh=$5
    # The drop-down spans the middle of the window's box in both languages.
    xdotool mousemove $((wx + 250)) $((wy + 146)) click 1
    popup="$(wait_window '$4 >= 64 && $5 >= 20 && !($4 == 400 && $5 == 270)')" ||
        fail "the drop-down ($suffix) did not open"
    sleep 0.5
    set -- $popup
    px=$2 py=$3 pw=$4 ph=$5
    x0=$(( (px < wx ? px : wx) - 8 ))
    y0=$(( (py < wy ? py : wy) - 8 ))
    x1=$(( (px + pw > wx + ww ? px + pw : wx + ww) + 8 ))
    y1=$(( (py + ph > wy + wh ? py + ph : wy + wh) + 8 ))
    [ "$x0" -ge 0 ] || x0=0
    [ "$y0" -ge 0 ] || y0=0
    [ "$x1" -le 1280 ] || x1=1280
    [ "$y1" -le 800 ] || y1=800
    import -display "$DISPLAY" -window root \
           -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$out/dropdown_$suffix.png" ||
        fail "no picture of the drop-down ($suffix)"
    xdotool key Escape

    stop_app
    echo "render: $out/dropdown_$suffix.png"
}

# render_route_network: the route network dialog, which the profile dialog opens from its
# route list, shown alone by tools/render/render_dialog in each language with the network
# 192.168.1.0 entered and the mask it proposes, to FOLDER/newvpnnetwork_en.png and
# newvpnnetwork_zh.png. The dialog asks nothing of the service.
render_route_network() {
    for pair in "1033 en" "2052 zh"; do
        set -- $pair
        home="$work/home-route-$2"
        mkdir -p "$home/tmp" "$home/run"
        chmod 700 "$home/run"
        (
            export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
                   XDG_RUNTIME_DIR="$home/run" LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
            exec build/tools/render/render_dialog newvpnnetwork "$1" "$root/build/bin/" \
                 "$out/newvpnnetwork_$2.png"
        ) >"$home/output.log" 2>&1 ||
            { cat "$home/output.log" >&2; fail "no picture of the route network dialog ($2)"; }
        echo "render: $out/newvpnnetwork_$2.png"
    done
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
        cd "$home"
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec_in_private_tmp "$root/build/bin/VanTrelo"
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
        cd "$home"
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec_in_private_tmp "$root/build/bin/VanTrelo"
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

# render_update_download LANG_ID SUFFIX: a client update offered before a login. The
# simulator reports a newer client and names a package on its own HTTPS server that
# stalls after 40 % of its bytes; Connect brings the question (update_question_SUFFIX.png),
# YES the progress window, caught while the download waits (update_progress_SUFFIX.png).
# The partial package (and a backup of an earlier one) is removed from /tmp afterwards.
render_update_download() {
    lang_id=$1
    suffix=$2
    home="$work/home-update-$suffix"
    mkdir -p "$home/tmp" "$home/run"
    chmod 700 "$home/run"
    name="vt-render-update-$$-$suffix.tar.gz"
    # An earlier package there would be kept aside as a backup by the client.
    rm -f "/tmp/$name" "/tmp/$name.bak"
    head -c 3000000 /dev/urandom >"$home/package.bin"
    printf '{"config": {"LanguageID": %s, "LastAccessSession": "Office.ini"}, "engine": {"versionMS": "0x00070000", "versionLS": "0x00020022", "packageUrl": "https://127.0.0.1:{https}/app/%s"}, "https": {"port": 0, "files": [{"path": "/app/%s", "file": "%s", "mode": "stall", "stallAfterBytes": 1200000}]}}\n' \
        "$lang_id" "$name" "$name" "$home/package.bin" >"$home/scenario.json"

    wait_port_free
    (
        cd "$home"
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec_in_private_tmp "$root/build/bin/VanTrelo"
    ) >"$home/output.log" 2>&1 &
    app=$!

    main="$(wait_window '$4 == 400 && $5 == 270')" ||
        { cat "$home/output.log" >&2; fail "the main window ($suffix) did not show"; }
    sleep 1
    # The Connect button sits below the drop-down, in the middle of the window.
    set -- $main
    xdotool mousemove --sync --window "$1" 200 195 click 1
    wait_window '$4 == 426 && $5 == 80' >/dev/null ||
        fail "the update question ($suffix) did not show; windows: $(app_windows | tr '\n' ';')"
    # Asked again once it has settled: a window may be replaced while it first maps.
    sleep 0.5
    question="$(wait_window '$4 == 426 && $5 == 80')" ||
        fail "the update question ($suffix) went away"
    set -- $question
    import -display "$DISPLAY" -window "$1" "$out/update_question_$suffix.png" ||
        fail "no picture of the update question ($suffix)"
    # YES is the default button.
    xdotool mousemove $(($2 + $4 / 2)) $(($3 + 10)) windowfocus --sync "$1" key Return
    progress_test='$4 >= 150 && $5 >= 50 && !($4 == 400 && $5 == 270) && !($4 == 426 && $5 == 80)'
    wait_window "$progress_test" >/dev/null ||
        fail "the progress window ($suffix) did not show; windows: $(app_windows | tr '\n' ';')"
    sleep 2  # the download reaches its stall and the bar paints
    progress="$(wait_window "$progress_test")" || fail "the progress window ($suffix) went away"
    set -- $progress
    import -display "$DISPLAY" -window "$1" "$out/update_progress_$suffix.png" ||
        fail "no picture of the progress window ($suffix)"

    stop_app
    rm -f "/tmp/$name" "/tmp/$name.bak"
    echo "render: $out/update_question_$suffix.png and $out/update_progress_$suffix.png"
}

# road_run LANG_ID NAME SCENARIO_EXTRA: as login_run, with SCENARIO_EXTRA (members
# added to the scenario, beginning with a comma, or empty); leaves the view in $login.
road_run() {
    home="$work/home-road-$2"
    mkdir -p "$home/tmp" "$home/run"
    chmod 700 "$home/run"
    printf '{"config": {"LanguageID": %s, "LastAccessSession": "Office.ini"}%s}\n' \
        "$1" "$3" >"$home/scenario.json"
    wait_port_free
    (
        cd "$home"
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec_in_private_tmp "$root/build/bin/VanTrelo"
    ) >"$home/output.log" 2>&1 &
    app=$!
    main="$(wait_window '$4 == 400 && $5 == 270')" ||
        { cat "$home/output.log" >&2; fail "the main window ($2) did not show"; }
    set -- $main
    xdotool mousemove --sync --window "$1" 200 195 click 1
    login="$(wait_window '$4 == 461 && $5 == 348')" ||
        { cat "$home/output.log" >&2; fail "the login view ($2) did not show"; }
    sleep 0.5
}

# road_login USER PASSWORD: types them into the view in $login and presses Login. The
# fields and the button stand where the view's form puts them.
road_login() {
    set -- $login "$1" "$2"
    xdotool mousemove --sync --window "$1" 280 198 click 1
    xdotool type --delay 20 "$6"
    xdotool mousemove --sync --window "$1" 280 233 click 1
    xdotool type --delay 20 "$7"
    xdotool mousemove --sync --window "$1" 230 323 click 1
}

# crop FILE X0 Y0 X1 Y1: the screen's rectangle, kept inside the screen.
crop() {
    x0=$2 y0=$3 x1=$4 y1=$5
    [ "$x0" -ge 0 ] || x0=0
    [ "$y0" -ge 0 ] || y0=0
    [ "$x1" -le 1280 ] || x1=1280
    [ "$y1" -le 800 ] || y1=800
    import -display "$DISPLAY" -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$1"
}

# crop_tray_menu FILE: the open tray menu (mx, my, mw, mh) and the tray icon it belongs to
# (ix, iy, iw, ih), with a small margin, inside the screen.
crop_tray_menu() {
    crop "$1" $(( (mx < ix ? mx : ix) - 8 )) $(( (my < iy ? my : iy) - 8 )) \
         $(( (mx + mw > ix + iw ? mx + mw : ix + iw) + 8 )) \
         $(( (my + mh > iy + ih ? my + mh : iy + ih) + 8 ))
}

# render_login_road LANG_ID SUFFIX: what a login shows, in that stored language: the
# refusal of a wrong password, the untrusted-certificate and token prompts, and a
# login that succeeds with the tray's balloon, the tray menu and the password change.
render_login_road() {
    lang_id=$1
    suffix=$2
    not_main_or_view='!($4 == 400 && $5 == 270) && !($4 == 461 && $5 == 348) && $4 >= 64'

    # erin's password is always wrong. The box comes while the view is still hidden
    # (it shows itself again once the box is closed): the picture holds the box and the
    # place of the view it belongs to.
    road_run "$lang_id" "refused-$suffix" ""
    road_login erin Passw0rd
    box="$(wait_window "$not_main_or_view")" ||
        { cat "$home/output.log" >&2; fail "the refusal ($suffix) did not show"; }
    sleep 1
    set -- $login
    vx=$2 vy=$3 vw=$4 vh=$5
    set -- $box
    crop "$out/login_refused_$suffix.png" \
         $(( (vx < $2 ? vx : $2) - 8 )) $(( (vy < $3 ? vy : $3) - 8 )) \
         $(( (vx + vw > $2 + $4 ? vx + vw : $2 + $4) + 8 )) \
         $(( (vy + vh > $3 + $5 ? vy + vh : $3 + $5) + 8 )) ||
        fail "no picture of the refusal ($suffix)"
    stop_app

    # frank's gateway is not trusted; carol needs a token code.
    road_run "$lang_id" "cert-$suffix" ""
    road_login frank Passw0rd
    prompt="$(wait_window '$4 == 450 && $5 == 240')" ||
        { cat "$home/output.log" >&2; fail "the certificate prompt ($suffix) did not show"; }
    sleep 1
    import -display "$DISPLAY" -window "${prompt%% *}" "$out/cert_prompt_$suffix.png" ||
        fail "no picture of the certificate prompt ($suffix)"
    stop_app
    road_run "$lang_id" "token-$suffix" ""
    road_login carol Passw0rd
    prompt="$(wait_window '$5 > 40 && $5 <= 61')" ||
        { cat "$home/output.log" >&2; fail "the token prompt ($suffix) did not show"; }
    sleep 1
    import -display "$DISPLAY" -window "${prompt%% *}" "$out/token_prompt_$suffix.png" ||
        fail "no picture of the token prompt ($suffix)"
    stop_app

    # alice logs in; the gateway then refuses a new password for its complexity, with
    # its rules.
    road_run "$lang_id" "connected-$suffix" ', "scripts": [{"msgType": 3, "code": 11,
        "replies": [{"code": "0x4000C", "payload": {"record": "UI_PWD_POLICY_S", "fields":
        {"uiMinLength": 8, "uiMaxLength": 16, "uiMixedCase": 1, "uiNamePwdDiffer": 1}}}]}]'
    road_login alice Passw0rd
    icon="$(wait_window '$4 < 64 && $5 < 64')" || fail "no tray icon ($suffix)"
    balloon="$(wait_window '$4 >= 64 && $5 < 270 && !($4 == 461 && $5 == 348)')" ||
        { cat "$home/output.log" >&2; fail "the balloon ($suffix) did not show"; }
    sleep 1
    set -- $icon
    ix=$2 iy=$3 iw=$4 ih=$5
    set -- $balloon
    crop "$out/connected_$suffix.png" \
         $(( (ix < $2 ? ix : $2) - 8 )) $(( (iy < $3 ? iy : $3) - 8 )) \
         $(( (ix + iw > $2 + $4 ? ix + iw : $2 + $4) + 8 )) \
         $(( (iy + ih > $3 + $5 ? iy + ih : $3 + $5) + 8 )) ||
        fail "no picture of the balloon ($suffix)"

    # The balloon goes with a click on it; then the tray menu, opened as in render().
    xdotool mousemove --sync $(($2 + 20)) $(($3 + 20)) click 1
    sleep 0.5
    xdotool mousemove $((ix + iw / 2)) $((iy + ih - 2)) click 3
    menu="$(wait_window '$4 >= 64 && $5 > 100 && !($4 == 461 && $5 == 348)')" ||
        fail "the tray menu ($suffix) did not open"
    sleep 0.5
    set -- $menu
    mx=$2 my=$3 mw=$4 mh=$5
    crop_tray_menu "$out/tray_menu_connected_$suffix.png" ||
        fail "no picture of the tray menu ($suffix)"
    # Change password is the fourth entry, 94 pixels below the menu's top edge (Show
    # window, Connect and Disconnect, a separator), in both languages.
    xdotool mousemove --sync --window "${menu%% *}" 40 94 click 1
    dialog="$(wait_window '$4 == 411 && $5 == 395')" ||
        { cat "$home/output.log" >&2; fail "the password change ($suffix) did not open"; }
    sleep 0.5
    set -- $dialog
    # The old password's field has the focus; the keys reach the window under the
    # pointer. OK is the default button.
    xdotool mousemove --sync --window "$1" 200 250
    xdotool type --delay 20 Passw0rd
    xdotool key Tab
    xdotool type --delay 20 Newpass1
    xdotool key Tab
    xdotool type --delay 20 Newpass1
    xdotool key Return
    notice="$(wait_window '!($4 == 411 && $5 == 395) && $4 >= 64 && $5 < 300 && $5 > 61')" ||
        { cat "$home/output.log" >&2; fail "the refusal's notice ($suffix) did not show"; }
    sleep 0.5
    xdotool key Return
    sleep 1
    import -display "$DISPLAY" -window "$1" "$out/changepwd_$suffix.png" ||
        fail "no picture of the password change ($suffix)"
    stop_app
    echo "render: $out/login_refused_$suffix.png, cert_prompt_$suffix.png," \
         "token_prompt_$suffix.png, connected_$suffix.png, tray_menu_connected_$suffix.png" \
         "and changepwd_$suffix.png"
}

# render_login_ipsec LANG_ID SUFFIX: the L2TP/IPSec login view, opened by Connect on the
# simulator's "Branch" (pre-shared key, the LNS as IPSec server).
render_login_ipsec() {
    ipsec_suffix=$2
    home="$work/home-ipsec-$ipsec_suffix"
    mkdir -p "$home/tmp" "$home/run"
    chmod 700 "$home/run"
    printf '{"config": {"LanguageID": %s, "LastAccessSession": "Branch.ini"}}\n' "$1" \
        >"$home/scenario.json"
    wait_port_free
    (
        cd "$home"
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec_in_private_tmp "$root/build/bin/VanTrelo"
    ) >"$home/output.log" 2>&1 &
    app=$!
    main="$(wait_window '$4 == 400 && $5 == 270')" ||
        { cat "$home/output.log" >&2; fail "the main window ($ipsec_suffix) did not show"; }
    set -- $main
    # The Connect button sits below the drop-down, in the middle of the window.
    xdotool mousemove --sync --window "$1" 200 195 click 1
    view="$(wait_window '$4 == 400 && $5 == 314')" ||
        { cat "$home/output.log" >&2; fail "the IPSec login view ($ipsec_suffix) did not show"; }
    sleep 1  # let it paint
    set -- $view
    import -display "$DISPLAY" -window "$1" "$out/loginkeyipsecui_$ipsec_suffix.png" ||
        fail "no picture of the IPSec login view ($ipsec_suffix)"
    stop_app
    echo "render: $out/loginkeyipsecui_$ipsec_suffix.png"
}

# render_profile_editor: the profile dialog's gateway list, L2TP/IPSec page and route
# dialog, filled as a user fills them, by tools/render/render_dialog in each language:
# profile_gateways_SUFFIX.png (three gateways, the second the default), profile_ipsec_on_
# SUFFIX.png with -settings and -routes beside it (IPSec on: its switch and key, its
# IPSec settings, its end with manual routes), and profile_route_SUFFIX.png (the route
# dialog over the profile dialog). Nothing here asks the service.
render_profile_editor() {
    for pair in "1033 en" "2052 zh"; do
        set -- $pair
        home="$work/home-profile-editor-$2"
        mkdir -p "$home/tmp" "$home/run"
        chmod 700 "$home/run"
        for shot in "profile_gateways profile_gateways" "profile_ipsec profile_ipsec_on" \
                    "profile_route profile_route"; do
            (
                export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
                       XDG_RUNTIME_DIR="$home/run" LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
                exec build/tools/render/render_dialog ${shot% *} "$1" "$root/build/bin/" \
                     "$out/${shot#* }_$2.png"
            ) >"$home/output.log" 2>&1 ||
                { cat "$home/output.log" >&2; fail "no picture ${shot#* }_$2.png"; }
        done
        echo "render: $out/profile_gateways_$2.png, profile_ipsec_on_$2*.png and" \
             "profile_route_$2.png"
    done
}

# render_profile_stored LANG_ID SUFFIX: the profile dialog opened from the gear button on
# the simulator's stored profiles, read from the service and filled: "Office" (SSL VPN,
# two gateways, the first the default) as profile_office_SUFFIX.png and "Branch"
# (L2TP/IPSec with a pre-shared key) as profile_branch_SUFFIX.png.
render_profile_stored() {
    # Kept apart: "set --" below takes over the positional parameters.
    stored_lang=$1
    stored_suffix=$2
    for stored in Office Branch; do
        lower="$(echo "$stored" | tr 'A-Z' 'a-z')"
        home="$work/home-stored-$lower-$stored_suffix"
        mkdir -p "$home/tmp" "$home/run"
        chmod 700 "$home/run"
        printf '{"config": {"LanguageID": %s, "LastAccessSession": "%s.ini"}}\n' "$stored_lang" \
            "$stored" >"$home/scenario.json"
        wait_port_free
        (
            cd "$home"
            export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
                   XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
                   LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
            exec_in_private_tmp "$root/build/bin/VanTrelo"
        ) >"$home/output.log" 2>&1 &
        app=$!
        main="$(wait_window '$4 == 400 && $5 == 270')" ||
            { cat "$home/output.log" >&2; fail "the main window ($stored, $stored_suffix) did not show"; }
        sleep 1
        set -- $main
        # The gear button sits at the right end of the connection row.
        xdotool mousemove --window "$1" 352 146 click 1
        dialog="$(wait_window '$4 == 600 && $5 == 570')" ||
            { cat "$home/output.log" >&2; fail "the profile dialog on $stored did not open"; }
        sleep 1
        set -- $dialog
        import -display "$DISPLAY" -window "$1" "$out/profile_${lower}_$stored_suffix.png" ||
            fail "no picture of the profile dialog on $stored"
        stop_app
        echo "render: $out/profile_${lower}_$stored_suffix.png"
    done
}

# render_plugin_stop LANG_MODE SUFFIX: the client started as a browser plugin starts it,
# with that browser language; the simulator's plugin client logs alice in and starts the
# tunnel (the connected balloon shows), then a second plugin connection stops it: the
# picture holds the tray icon and the balloon that replaced the connected one.
render_plugin_stop() {
    mode=$1
    suffix=$2
    home="$work/home-plugin-$suffix"
    mkdir -p "$home/tmp" "$home/run"
    chmod 700 "$home/run"
    printf '{}\n' >"$home/scenario.json"
    wait_port_free
    (
        cd "$home"
        export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
               XDG_RUNTIME_DIR="$home/run" VANTRELO_SIM_SCENARIO="$home/scenario.json" \
               LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
        exec_in_private_tmp "$root/build/bin/VanTrelo" -p /bin/true 192.0.2.10:443 -nu "$mode" NoProxy
    ) >"$home/output.log" 2>&1 &
    app=$!
    icon="$(wait_window '$4 < 64 && $5 < 64')" ||
        { cat "$home/output.log" >&2; fail "no tray icon ($suffix): is trayer running?"; }
    # The plugin listener comes up with the client: the first free port from 29192.
    build/bin/tools/sim-plugin-client register login alice Passw0rd - recv 15000 \
        req 3 recv 15000 >"$home/plugin-start.log" 2>&1 ||
        { cat "$home/output.log" "$home/plugin-start.log" >&2; fail "no plugin connection ($suffix)"; }
    grep -q 'Cenm succed' "$home/plugin-start.log" ||
        { cat "$home/plugin-start.log" >&2; fail "the tunnel did not start ($suffix)"; }
    connected="$(wait_window '$4 >= 64 && $5 < 270')" ||
        { cat "$home/output.log" >&2; fail "the connected balloon ($suffix) did not show"; }
    build/bin/tools/sim-plugin-client register req 4 recv 15000 >"$home/plugin-stop.log" 2>&1 ||
        { cat "$home/plugin-stop.log" >&2; fail "no second plugin connection ($suffix)"; }
    grep -q 'stop cnem success' "$home/plugin-stop.log" ||
        { cat "$home/plugin-stop.log" >&2; fail "the tunnel did not stop ($suffix)"; }
    balloon="$(wait_window "\$4 >= 64 && \$5 < 270 && \$1 != ${connected%% *}")" ||
        { cat "$home/output.log" >&2; fail "the stop balloon ($suffix) did not show"; }
    sleep 1
    set -- $icon
    ix=$2 iy=$3 iw=$4 ih=$5
    set -- $balloon
    crop "$out/plugin_stop_$suffix.png" \
         $(( (ix < $2 ? ix : $2) - 8 )) $(( (iy < $3 ? iy : $3) - 8 )) \
         $(( (ix + iw > $2 + $4 ? ix + iw : $2 + $4) + 8 )) \
         $(( (iy + ih > $3 + $5 ? iy + ih : $3 + $5) + 8 )) ||
        fail "no picture of the stop balloon ($suffix)"
    stop_app
    echo "render: $out/plugin_stop_$suffix.png"
}

# render_tray_switched LANG_ID SUFFIX: alice logged in, then the language switched to the
# other one in Options (from the tray, OK); the tray menu afterwards, in the new language,
# as tray_menu_switched_SUFFIX.png (SUFFIX names the language the client started in).
render_tray_switched() {
    switched_suffix=$2
    road_run "$1" "switched-$switched_suffix" ""
    road_login alice Passw0rd
    icon="$(wait_window '$4 < 64 && $5 < 64')" || fail "no tray icon ($switched_suffix)"
    balloon="$(wait_window '$4 >= 64 && $5 < 270 && !($4 == 461 && $5 == 348)')" ||
        { cat "$home/output.log" >&2; fail "the balloon ($switched_suffix) did not show"; }
    sleep 1
    set -- $balloon
    xdotool mousemove --sync $(($2 + 20)) $(($3 + 20)) click 1
    sleep 0.5
    set -- $icon
    ix=$2 iy=$3 iw=$4 ih=$5
    # Options is the fourth entry from the bottom (Options, About, Help, Exit), enabled in
    # every state; the keyboard skips the disabled ones.
    xdotool mousemove $((ix + iw / 2)) $((iy + ih - 2)) click 3
    wait_window '$4 >= 64 && $5 > 100 && !($4 == 461 && $5 == 348)' >/dev/null ||
        fail "the tray menu ($switched_suffix) did not open"
    sleep 0.5
    xdotool key Up Up Up Up Return
    dialog="$(wait_window '$4 == 405 && $5 == 365')" ||
        fail "the options ($switched_suffix) did not open; windows: $(app_windows | tr '\n' ';')"
    sleep 0.5
    set -- $dialog
    # The language list: English first, Chinese second; the other one is chosen, then OK.
    xdotool mousemove --sync --window "$1" 236 270 click 1
    sleep 0.5
    if [ "$switched_suffix" = en ]; then xdotool key Down Return; else xdotool key Up Return; fi
    sleep 0.5
    xdotool mousemove --sync --window "$1" 182 346 click 1
    sleep 1
    xdotool mousemove $((ix + iw / 2)) $((iy + ih - 2)) click 3
    menu="$(wait_window '$4 >= 64 && $5 > 100 && !($4 == 461 && $5 == 348) && !($4 == 405 && $5 == 365)')" ||
        fail "the tray menu ($switched_suffix) did not open after the switch"
    sleep 0.5
    set -- $menu
    mx=$2 my=$3 mw=$4 mh=$5
    crop_tray_menu "$out/tray_menu_switched_$switched_suffix.png" ||
        fail "no picture of the tray menu after the switch ($switched_suffix)"
    xdotool key Escape
    stop_app
    echo "render: $out/tray_menu_switched_$switched_suffix.png"
}

# render_profile_saved LANG_ID SUFFIX: each stored demo profile opened from the gear
# button, its description changed and saved (the dialog must close without a box), then
# opened again: profile_office_saved_SUFFIX.png and profile_branch_saved_SUFFIX.png show
# the new description read back from the service.
render_profile_saved() {
    saved_lang=$1
    saved_suffix=$2
    for saved in "Office 357 178" "Branch 363 223"; do
        set -- $saved
        stored=$1 dx=$2 dy=$3
        lower="$(echo "$stored" | tr 'A-Z' 'a-z')"
        home="$work/home-saved-$lower-$saved_suffix"
        mkdir -p "$home/tmp"
        printf '{"config": {"LanguageID": %s, "LastAccessSession": "%s.ini"}}\n' "$saved_lang" \
            "$stored" >"$home/scenario.json"
        wait_port_free
        (
            cd "$home"
            export HOME="$home" TMPDIR="$home/tmp" XDG_CONFIG_HOME="$home/.config" \
                   VANTRELO_SIM_SCENARIO="$home/scenario.json" LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
            exec_in_private_tmp "$root/build/bin/VanTrelo"
        ) >"$home/output.log" 2>&1 &
        app=$!
        main="$(wait_window '$4 == 400 && $5 == 270')" ||
            { cat "$home/output.log" >&2; fail "the main window ($stored, $saved_suffix) did not show"; }
        sleep 1
        set -- $main
        xdotool mousemove --window "$1" 352 146 click 1
        dialog="$(wait_window '$4 == 600 && $5 == 570')" ||
            { cat "$home/output.log" >&2; fail "the profile dialog on $stored did not open"; }
        sleep 1
        set -- $dialog
        xdotool mousemove --sync --window "$1" "$dx" "$dy" click 1
        xdotool key ctrl+a
        xdotool type --delay 20 "Saved after an edit"
        xdotool mousemove --sync --window "$1" 460 552 click 1
        i=0
        while app_windows | awk '$4 == 600 && $5 == 570' | grep -q .; do
            i=$((i + 1))
            [ "$i" -le 50 ] || { crop "$out/profile_${lower}_refused_$saved_suffix.png" 0 0 1280 800;
                                 fail "the profile dialog on $stored did not close after Save"; }
            sleep 0.1
        done
        set -- $main
        xdotool mousemove --window "$1" 352 146 click 1
        dialog="$(wait_window '$4 == 600 && $5 == 570')" ||
            { cat "$home/output.log" >&2; fail "the profile dialog on $stored did not open again"; }
        sleep 1
        set -- $dialog
        import -display "$DISPLAY" -window "$1" "$out/profile_${lower}_saved_$saved_suffix.png" ||
            fail "no picture of the saved profile $stored"
        stop_app
        echo "render: $out/profile_${lower}_saved_$saved_suffix.png"
    done
}

render 1033 en
render 2052 zh
render_uninstaller
render_update
render_fault_report 1033 en
render_fault_report 2052 zh
render_settings_dialogs 1033 en
render_settings_dialogs 2052 zh
render_dropdown 1033 en
render_dropdown 2052 zh
render_route_network
render_profile 1033 en
render_profile 2052 zh
render_login 1033 en
render_login 2052 zh
render_update_download 1033 en
render_update_download 2052 zh
render_login_road 1033 en
render_login_road 2052 zh
render_login_ipsec 1033 en
render_login_ipsec 2052 zh
render_profile_editor
render_profile_stored 1033 en
render_profile_stored 2052 zh
render_profile_saved 1033 en
render_profile_saved 2052 zh
render_tray_switched 1033 en
render_tray_switched 2052 zh
render_plugin_stop 1 en
render_plugin_stop 2 zh
