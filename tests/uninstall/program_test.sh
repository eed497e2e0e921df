#!/bin/sh
# The uninstaller program as a user runs it, on a virtual display, inside private mount
# and process namespaces with tmpfs over /opt and /home (scripts/uninstall-scene.sh),
# as root of a user namespace of its own.
#
# From an installed tree (at /opt/VanTrelo, and at "/opt/Van Trelo"), a removal that ends
# well removes the tree it runs from and every readable per-user folder, leaves other
# files and every folder mounted below a per-user folder (another file system, or a
# folder of the same one bound in), stops the client's programs (copies of sleep under
# their names) and shows the finish window, whose Done ends it with 0.
# Run from a folder that is no install folder (the uninstaller alone, a folder of the
# system, a home folder, a tree whose folder became a link while it ran, or one whose
# uninstaller was replaced while it ran), it removes nothing, stops nothing, shows no
# finish window, ends by itself with 0 and says why on standard error. A removal that
# fails (a read-only /home) ends the same way and stops nothing. Needs root; skipped
# (77) otherwise.
#
#     program_test.sh PROGRAM SCENE_SCRIPT
set -u

# Root of the namespaces is, seen from outside, this otherwise unused user: the client's
# programs of the scene then belong to no user of the machine, so that no kill by name
# of a client or test run by root elsewhere on the machine (which sees every process of
# a nested process namespace) stops them, while the uninstaller, root inside, still can.
# Where the kernel lets no user make a user namespace, the namespaces are made as root
# directly, without that shelter.
outside_uid=1999999999

if [ "${3:-}" != inside ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "skipped: the removal runs as root in private namespaces"
        exit 77
    fi
    # What the test needs, where that user can read it (the tree may lie in a folder
    # closed to others).
    staged="$(mktemp -d /tmp/vt-uninstall-program.XXXXXX)" || exit 1
    trap 'rm -rf "$staged"' EXIT
    trap 'exit 143' INT TERM
    chmod 0755 "$staged"
    cp "$1" "$staged/VanTreloUninstaller" && cp "$2" "$0" "$(dirname "$2")/virtual-display.sh" \
        "$staged/" || exit 1
    set -- "$staged/$(basename "$0")" "$staged/VanTreloUninstaller" "$staged/$(basename "$2")"
    sheltered="setpriv --reuid=$outside_uid --regid=$outside_uid --clear-groups"
    sheltered="$sheltered unshare --user --map-root-user"
    if $sheltered --mount --pid --fork --mount-proc true 2>/dev/null; then
        $sheltered --mount --pid --fork --mount-proc sh "$@" inside
    elif unshare --mount --pid --fork --mount-proc true 2>/dev/null; then
        unshare --mount --pid --fork --mount-proc sh "$@" inside
    else
        echo "skipped: no private mount and process namespaces here"
        exit 77
    fi
    exit
fi

scene_scripts="$(dirname "$2")"
. "$2"
passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
    what="$1"
    shift
    if "$@"; then
        passed=$((passed + 1))
        return 0
    fi
    failed=$((failed + 1))
    echo "FAIL: $what" >&2
    [ -s "$scene_dir/app.err" ] && sed 's/^/  uninstaller: /' "$scene_dir/app.err" >&2
    return 1
}
absent() { [ ! -e "$1" ] && [ ! -L "$1" ]; }
said() { grep -q -F -- "$1" "$scene_dir/app.err"; }
# A process that runs: there, and not a zombie waiting to be reaped.
running() {
    state="$(sed -e 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d ' ' -f 1)"
    [ -n "$state" ] && [ "$state" != Z ]
}
all_running() {
    for pid in $copies; do running "$pid" || return 1; done
}
none_running() {
    for pid in $copies; do running "$pid" && return 1; done
    return 0
}
# Waits up to 30 s for the uninstaller to end, watching for a finish window meanwhile;
# its exit status is in ended, "hung" when it did not end.
wait_end() {
    first="${scene_confirm%% *}"
    finish_seen=no
    i=0
    while running "$scene_app"; do
        [ -n "$(scene_windows | awk -v first="$first" '$1 != first')" ] && finish_seen=yes
        i=$((i + 1))
        if [ "$i" -gt 300 ]; then
            ended=hung
            return
        fi
        sleep 0.1
    done
    wait "$scene_app"
    ended=$?
    scene_app=""
}

# The client's programs of the tree, running.
copies=""
start_copies() {
    copies=""
    for program in VanTrelo VanTreloUpdate promote/VanTreloPromoteService \
                   serviceclient/VanTreloCS; do
        "$scene_install/$program" 600 &
        copies="$copies $!"
    done
}
stop_copies() {
    for pid in $copies; do kill -9 "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    copies=""
}

# Mounts made by a case, taken down before the next.
mounts=""
mount_below() {  # mount_below FOLDER [BIND_SOURCE]
    mkdir -p "$1"
    if [ -n "${2:-}" ]; then
        mount --bind "$2" "$1"
    else
        mount -t tmpfs -o mode=0755 tmpfs "$1"
    fi || { echo "FAIL: cannot mount at $1" >&2; exit 1; }
    echo kept >"$1/kept"
    mounts="$1 $mounts"
}
fresh() {
    stop_copies
    for m in $mounts; do umount "$m"; done
    mounts=""
    find /opt /home -mindepth 1 -maxdepth 1 -exec rm -rf {} +
}
trap 'stop_copies; scene_end' EXIT

scene_mount "$1" || { echo "FAIL: cannot cover /opt and /home" >&2; exit 1; }
scene_display || exit 1

