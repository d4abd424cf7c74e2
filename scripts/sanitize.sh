#!/usr/bin/env bash
# Builds everything with a sanitizer in its own folder and runs the whole
# test suite there; any sanitizer report fails the run.
#   scripts/sanitize.sh asan   AddressSanitizer + UndefinedBehaviorSanitizer (build-asan)
#   scripts/sanitize.sh tsan   ThreadSanitizer (build-tsan)
# Extra ctest arguments may follow, e.g. `scripts/sanitize.sh asan -R fileinfo`.
# QORN_SANITIZE_TARGETS="t1 t2" builds only those targets (CI builds only
# the programs with threads for the ThreadSanitizer run). ccache is used when
# it is installed.
set -euo pipefail
kind=${1:?usage: scripts/sanitize.sh asan|tsan [ctest args...]}
shift
root=$(cd "$(dirname "$0")/.." && pwd)
supp=$root/scripts/sanitizers

case "$kind" in
asan) flags=(-DQORN_ASAN=ON -DQORN_UBSAN=ON -DQORN_TSAN=OFF) ;;
tsan) flags=(-DQORN_ASAN=OFF -DQORN_UBSAN=OFF -DQORN_TSAN=ON) ;;
*)
    echo "usage: scripts/sanitize.sh asan|tsan [ctest args...]" >&2
    exit 2
    ;;
esac
build=${QORN_SANITIZE_BUILD_DIR:-$root/build-$kind}

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# -O1 with line tables only, as sanitizers are usually built: reports keep
# their file and line, and the build takes less than half the time of -O2 -g.
optimize="-O1 -g1 -DNDEBUG"
mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQORN_BUILD_TESTS=ON \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="$optimize" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$optimize" \
    -DQORN_BUILD_BENCH=OFF -DQORN_FUZZ=OFF "${flags[@]}" "${launcher[@]}" >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log"; exit 1; }
targets=()
for t in ${QORN_SANITIZE_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build" -j "$(nproc)" "${targets[@]}"

# Every report ends the process with a failure; leaks are reports too.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:detect_leaks=1:detect_stack_use_after_return=0:strict_string_checks=1:check_initialization_order=1:suppressions=$supp/asan.supp"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"
export TSAN_OPTIONS="halt_on_error=1:exitcode=86:second_deadlock_stack=1:suppressions=$supp/tsan.supp"

cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 900 "$@"
