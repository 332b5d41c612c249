#!/usr/bin/env bash
# Audio benchmarks, each against `ffmpeg -i FILE -f null -` of the same file in
# the same run (the best of 3 on both sides, taking turns):
#  1. exact peaks of sixty minutes of 48 kHz stereo PCM, its peak cache file
#     removed first (kestrova-host peaks; target at most 1.1x);
#  2. approximate peaks of sixty minutes of AAC, cache removed first (target
#     at most 0.25x: built from packet sizes, nothing decoded);
#  3. sequential reads of the same AAC in one-second chunks (kestrova-host
#     audio --sequential --chunk 48000; target at most 1.1x);
#  4. a second peaks call, served from the cache file (target under 50 ms).
# The plug-in's side is given twice: the time inside the selectors as the tool
# reports it, and the wall time of the whole tool process (start-up, FFmpeg
# loading and the file's probe included). Usage: run-audio-bench.sh BUILD
source "$(dirname "${BASH_SOURCE[0]}")/bench-setup.sh" "$@"
host_bin=$build/bin/kestrova-host
[ -x "$host_bin" ] || die "no kestrova-host at $host_bin (make build)"
pcm=$("$source_dir/bench/bench-clip.sh" "$build" pcm) || die "no PCM benchmark clip"
aac=$("$source_dir/bench/bench-clip.sh" "$build" aac) || die "no AAC benchmark clip"
appdata=$build/bench/appdata
mkdir -p "$appdata"

now() { date +%s%N; }
json_number() { # json key
    echo "$1" | grep -o "\"$2\":[-0-9.]*" | head -1 | cut -d: -f2
}
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a ? b : a) }'; }

# Sets call_ms, process_ms and ffmpeg_ms (each the best of 3) for the
# kestrova-host command in "$@" on $clip; the peak cache files of $clip are
# removed before every run when $fresh_cache is 1.
measure() {
    local json start ms
    call_ms="" process_ms="" ffmpeg_ms=""
    for _ in 1 2 3; do
        [ "$fresh_cache" = 1 ] && rm -f "$clip".a*.kstpk
        start=$(now)
        json=$("$host_bin" --appdata "$appdata" "$@" --json) || die "kestrova-host $* failed"
        process_ms=$(smaller "$process_ms" "$((($(now) - start) / 1000000))")
        call_ms=$(smaller "$call_ms" "$(json_number "$json" ms)")
        start=$(now)
        "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -i "$clip" -f null - ||
            die "ffmpeg failed on $clip"
        ffmpeg_ms=$(smaller "$ffmpeg_ms" "$((($(now) - start) / 1000000))")
    done
}
rows=()
row() { # label target
    rows+=("$(awk -v l="$1" -v c="$call_ms" -v p="$process_ms" -v f="$ffmpeg_ms" -v t="$2" 'BEGIN {
        printf "%-40s %10.1f %10.1f %10.1f %7.2f %7.2f %7s", l, c, p, f, c / f, p / f, t }')")
}

echo "[bench] exact peaks, $pcm" >&2
clip=$pcm fresh_cache=1
measure peaks "$pcm"
row "exact peaks, 48 kHz stereo PCM" "<=1.1"
echo "[bench] approximate peaks, $aac" >&2
clip=$aac
measure peaks "$aac"
row "approximate peaks, AAC" "<=0.25"
echo "[bench] sequential reads, $aac" >&2
fresh_cache=0
measure audio "$aac" --sequential --chunk 48000
row "sequential reads in 1 s chunks, AAC" "<=1.1"

# The cache file of the last peaks run is there now: the next call loads it.
cached=""
for clip in "$pcm" "$aac"; do
    "$host_bin" --appdata "$appdata" peaks "$clip" --json >/dev/null || die "peaks failed on $clip"
    json=$("$host_bin" --appdata "$appdata" peaks "$clip" --json) || die "peaks failed on $clip"
    echo "$json" | grep -q '"cacheFileBefore":true' || die "no peak cache file for $clip"
    cached+=$(printf '%-40s %10.1f ms (target < 50 ms)' "peaks from the cache file, $(basename "$clip")" \
        "$(json_number "$json" ms)")$'\n'
done

printf '\nSixty minutes of audio, milliseconds (best of 3), against ffmpeg -i FILE -f null -\n'
printf '%-40s %10s %10s %10s %7s %7s %7s\n' "" "call" "process" "ffmpeg" "call/ff" "proc/ff" "target"
printf '%s\n' "${rows[@]}"
printf '\n%s' "$cached"
