# Sourced by the scripts that show the programs without a desktop (run.sh,
# render-pictures.sh, uninstall-scene.sh): a private virtual display, with a tray host
# on it for the front end.
#
# virtual_display NAME starts Xvfb (1280x800) on the first display number from 99 that
# the server itself can take, exports DISPLAY and leaves the server's process id in
# $xvfb for the caller to stop. When no server comes up, "NAME: ..." goes to standard
# error, $xvfb is left empty and the result is 1.
#
# start_virtual_display NAME does the same, then starts trayer on the display as its
# tray host, its process id in $tray.
#
# Either is safe beside any other X server and any other caller, whatever namespaces
# they share:
# - The number is chosen by the server, never guessed from files that another caller may
#   create at the same moment or not see at all (a private /tmp): given a number, Xvfb
#   refuses it when its lock file /tmp/.X<n>-lock is held in the caller's /tmp or its
#   abstract socket @/tmp/.X11-unix/X<n> is bound in the caller's network namespace,
#   before it touches the socket file; the next number is then tried. (-displayfd takes
#   no lock at all and replaces the socket file of a server in another network namespace
#   that shares /tmp.)
# - The display counts as up when this very server listens on that abstract socket (its
#   process holds the listening socket that /proc/net/unix names so), never when a socket
#   file of that name shows, which may be another server's. A client that connects
#   before the server has finished starting waits for its answer.
# - -noreset: a server resets whenever its last client leaves, and a reset drops a client
#   still in its connection handshake; a program that starts while a short-lived client
#   such as xdotool leaves met that as "could not connect to display".
# What callers must do: run the display's clients in the network namespace in which the
# display was started (clients reach it through its abstract socket first, which belongs
# to that namespace; a private /tmp is fine); never reach it through the file
# /tmp/.X11-unix/X<n>; stop $xvfb (and $tray) when done.

# Whether the server $xvfb listens on the abstract socket of display $1 in this network
# namespace.
virtual_display_listening() {
    for vd_inode in $(awk -v name="@/tmp/.X11-unix/X$1" \
                       '$8 == name && $4 == "00010000" { print $7 }' /proc/net/unix); do
        ls -l "/proc/$xvfb/fd" 2>/dev/null | grep -q "socket:\[$vd_inode\]" && return 0
    done
    return 1
}

# Whether the server $xvfb still runs: there, and not a zombie that a failed start left
# for this shell to reap (to which kill -0 still answers).
virtual_display_alive() {
    vd_state="$(sed -e 's/.*) //' "/proc/$xvfb/stat" 2>/dev/null | cut -d ' ' -f 1)"
    [ -n "$vd_state" ] && [ "$vd_state" != Z ]
}

virtual_display() {
    xvfb=""
    if ! command -v Xvfb >/dev/null 2>&1; then
        echo "$1: no Xvfb on PATH" >&2
        return 1
    fi
    vd_n=99
    while [ "$vd_n" -lt 149 ]; do
        Xvfb ":$vd_n" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
        xvfb=$!
        vd_i=0
        while virtual_display_alive && ! virtual_display_listening "$vd_n"; do
            vd_i=$((vd_i + 1))
            if [ "$vd_i" -gt 300 ]; then
                kill "$xvfb" 2>/dev/null
                wait "$xvfb" 2>/dev/null
                xvfb=""
                echo "$1: Xvfb did not come up on :$vd_n within 30 s" >&2
                return 1
            fi
            sleep 0.1
        done
        if virtual_display_alive; then
            export DISPLAY=":$vd_n"
            unset WAYLAND_DISPLAY
            return 0
        fi
        # Taken by another server: this one ended at once. The next number.
        wait "$xvfb" 2>/dev/null
        xvfb=""
        vd_n=$((vd_n + 1))
    done
    echo "$1: Xvfb did not start on any display from :99 to :148" >&2
    return 1
}

start_virtual_display() {
    tray=""
    virtual_display "$1" || return 1
    trayer --edge top --align right --widthtype request --height 24 --transparent false \
           >/dev/null 2>&1 &
    tray=$!
}
