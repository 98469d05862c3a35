#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time, starting from its
# seed corpus in fuzz/corpus/<target>/. Any crash, sanitizer report, leak, time-out or
# memory overrun fails the run; the offending input is kept under <build>/artifacts/.
#   QUORVEL_FUZZ_SECONDS  time per target (default 60)
#   QUORVEL_FUZZ_JOBS     targets run side by side (default: half the cores)
#   QUORVEL_FUZZ_TARGETS  space-separated subset of targets (default: all)
#   QUORVEL_BUILD_JOBS    parallel compile jobs (default: all cores)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${QUORVEL_FUZZ_SECONDS:-60}
cores=$(nproc 2>/dev/null || echo 4)
jobs=${QUORVEL_FUZZ_JOBS:-$(((cores + 1) / 2))}
build_dir=${QUORVEL_FUZZ_BUILD_DIR:-build-fuzz}
clang_version=16

packages=("clang-$clang_version" "libclang-rt-$clang_version-dev")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="clang++-$clang_version" -DQUORVEL_FUZZ=ON \
    -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" --target quorvel_fuzz -j"${QUORVEL_BUILD_JOBS:-$cores}"

targets=${QUORVEL_FUZZ_TARGETS:-$(find "$build_dir/fuzz" -maxdepth 1 -type f -executable \
    -name 'fuzz_*' -printf '%f\n' | sort)}
results=$(mktemp -d)
artifacts="$build_dir/artifacts"
mkdir -p "$artifacts"
trap 'rm -rf "$results"' EXIT

run_one() {
    local target=$1 work="$results/$1"
    mkdir -p "$work/corpus"
    # The fuzzer adds to the corpus it is given: work on a copy, keep the seeds as they are.
    if [ -d "fuzz/corpus/$target" ]; then
        cp -r "fuzz/corpus/$target/." "$work/corpus/"
    fi
    local dict=()
    [ -f "fuzz/dict/$target.dict" ] && dict=(-dict="fuzz/dict/$target.dict")
    local rc=0
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=0 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        QT_QPA_PLATFORM=offscreen \
        "$build_dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -close_fd_mask=1 -rss_limit_mb=2048 \
        -malloc_limit_mb=512 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
        "${dict[@]}" "$work/corpus" >"$work/log" 2>&1 || rc=$?
    echo "$rc" >"$work/rc"
}
export -f run_one
export build_dir seconds results artifacts

echo "Fuzzing ${seconds} s per target, $jobs at a time: $(echo $targets | wc -w) targets"
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'run_one {}'

passed=0
failed=0
for target in $targets; do
    work="$results/$target"
    rc=$(cat "$work/rc" 2>/dev/null || echo 1)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
    corpus=$(ls "$work/corpus" | wc -l)
    if [ "$rc" -eq 0 ]; then
        passed=$((passed + 1))
        printf '%-28s ok      %10s runs, corpus %s\n' "$target" "${runs:-?}" "$corpus"
    else
        failed=$((failed + 1))
        printf '%-28s FAILED  %10s runs (exit %s)\n' "$target" "${runs:-?}" "$rc"
        grep -E 'ERROR|SUMMARY|invariant broken|runtime error|Test unit written' "$work/log" \
            | head -20 | sed 's/^/    /'
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
