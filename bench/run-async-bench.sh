#!/usr/bin/env bash
# Playback through the importer's async entry, each figure measured in one
# run against ffmpeg's decode-only throughput of the same clip:
#  1. kestrova-host play --async of the one-minute 1080p H.264 clip in its
#     first candidate format with 1, 2 and 4 requesting threads, against
#     ffmpeg -i FILE -f null -; best of 3 on both sides, taking turns;
#  2. a scrub over the clip's first frames (play --async --scrub): the mean
#     and 95th-percentile milliseconds per requested frame, host cache hits
#     and the render times snapped to a keyframe; best mean of 3.
# Usage: run-async-bench.sh BUILD
source "$(dirname "${BASH_SOURCE[0]}")/bench-setup.sh" "$@"
clip=$("$source_dir/bench/bench-clip.sh" "$build") || die "no benchmark clip"
ninja -C "$build" -j"$(nproc)" kestrova-host || die "building kestrova-host failed"
out=$build/bench
mkdir -p "$out/appdata"
export LOCALAPPDATA=$out/appdata

frames=$("$ffmpeg_bin" -v error -nostdin -i "$clip" -map 0:v:0 -c copy -f null - \
    -progress pipe:1 | sed -n 's/^frame=//p' | tail -1)
[[ $frames =~ ^[1-9][0-9]*$ ]] || die "cannot count the frames of $clip"

member() { # json name
    echo "$1" | grep -o "\"$2\":[0-9.-]*" | head -1 | cut -d: -f2
}
play() { # options...: one JSON line; log level 3 so the prefetched count is logged
    "$build/bin/kestrova-host" --appdata "$out/appdata" --log-level 3 play "$clip" --async \
        --json "$@" || die "play --async $* failed"
}

# 1. The two sides take turns, so a slower spell of the machine hits both.
echo "[bench] async play, $frames frames"
rows=""
for threads in 1 2 4; do
    ours=0 best=""
    for _ in 1 2 3; do
        json=$(play --threads "$threads" --frames "$frames")
        [ "$(member "$json" failed)" = 0 ] || die "frames failed: $json"
        ours=$(awk -v a="$ours" -v b="$(member "$json" fps)" 'BEGIN { print (b > a ? b : a) }')
        start=$(date +%s%N)
        "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -i "$clip" -f null - ||
            die "ffmpeg failed"
        took=$(($(date +%s%N) - start))
        if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
    done
    theirs=$(awk -v n="$frames" -v ns="$best" 'BEGIN { printf "%.2f", n / (ns / 1e9) }')
    rows+="$threads $ours $theirs $(member "$json" prefetched)"$'\n'
done
printf '%s' "$rows" | awk -v n="$frames" 'BEGIN {
    printf "\nAsync playback of %d frames of 1080p H.264, first candidate, frames per second\n", n
    printf "%-22s %9s %9s %7s %11s\n", "requesting threads", "plug-in", "ffmpeg", "ratio", "prefetched"
}
{ printf "%-22d %9.1f %9.1f %7.2f %11d\n", $1, $2, $3, ($3 > 0 ? $2 / $3 : 0), $4 }'

# 2. Scrubbing latency per frame.
echo "[bench] async scrub"
best=""
for _ in 1 2 3; do
    json=$(play --scrub --frames 250)
    [ "$(member "$json" failed)" = 0 ] || die "frames failed: $json"
    mean=$(member "$json" meanLatencyMs)
    if [ -z "$best" ] || awk -v a="$mean" -v b="$(member "$best" meanLatencyMs)" \
        'BEGIN { exit !(a < b) }'; then
        best=$json
    fi
done
printf '\nScrub of %s requests (forward, a jump back, reverse), one requesting thread\n' \
    "$(member "$best" frames)"
printf 'ms per frame: mean %s, 95th percentile %s; host cache hits %s, snapped render times %s\n' \
    "$(member "$best" meanLatencyMs)" "$(member "$best" p95LatencyMs)" \
    "$(member "$best" hostCacheHits)" "$(member "$best" snapped)"
