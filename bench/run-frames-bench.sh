#!/usr/bin/env bash
# Frame delivery benchmarks, each a ratio measured in one run:
#  1. the conversion kernels on a 1920x1080 frame, scalar against SSE4.2
#     against AVX2, through the conversion entry on one thread and with the
#     pool, and 10-bit 4:2:0 to float RGB against libswscale;
#  2. kestrova-host play of the one-minute 1080p H.264 clip in its first
#     candidate format against ffmpeg -f null -, and in float RGB (BGrx; the
#     clip has no alpha, so BGra is not offered) against ffmpeg -pix_fmt
#     gbrpf32le -f null -, with the thread count the plug-in's decoder was
#     granted; best of 5 on both sides, taking turns, since single runs on a
#     busy machine vary by more than the gap being measured;
#  3. the same for a 1080p 10-bit 4:4:4 clip in its first candidate, a
#     libswscale plan, against decode-only and against ffmpeg -pix_fmt.
# Usage: run-frames-bench.sh BUILD
source "$(dirname "${BASH_SOURCE[0]}")/bench-setup.sh" "$@"
clip=$("$source_dir/bench/bench-clip.sh" "$build") || die "no benchmark clip"
cmake -S "$source_dir" -B "$build" -DKESTROVA_BENCH=ON >/dev/null || die "configuring failed"
ninja -C "$build" -j"$(nproc)" kestrova_convert_bench kestrova_swscale_bench kestrova-host ||
    die "building the benchmarks failed"
out=$build/bench
mkdir -p "$out/appdata"
export LOCALAPPDATA=$out/appdata

