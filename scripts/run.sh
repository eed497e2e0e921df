#!/bin/sh
# Installs the dependencies, builds the runnable tree in build/bin and starts the front
# end from there; the front end starts its service (the simulator) itself. The build
# speaks only when it fails: its output goes to build/run-build.log and is shown then.
#
# With no display (DISPLAY and WAYLAND_DISPLAY unset) the front end runs under Xvfb with
# a tray host, and a screenshot of the screen is saved to build/run-screenshot.png (or
# the file VT_SCREENSHOT names). It runs until Ctrl-C.
#
# When the front end ends (the tray's Exit, or Ctrl-C here) the simulator it started as
# its service is stopped too, and the script returns. The simulator keeps its state in
# $HOME/.VanTrelo/sim-state.json, so profiles, language and last used connection are as
# the last run left them; its notes are in $HOME/.VanTrelo/log/service-sim.log.
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

# The demo's service is the simulator, which the front end starts and which, like the
# real service, outlives it. This script owns the demo, so it stops the simulator once
# the front end has ended: the one named by the pid in the ports file of the scenario
# written here, and only if that process still carries this scenario. Never by name,
# which would also stop a simulator of the tests or of another checkout.
# A scenario of the caller's own (VANTRELO_SIM_SCENARIO) is kept: the one written here
# is a copy of it with the ports file added, or the caller's ports file when it names
# one. A file that is not a JSON object is handed on unchanged, for the simulator to
# refuse; there is then no service to stop.
work="$(mktemp -d "${TMPDIR:-/tmp}/vt-run-XXXXXX")"
scenario="$work/scenario.json"
ports="$(python3 - "${VANTRELO_SIM_SCENARIO:-}" "$scenario" "$work/ports.json" <<'PY'
import json, shutil, sys
given, out, ports = sys.argv[1:4]
try:
    scenario = json.load(open(given)) if given else {}
except (OSError, ValueError):
    scenario = None
if not isinstance(scenario, dict):
    try:
        shutil.copyfile(given, out)
    except OSError as e:
        sys.exit("run: the scenario %s cannot be read: %s" % (given, e.strerror))
    print("")
else:
    scenario.setdefault("portsFile", ports)
    with open(out, "w") as f:
        json.dump(scenario, f)
    print(scenario["portsFile"] if isinstance(scenario["portsFile"], str) else "")
PY
)" || { rm -rf "$work"; exit 1; }
export VANTRELO_SIM_SCENARIO="$scenario"

sim_pid() {
    [ -n "$ports" ] && [ -s "$ports" ] || return 1
    pid="$(sed -n 's/^{"pid":\([0-9][0-9]*\),.*/\1/p' "$ports")"
    [ -n "$pid" ] && tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" |
        grep -qxF "VANTRELO_SIM_SCENARIO=$scenario" && echo "$pid"
}
stop_sim() {
    pid="$(sim_pid)" || {
        # A front end that ended during its start may have a service still coming up.
        sleep 0.5
        pid="$(sim_pid)" || return 0
    }
    kill -TERM "$pid" 2>/dev/null || return 0
    i=0
    while kill -0 "$pid" 2>/dev/null; do
        i=$((i + 1))
        if [ "$i" -gt 30 ]; then
            kill -KILL "$pid" 2>/dev/null || true
            break
        fi
        sleep 0.05
    done
}

xvfb=""
app=""
tray=""
stop() {
    if [ -n "$app" ]; then
        kill "$app" 2>/dev/null || true
        wait "$app" 2>/dev/null || true
        app=""
    fi
    stop_sim
    if [ -n "$tray" ]; then
        kill "$tray" 2>/dev/null || true
    fi
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
    fi
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap 'stop; exit 130' INT
trap 'stop; exit 143' TERM

# The front end starts in the user's home folder, as a desktop start or the autostart
# entry starts it: its file dialogs open on the folder it starts in. A second start of the
# same user, from here or from any other shell, meets the first in /tmp/VanTrelo-<uid>
# and ends with its box.
start_app() {
    (cd "${HOME:-/}" 2>/dev/null || cd /; exec "$root/build/bin/VanTrelo" "$@") &
    app=$!
}

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    start_app "$@"
    status=0
    wait "$app" || status=$?
    app=""
    stop
    exit "$status"
fi

# No display: a virtual one on the first free number from 99, a tray host on it, the
# front end, and a picture once its window is up.
shot="${VT_SCREENSHOT:-$root/build/run-screenshot.png}"
. ./scripts/virtual-display.sh
if ! start_virtual_display run; then
    stop
    exit 1
fi

start_app "$@"

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
