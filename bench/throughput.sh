#!/usr/bin/env bash
# Measures the built tool against iconv alone, end to end, with bench/timing,
# which starts every process itself, for each build that is present:
# build-bench/quorvel (dynamic, glibc), build-static/quorvel (static, glibc)
# and build-musl/quorvel (static, musl).
#   1. one UTF-16 strings file of about 100 MB: the tool against
#      iconv > /dev/null and against iconv | cat > file, on every core and
#      then with all of them on one core (taskset -c 0), as on a small board;
#   2. the UTF-16 files under ../shared/corpus, one run each, against two
#      floors: a static program that does nothing, then iconv on the file,
#      into /dev/null and into a file it creates, as the tool must;
#   3. the tool's own peak memory on 10 MB and 100 MB of UTF-16 input;
#   4. the strings reader and PO writer in process (scan_bench).
# Usage: bench/throughput.sh [BUILD-DIR] [ROUNDS]; BUILD-DIR defaults to
# build-bench, made by: cmake --workflow --preset bench.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build-bench}" && pwd)
rounds=${2:-11}
timing=$build/bench/timing
corpus=$source_dir/../shared/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

builds=()
for b in "$build" "$source_dir/build-static" "$source_dir/build-musl"; do
    [ -x "$b/quorvel" ] && builds+=("$b/quorvel")
done

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
    "$(ldd --version | head -1 | sed 's/.* //') glibc; $rounds rounds, medians [min, max]"

# UTF-16 text of about the given size in MB.
make_strings() { "$build/bench/generate" $(($1 * 560000)) | iconv -f utf-8 -t utf-16 >"$2"; }
make_strings 100 "$work/100.strings"
make_strings 10 "$work/10.strings"

small=()
if [ -d "$corpus" ]; then
    for f in "$corpus"/*/*.strings; do
        case $(head -c 2 "$f" | od -An -tx1 | tr -d ' ') in
        fffe | feff) small+=("$f") ;;
        esac
    done
fi

for tool in "${builds[@]}"; do
    echo "== ${tool#"$source_dir"/}"
    "$timing" large "$rounds" "$tool" "$work/100.strings" "$work"
    if command -v taskset >/dev/null; then
        echo "-- on one core"
        taskset -c 0 "$timing" large "$rounds" "$tool" "$work/100.strings" "$work"
    fi
    if [ ${#small[@]} -gt 0 ]; then
        "$timing" batch "$rounds" "$tool" "$build/bench/nothing" "$work" "${small[@]}"
    else
        echo "no corpus at $corpus: many small files not measured"
    fi
    echo "peak memory of the tool itself: $("$timing" memory "$tool" "$work/10.strings" "$work") KiB" \
        "at 10 MB, $("$timing" memory "$tool" "$work/100.strings" "$work") KiB at 100 MB"
done

echo "== in process"
"$build/bench/scan_bench" --benchmark_min_time=1 --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -E 'median|^Benchmark'
