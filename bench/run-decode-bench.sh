#!/usr/bin/env bash
# Decode benchmark: a one-minute 1080p long-GOP H.264 clip decoded by the
# plug-in's decoder (in order and at random positions) and by the bundled
# ffmpeg program with the same thread count. Usage: run-decode-bench.sh BUILD
# Environment: KESTROVA_BENCH_THREADS (default: every core).
source "$(dirname "${BASH_SOURCE[0]}")/bench-setup.sh" "$@"
[ -x "$ffmpeg_bin" ] || die "no ffmpeg program at $ffmpeg_bin (tools/provide-ffmpeg.sh provides it)"
threads=${KESTROVA_BENCH_THREADS:-$(nproc)}
[[ $threads =~ ^[1-9][0-9]*$ ]] || die "KESTROVA_BENCH_THREADS must be a positive number"

# 1. The clip, remade only when the way it is made changes.
clip=$("$source_dir/bench/bench-clip.sh" "$build") || die "no benchmark clip"

# 2. The benchmark program, in the same build folder.
cmake -S "$source_dir" -B "$build" -DKESTROVA_BENCH=ON >/dev/null || die "configuring failed"
ninja -C "$build" -j"$(nproc)" kestrova_decode_bench || die "building the benchmark failed"

appdata=$build/bench/appdata
results=$build/bench/decode-summary.txt
mkdir -p "$appdata"
rm -f "$results"
echo "[bench] decoding with the plug-in's decoder, $threads threads requested"
LOCALAPPDATA=$appdata KESTROVA_BENCH_CLIP=$clip KESTROVA_BENCH_THREADS=$threads \
    KESTROVA_BENCH_SUMMARY=$results "$build/bin/kestrova_decode_bench" \
    --benchmark_counters_tabular=true || die "the benchmark program failed"
[ -s "$results" ] || die "the benchmark program wrote no figures"
figure() {
    local value
    value=$(sed -n "s/^$1=//p" "$results")
    [ -n "$value" ] || die "no $1 in $results (a benchmark was skipped?)"
    echo "$value"
}

# 3. The ffmpeg program on the same clip, best of three.
echo "[bench] decoding with ffmpeg -threads $threads, best of 3"
best=""
for _ in 1 2 3; do
    start=$(date +%s%N)
    "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -threads "$threads" -i "$clip" -f null - ||
        die "ffmpeg failed to decode $clip"
    took=$(($(date +%s%N) - start))
    if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
done

# 4. The table.
ours=$(figure sequential_s)
awk -v ours="$ours" -v theirs_ns="$best" -v frames="$(figure sequential_frames)" \
    -v granted="$(figure threads_granted)" -v threads="$threads" \
    -v mean="$(figure random_mean_ms)" -v p95="$(figure random_p95_ms)" \
    -v inexact="$(figure random_inexact)" 'BEGIN {
    theirs = theirs_ns / 1e9
    printf "\nDecode benchmark, %d frames of 1080p H.264\n", frames
    printf "%-38s %10.2f s  (%d of %d threads granted)\n", "plug-in decoder, best of 3", ours, granted, threads
    printf "%-38s %10.2f s\n", "ffmpeg -f null, best of 3", theirs
    printf "%-38s %10.2f\n", "ratio (plug-in / ffmpeg)", (theirs > 0 ? ours / theirs : 0)
    printf "%-38s %10.1f ms\n", "random access, mean per frame", mean
    printf "%-38s %10.1f ms\n", "random access, 95th percentile", p95
    if (inexact > 0) printf "%-38s %10d\n", "random access, frames not exact", inexact
}'