# 1. Kernels, the median of 5 runs each. Google Benchmark's console lines:
# name, real time, unit, CPU time, ...
repeat=(--benchmark_min_time=0.3 --benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
kernels() { # threads filter
    KESTROVA_CONVERT_THREADS=$1 "$build/bin/kestrova_convert_bench" --benchmark_color=false \
        --benchmark_filter="$2" "${repeat[@]}" 2>/dev/null || die "kernel benchmark failed"
}
echo "[bench] conversion kernels"
{
    kernels 0 .
    kernels 2 'Convert' | sed 's/^BM_Convert/pool_BM_Convert/'
    "$build/bin/kestrova_swscale_bench" --benchmark_color=false "${repeat[@]}" \
        2>/dev/null || die "swscale benchmark failed"
} >"$out/kernels.txt"
awk '
    /^(pool_)?BM_.*_median / && $3 == "ms" { sub(/_median$/, "", $1); sub(/\/real_time$/, "", $1); ms[$1] = $2 }
    function row(name, s, e, a) {
        printf "%-34s %8.3f %8.3f %8.3f %8.1fx\n", name, s, e, a, (a > 0 ? s / a : 0)
    }
    END {
        printf "\nConversion kernels, 1920x1080, ms per frame (median of 5), one thread\n"
        printf "%-34s %8s %8s %8s %9s\n", "kernel", "scalar", "SSE4.2", "AVX2", "AVX2 gain"
        row("10-bit YUV to float RGB", ms["BM_YuvToRgbFloatRows/0"], ms["BM_YuvToRgbFloatRows/1"], ms["BM_YuvToRgbFloatRows/2"])
        row("VUYA interleave", ms["BM_InterleaveVuyaRows/0"], ms["BM_InterleaveVuyaRows/1"], ms["BM_InterleaveVuyaRows/2"])
        row("v210 pack", ms["BM_PackV210Rows/0"], ms["BM_PackV210Rows/1"], ms["BM_PackV210Rows/2"])
        printf "\nThrough the conversion entry, ms per frame: no workers / 2 pool workers\n"
        split("MatrixToRgbFloat10 MatrixToRgbFloat8 InterleaveVuya PackV210", kinds, " ")
        for (i = 1; i <= 4; ++i) {
            n = "BM_Convert" kinds[i]
            printf "%-34s %8.3f %8.3f\n", kinds[i], ms[n], ms["pool_" n]
        }
        printf "\nCopy routes, ms per frame\n"
        split("RoutePlanarToPlanar RouteBiplanarToBiplanar RoutePlanar10ToBiplanar10 KernelPlaneCopyBgra", copies, " ")
        for (i = 1; i <= 4; ++i) printf "%-34s %8.3f\n", copies[i], ms["BM_" copies[i]]
        ours = ms["BM_ConvertMatrixToRgbFloat10"]; theirs = ms["BM_SwscaleYuv420p10ToGbrapF32"]
        printf "\n10-bit 4:2:0 to float RGB: plug-in %.3f ms, libswscale %.3f ms, ratio %.2f\n",
            ours, theirs, (theirs > 0 ? ours / theirs : 0)
        ours = ms["BM_ConvertSwscaleVuyxFloat"]; theirs = ms["BM_SwscaleYuv444p10ToYuv444p16"]
        printf "10-bit 4:4:4 to float VUYX (Swscale plan): plug-in %.3f ms, of which libswscale to 16-bit 4:4:4 alone %.3f ms\n",
            ours, theirs
        ours = ms["BM_ConvertPack10Rgb"]; theirs = ms["BM_SwscaleGbrp10ToX2rgb10"]
        printf "planar 10-bit RGB to packed 10-bit RGB: plug-in (Pack10Rgb) %.3f ms, libswscale %.3f ms, ratio %.2f\n",
            ours, theirs, (theirs > 0 ? ours / theirs : 0)
    }' "$out/kernels.txt"

# 2. Playback against ffmpeg's decode-only throughput.
# Sets frames and granted (the decoder's thread grant, from the log of a short
# run at debug level; the timed runs log at the default level, as an
# editor's machine would) for the clip in $clip.
measure_clip() {
    frames=$("$ffmpeg_bin" -v error -nostdin -i "$clip" -map 0:v:0 -c copy -f null - \
        -progress pipe:1 | sed -n 's/^frame=//p' | tail -1)
    [[ $frames =~ ^[1-9][0-9]*$ ]] || die "cannot count the frames of $clip"
    local log=$out/appdata/Kestrova/logs/Kestrova.log
    rm -f "$log"
    "$build/bin/kestrova-host" --appdata "$out/appdata" --log-level 4 play "$clip" --frames 2 \
        >/dev/null || die "play failed"
    granted=$(sed -n 's/.*DecodeThreadBudget: granted \([0-9]*\) .*/\1/p' "$log" | head -1)
    [[ $granted =~ ^[1-9][0-9]*$ ]] || die "no decoder thread grant in $log"
}
measure_clip
# The two sides take turns, so a slower spell of the machine hits both.
compare() { # format, then extra ffmpeg output options: sets ours and theirs, best of 5 each
    local format=$1 json fps start took best=""
    shift
    ours=0
    for _ in 1 2 3 4 5; do
        json=$("$build/bin/kestrova-host" --appdata "$out/appdata" --log-level 3 play "$clip" \
            --frames "$frames" ${format:+--format "$format"} --json) || die "play failed"
        fps=$(echo "$json" | grep -o '"fps":[0-9.]*' | head -1 | cut -d: -f2)
        ours=$(awk -v a="$ours" -v b="$fps" 'BEGIN { print (b > a ? b : a) }')
        start=$(date +%s%N)
        "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -threads "$granted" -i "$clip" "$@" \
            -f null - || die "ffmpeg failed"
        took=$(($(date +%s%N) - start))
        if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
    done
    theirs=$(awk -v n="$frames" -v ns="$best" 'BEGIN { printf "%.2f", n / (ns / 1e9) }')
}
echo "[bench] play, $frames frames"
compare ""
first=$ours first_ffmpeg=$theirs
compare BGrx -pix_fmt gbrpf32le
float=$ours float_ffmpeg=$theirs
awk -v a="$first" -v b="$first_ffmpeg" -v c="$float" -v d="$float_ffmpeg" -v t="$granted" \
    -v n="$frames" 'BEGIN {
    printf "\nPlayback of %d frames of 1080p H.264, %d decoding threads, frames per second\n", n, t
    printf "%-44s %9s %9s %7s\n", "", "plug-in", "ffmpeg", "ratio"
    printf "%-44s %9.1f %9.1f %7.2f\n", "first candidate vs -f null -", a, b, (b > 0 ? a / b : 0)
    printf "%-44s %9.1f %9.1f %7.2f\n", "BGrx vs -pix_fmt gbrpf32le -f null -", c, d, (d > 0 ? c / d : 0)
}'

# 3. A 10-bit 4:4:4 clip, whose first candidate (float VUYX) goes through
# libswscale: playback against decode-only, and against ffmpeg converting to
# the 16-bit 4:4:4 picture libswscale makes for that plan.
clip=$("$source_dir/bench/bench-clip.sh" "$build" yuv444p10) || die "no 4:4:4 benchmark clip"
measure_clip
echo "[bench] play 4:4:4, $frames frames"
compare ""
first=$ours first_ffmpeg=$theirs
compare "" -pix_fmt yuv444p16le
converted_ffmpeg=$theirs
awk -v a="$first" -v b="$first_ffmpeg" -v d="$converted_ffmpeg" -v t="$granted" -v n="$frames" 'BEGIN {
    printf "\nPlayback of %d frames of 1080p 10-bit 4:4:4 HEVC, %d decoding threads, frames per second\n", n, t
    printf "%-44s %9s %9s %7s\n", "", "plug-in", "ffmpeg", "ratio"
    printf "%-44s %9.1f %9.1f %7.2f\n", "first candidate (VUx7, Swscale) vs -f null -", a, b, (b > 0 ? a / b : 0)
    printf "%-44s %9.1f %9.1f %7.2f\n", "the same vs -pix_fmt yuv444p16le -f null -", a, d, (d > 0 ? a / d : 0)
}'
