# Sourced by the scripts that show the front end without a desktop (run.sh,
# render-pictures.sh): a private virtual display and a tray host on it.
#
# start_virtual_display NAME starts Xvfb (1280x800) on the first free display number from
# 99 and trayer as its tray host, exports DISPLAY, and leaves their process ids in $xvfb
# and $tray for the caller to stop. When Xvfb does not come up it is stopped, both ids
# are left empty, "NAME: Xvfb did not start on :N" goes to standard error, and the
# result is 1.
start_virtual_display() {
    n=99
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do
        n=$((n + 1))
    done
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    tray=""
    i=0
    while [ ! -e "/tmp/.X11-unix/X$n" ]; do
        i=$((i + 1))
        if [ "$i" -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then
            kill "$xvfb" 2>/dev/null || true
            xvfb=""
            echo "$1: Xvfb did not start on :$n" >&2
            return 1
        fi
        sleep 0.1
    done
    export DISPLAY=":$n"
    unset WAYLAND_DISPLAY
    trayer --edge top --align right --widthtype request --height 24 --transparent false \
           >/dev/null 2>&1 &
    tray=$!
}
