#!/bin/sh
# Installs the dependencies, builds the runnable tree in build/bin and starts the front
# end from there; the front end starts its service (the simulator) itself. The build
# speaks only when it fails: its output goes to build/run-build.log and is shown then.
#
# With no display (DISPLAY and WAYLAND_DISPLAY unset) the front end runs under Xvfb with
# a tray host, and a screenshot of the screen is saved to build/run-screenshot.png (or
# the file VT_SCREENSHOT names). It runs until Ctrl-C.
set -eu
cd "$(dirname "$0")/.."
root="$(pwd)"

./scripts/install-deps.sh

mkdir -p build
log=build/run-build.log
echo "run: building the runnable tree in build/bin (output in $log)" >&2
if ! { cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_TESTS=OFF &&
       cmake --build build -j "$(nproc)"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "run: the build failed; its output is above and in $log" >&2
    exit 1
fi
if [ ! -x build/bin/VanTrelo ]; then
    echo "run: build/bin/VanTrelo was not built; see $log" >&2
    exit 1
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    cd build/bin
    exec ./VanTrelo "$@"
fi

# No display: a virtual one on the first free number from 99, a tray host on it, the
# front end, and a picture once its window is up.
shot="${VT_SCREENSHOT:-$root/build/run-screenshot.png}"
. ./scripts/virtual-display.sh
xvfb=""
app=""
tray=""
stop() {
    if [ -n "$app" ]; then
        # The service the front end started is its child: it goes with it.
        pkill -TERM -P "$app" 2>/dev/null || true
        kill "$app" 2>/dev/null || true
    fi
    if [ -n "$tray" ]; then
        kill "$tray" 2>/dev/null || true
    fi
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
    fi
    wait 2>/dev/null || true
}
trap 'stop; exit 0' INT TERM
if ! start_virtual_display run; then
    stop
    exit 1
fi

(cd build/bin && exec ./VanTrelo "$@") &
app=$!

# The window is up when a visible top-level window of the program exists.
i=0
while ! xdotool search --onlyvisible --pid "$app" >/dev/null 2>&1; do
    i=$((i + 1))
    if [ "$i" -gt 300 ] || ! kill -0 "$app" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
sleep 1  # let the window and the tray icon paint
if import -display "$DISPLAY" -window root "$shot" 2>/dev/null; then
    echo "run: screenshot of the virtual display saved to $shot"
else
    echo "run: no screenshot could be taken" >&2
fi
echo "run: VanTrelo runs on the virtual display $DISPLAY; stop it with Ctrl-C"
status=0
wait "$app" || status=$?
app=""
stop
exit "$status"
