#!/usr/bin/env bash
# Makes a benchmark clip into BUILD/fixtures-bench and prints its path: by
# default one minute of 1080p long-GOP H.264; with "yuv444p10", ten seconds
# of 1080p 10-bit 4:4:4 HEVC; with "pcm", sixty minutes of 48 kHz stereo
# 16-bit PCM in WAV; with "aac", the same sixty minutes as AAC in Matroska
# (the importer leaves audio-only ISO media to the host); with "ts", the
# one-minute H.264 clip remuxed into MPEG-TS; with "ten", ten minutes of it in
# Matroska, joined by stream copy. A clip is remade only when the
# way it is made changes. Usage: bench-clip.sh BUILD [VARIANT]
set -euo pipefail

build=$(realpath -m "$1")
ffmpeg_bin=$build/tools/ffmpeg
[ -x "$ffmpeg_bin" ] || { echo "[bench] error: no ffmpeg program at $ffmpeg_bin" >&2; exit 1; }
clip_dir=$build/fixtures-bench
# Two tones whose loudness swells slowly, so a waveform has a shape to show.
tones="aevalsrc=exprs=0.4*sin(2*PI*440*t)*(0.6+0.4*sin(2*PI*t/7))|"
tones+="0.4*sin(2*PI*660*t)*(0.6+0.4*cos(2*PI*t/11)):s=48000:d=3600"
ext=mkv
case "${2:-}" in
yuv444p10)
    name=bench_1080p_444p10
    encode=(-f lavfi -i testsrc2=s=1920x1080:r=25:d=10 -c:v libx265 -preset ultrafast
        -pix_fmt yuv444p10le -x265-params log-level=error:keyint=50 -threads "$(nproc)")
    ;;
pcm)
    name=bench_audio_pcm
    ext=wav
    encode=(-f lavfi -i "$tones" -c:a pcm_s16le)
    ;;
aac)
    name=bench_audio_aac
    encode=(-f lavfi -i "$tones" -c:a aac -b:a 128k)
    ;;
ts)
    name=bench_1080p_ts
    ext=ts
    source=$("$0" "$1") || exit 1
    # The source's key makes a remade source remake this clip too.
    encode=(-i "$source" -map 0 -c copy -metadata "comment=$(cat "$clip_dir/.key")")
    ;;
ten)
    name=bench_1080p_10min
    source=$("$0" "$1") || exit 1
    list=$clip_dir/.ten-minutes.txt
    mkdir -p "$clip_dir"
    for _ in 1 2 3 4 5 6 7 8 9 10; do echo "file '$source'"; done >"$list"
    encode=(-f concat -safe 0 -i "$list" -map 0 -c copy -metadata "comment=$(cat "$clip_dir/.key")")
    ;;
"")
    name=bench_1080p
    encode=(-f lavfi -i testsrc2=s=1920x1080:r=25:d=60 -c:v libx264 -preset veryfast
        -pix_fmt yuv420p -x264-params keyint=250:min-keyint=25:bframes=3 -threads "$(nproc)")
    ;;
*)
    echo "[bench] error: unknown clip variant '$2'" >&2
    exit 1
    ;;
esac
clip=$clip_dir/$name.$ext
keyfile=$clip_dir/.$name.key
[ "$name" = bench_1080p ] && keyfile=$clip_dir/.key  # where earlier runs kept it
key=$(printf '%s\n' "${encode[@]}" | sha256sum | cut -d' ' -f1)
if [ ! -f "$clip" ] || [ "$(cat "$keyfile" 2>/dev/null)" != "$key" ]; then
    echo "[bench] making $clip" >&2
    mkdir -p "$clip_dir"
    partial=$(mktemp "$clip_dir/.$name.XXXXXX.$ext")
    trap 'rm -f "$partial"' EXIT
    "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -y "${encode[@]}" "$partial" >&2 ||
        { echo "[bench] error: encoding the benchmark clip failed" >&2; exit 1; }
    rm -f "$keyfile"
    chmod 644 "$partial"
    mv -f "$partial" "$clip"
    printf '%s\n' "$key" >"$keyfile"
fi
echo "$clip"