# A sanitizer build reports what the window system's libraries do at exit as its own:
# leaks inside the message bus and GL libraries that the platform plugin loads, strndup over
# the keyboard library's names without a terminator (legal, but strict string checks
# count it as an overflow). Neither is the uninstaller's; anything else still fails it.
printf "leak:libdbus-1.so\nleak:libGLX_mesa.so\n" >"$scene_dir/lsan.supp"
export LSAN_OPTIONS="suppressions=$scene_dir/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0"
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:strict_string_checks=0"

# Uninstall pressed in a freshly started uninstaller; ended and finish_seen tell the rest.
press_uninstall() {  # press_uninstall DESCRIPTION
    check "the confirmation window shows ($1)" scene_start en_US.UTF-8 &&
        scene_press "$scene_confirm"
}
# A refused removal: the uninstaller ends by itself with 0 and no finish window, says why,
# and nothing of the tree or the per-user folders is gone.
refused() {  # refused DESCRIPTION REASON
    wait_end
    check "refused from $1: it ends with 0 (it ended: $ended)" test "$ended" = 0
    check "refused from $1: no finish window" test "$finish_seen" = no
    check "refused from $1: it says why ($2)" said "$2"
    check "refused from $1: the per-user folder stays" test -f /home/u1/.VanTrelo/sysconfig.ini
}

# A removal that ends well, from the usual place, beside mounts in per-user folders.
scene_paths
mkdir -p /home/shared
mount_below /home/u3/.VanTrelo/logs
mount_below /home/u4/.VanTrelo/a/b /home/shared
start_copies
press_uninstall "/opt/VanTrelo"
check "the finish window shows" scene_wait_finish
for path in /opt/VanTrelo /home/u1/.VanTrelo "/home/my user/.VanTrelo"; do
    check "$path is removed" absent "$path"
done
check "/home/u2/notes stays" test -f /home/u2/notes
check "another file system below a per-user folder stays" test -f /home/u3/.VanTrelo/logs/kept
check "a folder bound in below a per-user folder stays" test -f /home/u4/.VanTrelo/a/b/kept
check "the folder bound in is whole" test -f /home/shared/kept
check "the client's programs are stopped" none_running
[ -n "$scene_finish" ] && scene_press "$scene_finish"
wait_end
check "Done ends the uninstaller with 0 (it ended: $ended)" test "$ended" = 0

# The same from a folder whose name holds a blank.
fresh
scene_paths "/opt/Van Trelo"
press_uninstall "/opt/Van Trelo"
check "the finish window shows (/opt/Van Trelo)" scene_wait_finish
check "/opt/Van Trelo is removed" absent "/opt/Van Trelo"
check "/home/u1/.VanTrelo is removed (/opt/Van Trelo)" absent /home/u1/.VanTrelo
check "/opt stays" test -d /opt
[ -n "$scene_finish" ] && scene_press "$scene_finish"
wait_end

# The uninstaller alone in a folder, beside an installed tree that keeps running.
fresh
scene_paths
start_copies
mkdir -p /opt/Lone
mv /opt/VanTrelo/VanTreloUninstaller /opt/Lone/
scene_install=/opt/Lone
press_uninstall "the uninstaller alone"
refused "the uninstaller alone" "holds no regular file 'VanTrelo'"
check "the lone uninstaller stays" test -f /opt/Lone/VanTreloUninstaller
check "the installed tree stays" test -f /opt/VanTrelo/VanTrelo
check "the client's programs still run" all_running

# Whole trees in folders that are not install folders.
for folder in /opt /usr/local/bin /home/u2; do
    fresh
    [ "$folder" = /usr/local/bin ] && mount_below /usr/local
    scene_paths "$folder"
    press_uninstall "$folder"
    case "$folder" in
        /home/*) reason="is a home folder" ;;
        *) reason="is a folder of the system" ;;
    esac
    refused "$folder" "$reason"
    check "the tree in $folder stays" test -f "$folder/promote/VanTreloPromoteService"
done

# A tree whose folder became a link while the uninstaller ran: the path it runs from now
# leads elsewhere, to another whole tree, which stays.
fresh
scene_paths
start_copies
if check "the confirmation window shows (a folder that became a link)" scene_start en_US.UTF-8
then
    rm -rf /opt/VanTrelo
    scene_paths /opt/Other
    ln -s Other /opt/VanTrelo
    scene_press "$scene_confirm"
fi
refused "a folder that became a link" "is a link or no folder"
check "the tree behind the link stays" test -f /opt/Other/VanTrelo
check "the link stays" test -L /opt/VanTrelo
check "the client's programs still run (link)" all_running

# A tree whose uninstaller was replaced while it ran (the running program's file is gone):
# the folder no longer holds the program that asks.
fresh
scene_paths
if check "the confirmation window shows (an uninstaller replaced)" scene_start en_US.UTF-8
then
    rm /opt/VanTrelo/VanTreloUninstaller
    cp "$scene_dir/VanTreloUninstaller" /opt/VanTrelo/
    scene_press "$scene_confirm"
fi
refused "a replaced uninstaller" "no longer holds the running uninstaller"
check "the tree with the replaced uninstaller stays" test -f /opt/VanTrelo/VanTrelo

# A removal that fails: a read-only /home.
fresh
scene_paths
start_copies
mount -o remount,bind,ro /home || { echo "FAIL: no read-only /home" >&2; exit 1; }
press_uninstall "a read-only /home"
wait_end
mount -o remount,bind,rw /home
check "a failed removal ends the uninstaller with 0 (it ended: $ended)" test "$ended" = 0
check "no finish window after a failed removal" test "$finish_seen" = no
check "the client's programs still run" all_running
check "the per-user folder on the read-only file system stays" \
    test -f /home/u1/.VanTrelo/sysconfig.ini

echo "program: $passed passed, $failed failed"
[ "$failed" = 0 ]
