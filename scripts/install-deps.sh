#!/bin/sh
# Installs every Debian package the build, the tests and the runnable tree need.
# Safe to run again: apt-get skips what is already installed.
set -eu

PACKAGES="
cmake
ninja-build
g++
libgtest-dev
qtbase5-dev
libssl-dev
rapidjson-dev
zip
unzip
net-tools
fonts-wqy-microhei
fonts-takao-gothic
fonts-dejavu-core
xvfb
xauth
imagemagick
trayer
xdotool
python3
curl
ca-certificates
clang
libclang-rt-dev
lld
"

if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
else
    SUDO="sudo"
fi

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "install-deps: all packages present"
    exit 0
fi

echo "install-deps: installing$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
# shellcheck disable=SC2086
$SUDO apt-get install -y --no-install-recommends $missing
