#!/usr/bin/env bash
# Project-management benchmarks, each the best of 3, taking turns:
#  1. kestrova-host trim of a ten-minute 1080p H.264 Matroska clip to its
#     middle five minutes against ffmpeg -ss 150 -t 300 -i CLIP -c copy;
#  2. kestrova-host copy of a 2 GiB file against cp.
# Usage: run-trim-bench.sh BUILD [trim|copy] (both without the second)
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: run-trim-bench.sh BUILD [trim|copy]" >&2; exit 1; }
parts=${2:-trim copy}
source "$(dirname "${BASH_SOURCE[0]}")/bench-setup.sh" "$1"
ninja -C "$build" -j"$(nproc)" kestrova-host Kestrova || die "building failed"
out=$build/bench
mkdir -p "$out/appdata"
export LOCALAPPDATA=$out/appdata
host() { "$build/bin/kestrova-host" --appdata "$out/appdata" "$@"; }

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Runs a command and prints its wall time in ms.
timed() {
    local start
    start=$(now_ms)
    "$@" >/dev/null || die "failed: $*"
    echo $(($(now_ms) - start))
}
lower() { if [ -z "$1" ] || [ "$2" -lt "$1" ]; then echo "$2"; else echo "$1"; fi; }
report() { # title, ours, theirs, their name
    awk -v t="$1" -v a="$2" -v b="$3" -v n="$4" 'BEGIN {
        printf "\n%s, best of 3\n", t
        printf "%-40s %9d ms\n", "kestrova-host", a
        printf "%-40s %9d ms\n", n, b
        printf "%-40s %9.3f (target at most 1.1)\n", "ratio", (b > 0 ? a / b : 0)
    }'
}

# 1. Trim. Reading the clip once first puts it in the page cache for both.
trim_bench() {
    clip=$("$source_dir/bench/bench-clip.sh" "$build" ten) || die "no benchmark clip"
    cat "$clip" >/dev/null
    best_trim="" best_ffmpeg=""
    for _ in 1 2 3; do
        rm -f "$out/trim-ours.mkv" "$out/trim-ffmpeg.mkv"
        best_trim=$(lower "$best_trim" "$(timed host trim "$clip" --in 150 --dur 300 \
            --out "$out/trim-ours.mkv")")
        best_ffmpeg=$(lower "$best_ffmpeg" "$(timed "$ffmpeg_bin" -hide_banner -nostdin -loglevel error \
            -y -ss 150 -t 300 -i "$clip" -c copy "$out/trim-ffmpeg.mkv")")
    done
    host --json trim "$clip" --in 150 --dur 300 --out "$out/trim-ours.mkv" >"$out/trim.json" ||
        die "trim failed"
    echo "kestrova-host trim: $(cat "$out/trim.json")"
    report "Trim of 10 min of 1080p H.264 (Matroska) to its middle 5 min" "$best_trim" \
        "$best_ffmpeg" "ffmpeg -ss 150 -t 300 -c copy"
}

# 2. Copy of 2 GiB of incompressible bytes, made once.
copy_bench() {
    big=$build/fixtures-bench/copy_2gib.bin
    mkdir -p "$(dirname "$big")"
    if [ "$(stat -c %s "$big" 2>/dev/null || echo 0)" -ne 2147483648 ]; then
        echo "[bench] making $big" >&2
        head -c 2147483648 /dev/urandom >"$big.partial" && mv -f "$big.partial" "$big"
    fi
    best_copy="" best_cp=""
    for _ in 1 2 3; do
        rm -f "$out/copy-ours.bin" "$out/copy-cp.bin"
        best_copy=$(lower "$best_copy" "$(timed host copy "$big" "$out/copy-ours.bin")")
        best_cp=$(lower "$best_cp" "$(timed cp "$big" "$out/copy-cp.bin")")
    done
    cmp -s "$big" "$out/copy-ours.bin" || die "the copy differs from its source"
    rm -f "$out/copy-ours.bin" "$out/copy-cp.bin"
    report "Copy of a 2 GiB file" "$best_copy" "$best_cp" "cp"
}

for part in $parts; do
    case $part in
    trim) trim_bench ;;
    copy) copy_bench ;;
    *) die "unknown part '$part'" ;;
    esac
done
