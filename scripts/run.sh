#!/bin/sh
# Installs the dependencies, builds the runnable tree in build/bin and starts what the
# system can run so far.
set -eu
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_TESTS=OFF
cmake --build build -j "$(nproc)"

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
