#!/usr/bin/env bash
# Accelerator file benchmarks on the one-minute 1080p H.264 clip in MPEG-TS,
# a container without an index of its own:
#  1. kestrova-index writing its keyframe index against ffmpeg -f null -
#     decoding the same file, best of 3 each, taking turns;
#  2. 200 frames at shuffled positions through kestrova-host frames, without
#     and with the accelerator file: mean and 95th percentile milliseconds
#     per frame, and how many (distinct) frames match the in-order decode.
# Usage: run-index-bench.sh BUILD
source "$(dirname "${BASH_SOURCE[0]}")/bench-setup.sh" "$@"
clip=$("$source_dir/bench/bench-clip.sh" "$build" ts) || die "no benchmark clip"
ninja -C "$build" -j"$(nproc)" kestrova-index kestrova-host Kestrova || die "building failed"
accelerator=${clip%.*}.kstidx
out=$build/bench
mkdir -p "$out/appdata"
export LOCALAPPDATA=$out/appdata

# 1. Index against decode. Times in ms.
now_ms() { echo $(($(date +%s%N) / 1000000)); }
best_index="" best_decode=""
for _ in 1 2 3; do
    rm -f "$accelerator"
    start=$(now_ms)
    "$build/bin/kestrova-index" "$clip" >"$out/index.txt" || die "kestrova-index failed"
    took=$(($(now_ms) - start))
    if [ -z "$best_index" ] || [ "$took" -lt "$best_index" ]; then best_index=$took; fi
    start=$(now_ms)
    "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -i "$clip" -f null - || die "ffmpeg failed"
    took=$(($(now_ms) - start))
    if [ -z "$best_decode" ] || [ "$took" -lt "$best_decode" ]; then best_decode=$took; fi
done
entries=$(sed -n 's/.*wrote \([0-9]*\) keyframe entries.*/\1/p' "$out/index.txt")
awk -v i="$best_index" -v d="$best_decode" -v e="$entries" 'BEGIN {
    printf "\nkestrova-index on 60 s of 1080p H.264 in MPEG-TS (%d entries), best of 3\n", e
    printf "%-36s %9d ms\n", "kestrova-index", i
    printf "%-36s %9d ms\n", "ffmpeg -i FILE -f null -", d
    printf "%-36s %9.3f (target below 0.25)\n", "ratio", (d > 0 ? i / d : 0)
}'

# 2. Shuffled access. A first request lets decoder selection measure and
# remember its verdict, so neither timed run pays for it.
frames=$("$ffmpeg_bin" -v error -nostdin -i "$clip" -map 0:v:0 -c copy -f null - \
    -progress pipe:1 | sed -n 's/^frame=//p' | tail -1)
[[ $frames =~ ^[1-9][0-9]*$ ]] || die "cannot count the frames of $clip"
at=$(awk -v n="$frames" 'BEGIN { srand(7); for (i = 0; i < 200; ++i) printf "%s%d", (i ? "," : ""), int(rand() * n) }')
"$build/bin/kestrova-host" --appdata "$out/appdata" frames "$clip" --at 0 >/dev/null ||
    die "frames failed"
shuffled() { # output file
    "$build/bin/kestrova-host" --appdata "$out/appdata" frames "$clip" --at "$at" --hash \
        --json >"$1" || die "frames failed"
}
rm -f "$accelerator"
shuffled "$out/shuffled-plain.json"
"$build/bin/kestrova-index" "$clip" >/dev/null || die "kestrova-index failed"
shuffled "$out/shuffled-indexed.json"
rm -f "$accelerator"
summary() { # json file: mean and 95th percentile of the per-frame ms
    grep -o '"ms":[0-9.]*' "$1" | cut -d: -f2 | sort -g |
        awk '{ v[NR] = $1; s += $1 } END { p = int(NR * 0.95 + 0.999); printf "%9.1f %9.1f", s / NR, v[p] }'
}
# Each shuffled frame against the in-order decode of the whole clip.
"$build/bin/kestrova-host" --appdata "$out/appdata" frames "$clip" --range "0:$frames" --hash \
    --json >"$out/in-order.json" || die "frames failed"
pictures() { grep -o '"frame":[0-9]*,"fourcc":"[^"]*","fromCache":[a-z]*,"hash":"[0-9a-f]*"' "$1" |
    sed 's/,"fromCache":[a-z]*//'; }
exact() { # json file: how many of its frames match the in-order decode
    pictures "$1" | sort -u | comm -12 - <(pictures "$out/in-order.json" | sort) | wc -l
}
requested=$(pictures "$out/shuffled-plain.json" | sort -u | wc -l)
plain_exact=$(exact "$out/shuffled-plain.json")
indexed_exact=$(exact "$out/shuffled-indexed.json")
printf "\n200 shuffled frames of the same clip (%d frames), ms per frame\n" "$frames"
printf "%-36s %9s %9s %9s\n" "" "mean" "p95" "exact"
printf "%-36s %s %5d/%d\n" "without accelerator file" "$(summary "$out/shuffled-plain.json")" \
    "$plain_exact" "$requested"
printf "%-36s %s %5d/%d\n" "with accelerator file" "$(summary "$out/shuffled-indexed.json")" \
    "$indexed_exact" "$requested"
[ "$indexed_exact" -eq "$requested" ] || die "frames through the accelerator file were not exact"
[ "$plain_exact" -eq "$requested" ] ||
    echo "[bench] warning: without the accelerator file some frames were not exact" >&2
