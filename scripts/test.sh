#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test through CTest. Exits non-zero on any build failure, test failure, or when no
# test was found. Each test shows as one result line (CTest's start lines and the dots
# that pad every name to the longest are left out); a failed test's output follows its
# line.
set -eu
cd "$(dirname "$0")/.."

BUILD_DIR="${VT_TEST_BUILD_DIR:-build-test}"
JOBS="$(nproc)"

# VT_FUZZ=OFF leaves out the fuzz targets, which are otherwise built and replayed
# whenever clang can link libFuzzer.
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DVT_SANITIZE=ON -DVT_WERROR=ON -DVT_TESTS=ON -DVT_FUZZ="${VT_FUZZ:-ON}"
cmake --build "$BUILD_DIR" -j "$JOBS"

# use_sigaltstack=0: the sanitizer's own alternate signal stack is taken down in its
# thread clean-up, which, for a thread ending while its process exits, has been seen to
# trip over stale stack shadow and report its own bookkeeping as an overflow (frames of
# the sanitizer and the C library only). It serves only to report stack overflows.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:use_sigaltstack=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
status="$(mktemp)"
trap 'rm -f "$status"' EXIT
{
    rc=0
    ctest --test-dir "$BUILD_DIR" --output-on-failure --no-tests=error -j "$JOBS" --timeout 900 \
        2>&1 || rc=$?
    echo "$rc" >"$status"
} | sed -u -E -e '/^ +Start +[0-9]+: /d' \
             -e '/^ *[0-9]+\/[0-9]+ +Test +#[0-9]+: /s/ \.{2,} */   /'
rc="$(cat "$status")"
exit "${rc:-1}"
