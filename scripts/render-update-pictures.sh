#!/bin/sh
# Renders the update program's windows; called by render-pictures.sh inside private
# mount, PID and network namespaces (the run unpacks into the fixed /tmp/VanTrelo and
# stops the client's programs by name, which must never reach the caller's; its display
# takes a number that only its own network namespace knows). Usage:
#
#     render-update-pictures.sh OUT BIN
#
# OUT is the folder for the pictures, BIN the runnable tree. For English and Chinese it
# writes update_nopackage_*.png (the box for a package that is not there),
# update_window_*.png (the progress window while the install helper works) and
# update_done_*.png (the success box). The install helper is a stand-in that waits until
# the picture of the progress window is taken.
set -eu
out="$(realpath "$1")"
bin="$(realpath "$2")"

# A /tmp of its own covers the real one, where the runnable tree and the output folder
# may lie (a clone in a mktemp -d folder): they stay reachable through a descriptor of
# the real /tmp taken first, as /proc/self/fd/9/... for every command that inherits it.
exec 9</tmp
beyond_tmp() {
    case "$1" in
        /tmp/*) echo "/proc/self/fd/9/${1#/tmp/}" ;;
        *) echo "$1" ;;
    esac
}
shown_out="$out"
out="$(beyond_tmp "$out")"
bin="$(beyond_tmp "$bin")"
mount -t tmpfs tmpfs /tmp
# The display below takes the first number, as displays in other private /tmp do; as root
# it compiles its keymap into /var/lib/xkb under that number, where another server of the
# same number would remove it: that folder is this run's own too.
if [ -d /var/lib/xkb ]; then
    mount -t tmpfs tmpfs /var/lib/xkb
fi
work=/tmp/render
mkdir -p "$work"

fail() {
    echo "render-update: $*" >&2
    exit 1
}

# A display of our own, numbered by the server. It must not reset when its last client
# goes (the update program ended, an xdotool call done): a client that connects while it
# resets is refused ("could not connect to display").
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null 9<&- &
i=0
until grep -q . "$work/display" 2>/dev/null; do
    i=$((i + 1))
    [ "$i" -le 100 ] || fail "Xvfb did not start"
    sleep 0.1
done
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# The staged install: a copy of the update program, its texts and the stand-in helper.
app="/tmp/opt/Van Trelo"
mkdir -p "$app"
cp "$bin/VanTreloUpdate" "$app/"
cp -R "$bin/language" "$app/language"
printf '#!/bin/sh\nwhile [ ! -e %s/go ]; do sleep 0.1; done\nexit 0\n' "$work" >"$app/refitter"
chmod 755 "$app/refitter"
mkdir -p "$work/pkg"
echo "not read by the stand-in helper" >"$work/pkg/VanTreloInstaller.pkg"

# The visible windows titled $1: "id width height" each.
windows() {
    for w in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
        WIDTH="" HEIGHT=""
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
        [ -n "$HEIGHT" ] && echo "$w $WIDTH $HEIGHT"
    done
}
# Waits for a window titled $1 that passes the awk test $2; prints its id.
wait_window() {
    i=0
    while :; do
        found="$(windows "$1" | awk "$2" | head -n 1)"
        [ -n "$found" ] && { echo "${found%% *}"; return 0; }
        i=$((i + 1))
        [ "$i" -le 300 ] || return 1
        sleep 0.1
    done
}
# Starts the update program as the service does: element 0 the parameter text.
start_update() {
    HOME="$home" LC_ALL=C.UTF-8 QT_XCB_GL_INTEGRATION=none bash -c \
        'exec -a "$1;https://gw.example/app/vantrelo-macosx.tar.gz;alice;1" "$2/VanTreloUpdate" "amber stone, rework!"' \
        update "$1" "$app" >"$home/output.log" 2>&1 9<&- &
    update=$!
}

render_language() {
    lang_id=$1
    suffix=$2
    home="$work/home-$suffix"
    mkdir -p "$home/.VanTrelo"
    printf '[ADVANCED]\nClientLanguageID=%s\n' "$lang_id" >"$home/.VanTrelo/sysconfig.ini"
    title="$(sed -n 's/^UI_UPDATE_TITLE=//p' "$app/language/$lang_id/l_UILabel.ini")"

    # No package where the service says: the box that offers to download it anew.
    start_update /tmp/nowhere/vantrelo-macosx.tar.gz
    box="$(wait_window "$title" '!($2 == 320 && $3 == 71)')" ||
        { cat "$home/output.log" >&2; fail "no package box ($suffix)"; }
    sleep 0.5
    import -display "$DISPLAY" -window "$box" "$out/update_nopackage_$suffix.png"
    kill "$update" 2>/dev/null || true
    wait "$update" 2>/dev/null || true

    # A package: the progress window while the helper waits, then the success box.
    rm -f "$work/go"
    tar -czf /tmp/vantrelo-macosx.tar.gz -C "$work/pkg" VanTreloInstaller.pkg
    start_update /tmp/vantrelo-macosx.tar.gz
    window="$(wait_window "$title" '$2 == 320 && $3 == 71')" ||
        { cat "$home/output.log" >&2; fail "no progress window ($suffix)"; }
    sleep 4  # let the bar move
    import -display "$DISPLAY" -window "$window" "$out/update_window_$suffix.png"
    touch "$work/go"
    box="$(wait_window "$title" '!($2 == 320 && $3 == 71)')" ||
        { cat "$home/output.log" >&2; fail "no success box ($suffix)"; }
    sleep 0.5
    import -display "$DISPLAY" -window "$box" "$out/update_done_$suffix.png"
    xdotool windowfocus --sync "$box" key --clearmodifiers Return
    wait "$update" 2>/dev/null || true
    echo "render: $shown_out/update_nopackage_$suffix.png, update_window_$suffix.png, update_done_$suffix.png"
}

render_language 1033 en
render_language 2052 zh
