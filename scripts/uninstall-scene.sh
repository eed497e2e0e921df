# Sourced by the uninstaller's program test and by the picture script: the uninstaller
# run for real, as a user runs it, on an X display, inside private mount and process
# namespaces (unshare --mount --pid --fork --mount-proc, which makes "/" private first)
# where tmpfs covers /opt and /home, so that its removal reaches nothing of the machine.
# It finds the display's start beside itself, in the folder named by scene_scripts
# (default: "scripts", from the top of the source tree).
#
# scene_mount PROGRAM    keeps a copy of PROGRAM in a folder of its own under /tmp, then
#                        covers /opt and /home with tmpfs (a build tree there is hidden
#                        from then on). Needs root, or root of a user namespace.
# scene_paths [FOLDER]   an installed tree at FOLDER (default /opt/VanTrelo), in
#                        scene_install: the uninstaller's copy beside the client's
#                        programs (VanTrelo, VanTreloUpdate, promote/VanTreloPromoteService,
#                        serviceclient/VanTreloCS: copies of sleep) and a settings file;
#                        and what its removal takes and leaves: the per-user folders
#                        /home/u1/.VanTrelo and "/home/my user/.VanTrelo", and the file
#                        /home/u2/notes.
# scene_display          starts a private virtual display (scripts/virtual-display.sh)
#                        and exports DISPLAY; its pid is in scene_xvfb.
# scene_start LANG       starts the installed uninstaller in that locale; its pid is in
#                        scene_app, and its confirmation window, "id x y width height",
#                        in scene_confirm once it shows. 1 when it does not show, with
#                        what it wrote on standard error. What it writes there is kept in
#                        "$scene_dir/app.err".
# scene_press WINDOW     clicks the button at the lower right of the window ("id x y w h"):
#                        Uninstall in the confirmation window, Done in the finish window.
# scene_wait_finish      waits for the finish window (a second visible window of that
#                        title), in scene_finish; 1 when the uninstaller ends first or
#                        none shows.
# scene_end              stops what the scene started that still runs.

. "${scene_scripts:-scripts}/virtual-display.sh"

scene_title="VanTrelo Uninstaller"
scene_install=/opt/VanTrelo
scene_dir=""
scene_app=""
scene_xvfb=""
scene_confirm=""
scene_finish=""

scene_mount() {
    scene_dir="$(mktemp -d /tmp/vt-uninstall-scene.XXXXXX)" || return 1
    cp "$1" "$scene_dir/VanTreloUninstaller" || return 1
    for top in /opt /home; do
        [ -d "$top" ] || { echo "scene: no $top to cover" >&2; return 1; }
        mount -t tmpfs -o mode=0755 tmpfs "$top" || return 1
    done
}

scene_paths() {
    scene_install="${1:-/opt/VanTrelo}"
    mkdir -p "$scene_install/promote" "$scene_install/serviceclient" \
             /home/u1/.VanTrelo/config "/home/my user/.VanTrelo" /home/u2
    cp "$scene_dir/VanTreloUninstaller" "$scene_install/"
    for program in VanTrelo VanTreloUpdate promote/VanTreloPromoteService \
                   serviceclient/VanTreloCS; do
        cp /bin/sleep "$scene_install/$program"
    done
    echo "[ADVANCED]" >"$scene_install/sysconfig.ini"
    echo "[ADVANCED]" >/home/u1/.VanTrelo/sysconfig.ini
    echo "[ADVANCED]" >"/home/my user/.VanTrelo/sysconfig.ini"
    echo "notes" >/home/u2/notes
}

scene_display() {
    virtual_display scene || return 1
    scene_xvfb=$xvfb
}

# xdotool, given up when the display does not answer.
scene_xdotool() {
    timeout 10 xdotool "$@"
}

# The visible windows of the uninstaller with its title, "id x y width height" each.
scene_windows() {
    for w in $(scene_xdotool search --onlyvisible --pid "$scene_app" --name "^$scene_title\$" \
               2>/dev/null); do
        X="" Y="" WIDTH="" HEIGHT=""
        eval "$(scene_xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
        [ -n "$HEIGHT" ] && echo "$w $X $Y $WIDTH $HEIGHT"
    done
}

# The uninstaller's home and runtime folders are the scene's own, so that what the
# window system's libraries keep (font caches) stays out of the real ones.
scene_start() {
    mkdir -p "$scene_dir/home" "$scene_dir/run"
    chmod 0700 "$scene_dir/run"
    HOME="$scene_dir/home" XDG_RUNTIME_DIR="$scene_dir/run" \
        XDG_CONFIG_HOME="$scene_dir/home/.config" XDG_CACHE_HOME="$scene_dir/home/.cache" \
        LANGUAGE="" LC_ALL="" LC_MESSAGES="" LANG="$1" QT_QPA_PLATFORM=xcb \
        "$scene_install/VanTreloUninstaller" 2>"$scene_dir/app.err" &
    scene_app=$!
    i=0
    while :; do
        scene_confirm="$(scene_windows | head -n 1)"
        [ -n "$scene_confirm" ] && break
        i=$((i + 1))
        if [ "$i" -gt 300 ] || ! kill -0 "$scene_app" 2>/dev/null; then
            cat "$scene_dir/app.err" >&2
            return 1
        fi
        sleep 0.1
    done
    sleep 0.5  # let it paint
}

# Both windows have the button at the lower right of their fixed layout: 100 x 32 at
# (360, 148).
scene_press() {
    set -- $1
    scene_xdotool mousemove $(($2 + 410)) $(($3 + 164)) click 1
}

scene_wait_finish() {
    first="${scene_confirm%% *}"
    i=0
    while :; do
        scene_finish="$(scene_windows | awk -v first="$first" '$1 != first' | head -n 1)"
        [ -n "$scene_finish" ] && break
        i=$((i + 1))
        [ "$i" -le 300 ] && kill -0 "$scene_app" 2>/dev/null || return 1
        sleep 0.1
    done
    sleep 0.5  # let it paint
}

# The display is asked to end, so that it removes its lock and socket.
scene_end() {
    [ -n "$scene_app" ] && kill -9 "$scene_app" 2>/dev/null && wait "$scene_app" 2>/dev/null
    [ -n "$scene_xvfb" ] && kill "$scene_xvfb" 2>/dev/null && wait "$scene_xvfb" 2>/dev/null
    [ -n "$scene_dir" ] && rm -rf "$scene_dir"
    scene_app=""
    scene_xvfb=""
    scene_dir=""
}
