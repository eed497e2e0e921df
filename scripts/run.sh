#!/bin/sh
# Installs the dependencies, builds the runnable tree in build/bin and starts what the
# system can run so far. The build speaks only when it fails: its output goes to
# build/run-build.log and is shown then.
set -eu
cd "$(dirname "$0")/.."

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

if [ -x build/bin/VanTrelo ]; then
    exec build/bin/VanTrelo "$@"
fi
if [ -x build/bin/promote/VanTreloPromoteService ]; then
    echo "run: the front end is not built yet; starting the service simulator alone"
    echo "run: it listens on 127.0.0.1:29191; stop it with Ctrl-C"
    exec build/bin/promote/VanTreloPromoteService
fi
echo "run: only the platform library is built so far (build/src/platform/libzirpa.a);"
echo "run: there is no program to start yet. Use scripts/test.sh to exercise it."
