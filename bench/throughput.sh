#!/usr/bin/env bash
# Measures the built tool against iconv alone, end to end:
#   1. one UTF-16 strings file of about 100 MB: quorvel FILE OUT.po against
#      iconv -f utf-16 -t utf-8 FILE > /dev/null;
#   2. every file under ../shared/corpus, one run each, against iconv on each;
#   3. the tool's peak memory for 10 MB and 100 MB of input, with a stand-in
#      iconv that hands the file on as it is;
#   4. the strings reader and PO writer in process (scan_bench).
# Usage: bench/throughput.sh [BUILD-DIR] [RUNS]; BUILD-DIR defaults to build-bench,
# made by: cmake --workflow --preset bench. QUORVEL names another binary to time,
# such as build-static/quorvel.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build-bench}" && pwd)
runs=${2:-7}
quorvel=${QUORVEL:-$build/quorvel}
corpus=$source_dir/../shared/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Seconds, to the microsecond, that a command takes; its output is thrown away.
seconds() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null
    awk -v a="$EPOCHREALTIME" -v b="$start" 'BEGIN { printf "%.6f\n", a - b }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs two commands in turn, runs times each; prints their medians and ratio.
compare() {
    local label=$1 tool=$2 floor=$3 name=${4:-iconv}
    : >"$work/a"
    : >"$work/b"
    for _ in $(seq "$runs"); do
        seconds $tool >>"$work/a"
        seconds $floor >>"$work/b"
    done
    local a b
    a=$(median <"$work/a")
    b=$(median <"$work/b")
    printf '%-22s quorvel %7.3f s   %-12s %7.3f s   ratio %.3f\n' "$label" "$a" "$name" "$b" \
        "$(awk -v a="$a" -v b="$b" 'BEGIN { print a / b }')"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"

# 1. One large file: 56 MB of UTF-8 text is about 100 MB in UTF-16.
"$build/bench/generate" 56000000 | iconv -f utf-8 -t utf-16 >"$work/large.strings"
echo "large file: $(($(wc -c <"$work/large.strings") / 1000000)) MB of UTF-16"
large_tool() { "$quorvel" "$work/large.strings" "$work/large.po"; }
large_iconv() { iconv -f utf-16 -t utf-8 "$work/large.strings"; }
compare "one file of 100 MB" large_tool large_iconv

# 2. Many small files, the whole corpus one by one.
if [ -d "$corpus" ]; then
    files=("$corpus"/*/*.strings)
    corpus_tool() { for f in "${files[@]}"; do "$quorvel" "$f" "$work/small.po"; done; }
    corpus_iconv() { for f in "${files[@]}"; do iconv -f utf-16 -t utf-8 "$f" || true; done 2>/dev/null; }
    compare "${#files[@]} corpus files" corpus_tool corpus_iconv
    # The floor: what one more process start per file costs, the tool's own
    # start (it prints its usage line and ends) on top of iconv's run.
    corpus_floor() { for f in "${files[@]}"; do "$quorvel" || true; iconv -f utf-16 -t utf-8 "$f" || true; done 2>/dev/null; }
    compare "${#files[@]} corpus files" corpus_tool corpus_floor "start+iconv"
else
    echo "no corpus at $corpus: many small files not measured"
fi

# 3. Peak memory with a pass-through converter.
mkdir "$work/bin"
printf '#!/bin/sh\nexec cat "$5"\n' >"$work/bin/iconv"
chmod +x "$work/bin/iconv"
for mb in 10 100; do
    "$build/bench/generate" $((mb * 1000000)) >"$work/$mb.strings"
    kb=$(PATH="$work/bin:$PATH" /usr/bin/time -f %M "$quorvel" "$work/$mb.strings" \
        "$work/$mb.po" 2>&1 >/dev/null)
    echo "peak memory, $mb MB in: $kb KiB"
done

# 4. In process.
"$build/bench/scan_bench" --benchmark_min_time=2
