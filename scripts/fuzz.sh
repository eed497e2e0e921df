#!/bin/sh
# Runs the fuzz targets of the parsers (tests/fuzz). Needs clang with
# libFuzzer (scripts/install-deps.sh installs it).
#
#   scripts/fuzz.sh TARGET [SECONDS]
#       Builds the targets in build-fuzz and fuzzes TARGET for SECONDS (600 by default).
#       The corpus grows in build-fuzz/corpus/TARGET, starting from the seeds in
#       tests/fuzz/corpus/TARGET; a finding is written to build-fuzz/findings/TARGET/
#       and ends the run with a non-zero status. Set FUZZ_JOBS to run that many fuzzing
#       processes side by side on the same corpus.
#   scripts/fuzz.sh --replay BUILD_DIR TARGET RUNS
#       The regression check the test command runs: the target built in BUILD_DIR reads
#       every seed, then tries RUNS inputs in all from a fixed random seed, in a scratch
#       corpus that is thrown away.
#   scripts/fuzz.sh --list
#       Names the targets.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SEEDS="$ROOT/tests/fuzz/corpus"

targets() {
    for f in "$ROOT"/tests/fuzz/fuzz_*.cpp; do
        name="$(basename "$f" .cpp)"
        name="${name#fuzz_}"
        [ "$name" = support ] || echo "$name"
    done
}

known_target() {
    targets | grep -qx "$1" || {
        echo "fuzz.sh: no target '$1'; the targets are: $(targets | tr '\n' ' ')" >&2
        exit 2
    }
}

usage() {
    sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

[ $# -ge 1 ] || usage

case "$1" in
--list)
    targets
    ;;
--replay)
    [ $# -eq 4 ] || usage
    build="$2"
    name="${3#fuzz_}"
    runs="$4"
    known_target "$name"
    work="$(mktemp -d "${TMPDIR:-/tmp}/vt-fuzz-replay.XXXXXX")"
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/corpus" "$build/findings/$name"
    cp "$SEEDS/$name"/* "$work/corpus/"
    seeds="$(ls "$work/corpus" | wc -l)"
    echo "fuzz $name: $seeds seeds, then $runs runs in all"
    "$build/fuzz_$name" -runs="$runs" -seed=1 -timeout=25 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$name/" "$work/corpus"
    ;;
*)
    name="${1#fuzz_}"
    seconds="${2:-600}"
    known_target "$name"
    build="$ROOT/build-fuzz"
    # Runs of several targets side by side share the build: one builds at a time.
    mkdir -p "$build"
    flock "$build/.build-lock" sh -c '
        cmake -S "$1/tests/fuzz" -B "$2" -G Ninja -DCMAKE_CXX_COMPILER="$3" >/dev/null &&
        cmake --build "$2" --target "fuzz_$4"' sh "$ROOT" "$build" "${CXX:-clang++}" "$name"
    mkdir -p "$build/corpus/$name" "$build/findings/$name"
    cd "$build"
    set -- -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/findings/$name/"
    if [ -n "${FUZZ_JOBS:-}" ]; then
        set -- "$@" -jobs="$FUZZ_JOBS" -workers="$FUZZ_JOBS"
    fi
    exec "$build/fuzz_$name" "$@" "$build/corpus/$name" "$SEEDS/$name"
    ;;
esac
