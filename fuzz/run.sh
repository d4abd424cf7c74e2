#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz (clang, ASan + UBSan) and runs
# each for SECONDS seconds. Fails on any crash, leak, timeout (over 1 s for
# one input) or allocation over 256 MiB; the input is left in
# build-fuzz/artifacts/<name>/ to keep under tests/<area>/regressions/.
# Usage: fuzz/run.sh SECONDS [NAME...]   (default: every fuzzer)
set -euo pipefail
seconds=${1:?usage: fuzz/run.sh SECONDS [NAME...]}
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QORN_FUZZ_BUILD_DIR:-$root/build-fuzz}

# As fuzzers are usually built: -O1, line tables only.
optimize="-O1 -gline-tables-only -DNDEBUG"
mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS_RELWITHDEBINFO="$optimize" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$optimize" -DQORN_FUZZ=ON -DQORN_ASAN=ON -DQORN_UBSAN=ON \
    -DQORN_BUILD_TESTS=OFF -DQORN_BUILD_BENCH=OFF >"$build/configure.log" 2>&1 ||
    { cat "$build/configure.log"; exit 1; }

if [ $# -gt 0 ]; then names=("$@"); else mapfile -t names < <(cut -d' ' -f1 "$build/fuzzers.txt" | grep .); fi
targets=()
for name in "${names[@]}"; do targets+=("fuzz_$name"); done
cmake --build "$build" -j2 --target "${targets[@]}"

# Leaks are findings; a small quarantine keeps ASan inside the memory limit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16:malloc_context_size=10}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=0
for name in "${names[@]}"; do
    line=$(grep -E "^$name( |$)" "$build/fuzzers.txt" || true)
    seeds=("$root/fuzz/corpus/$name")
    for dir in ${line#"$name"}; do [ -d "$dir" ] && seeds+=("$dir"); done
    work="$build/corpus/$name"
    artifacts="$build/artifacts/$name"
    mkdir -p "$work" "$artifacts"
    dict=()
    [ -f "$root/fuzz/dict/$name.dict" ] && dict=("-dict=$root/fuzz/dict/$name.dict")
    echo "== fuzz_$name for ${seconds}s"
    if "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=256 -malloc_limit_mb=256 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "${dict[@]}" "$work" "${seeds[@]}" \
        >"$build/$name.log" 2>&1; then
        runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$build/$name.log" | grep -oE '[0-9]+$' || echo '?')
        echo "   ok: $runs executions, no finding (log: $build/$name.log)"
    else
        failed=1
        echo "   FINDING (log: $build/$name.log, input in $artifacts/):"
        grep -E 'ERROR|SUMMARY|Test unit written|broken|abort' "$build/$name.log" | head -n 10 | sed 's/^/   /'
    fi
done
exit $failed
