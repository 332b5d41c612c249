#!/usr/bin/env bash
# Makes a benchmark clip into BUILD/fixtures-bench and prints its path: by
# default one minute of 1080p long-GOP H.264; with "yuv444p10", ten seconds
# of 1080p 10-bit 4:4:4 HEVC. A clip is remade only when the way it is made
# changes. Usage: bench-clip.sh BUILD [yuv444p10]
set -euo pipefail

build=$(realpath -m "$1")
ffmpeg_bin=$build/tools/ffmpeg
[ -x "$ffmpeg_bin" ] || { echo "[bench] error: no ffmpeg program at $ffmpeg_bin" >&2; exit 1; }
clip_dir=$build/fixtures-bench
if [ "${2:-}" = yuv444p10 ]; then
    name=bench_1080p_444p10
    encode=(-f lavfi -i testsrc2=s=1920x1080:r=25:d=10 -c:v libx265 -preset ultrafast
        -pix_fmt yuv444p10le -x265-params log-level=error:keyint=50 -threads "$(nproc)")
else
    name=bench_1080p
    encode=(-f lavfi -i testsrc2=s=1920x1080:r=25:d=60 -c:v libx264 -preset veryfast
        -pix_fmt yuv420p -x264-params keyint=250:min-keyint=25:bframes=3 -threads "$(nproc)")
fi
clip=$clip_dir/$name.mkv
keyfile=$clip_dir/.$name.key
[ "$name" = bench_1080p ] && keyfile=$clip_dir/.key  # where earlier runs kept it
key=$(printf '%s\n' "${encode[@]}" | sha256sum | cut -d' ' -f1)
if [ ! -f "$clip" ] || [ "$(cat "$keyfile" 2>/dev/null)" != "$key" ]; then
    echo "[bench] making $clip" >&2
    mkdir -p "$clip_dir"
    partial=$(mktemp "$clip_dir/.$name.XXXXXX.mkv")
    trap 'rm -f "$partial"' EXIT
    "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -y "${encode[@]}" "$partial" >&2 ||
        { echo "[bench] error: encoding the benchmark clip failed" >&2; exit 1; }
    rm -f "$keyfile"
    chmod 644 "$partial"
    mv -f "$partial" "$clip"
    printf '%s\n' "$key" >"$keyfile"
fi
echo "$clip"
