#!/usr/bin/env bash
# Makes the benchmarks' clip, a one-minute 1080p long-GOP H.264 file, into
# BUILD/fixtures-bench and prints its path. It is remade only when the way it
# is made changes. Usage: bench-clip.sh BUILD
set -euo pipefail

build=$(realpath -m "$1")
ffmpeg_bin=$build/tools/ffmpeg
[ -x "$ffmpeg_bin" ] || { echo "[bench] error: no ffmpeg program at $ffmpeg_bin" >&2; exit 1; }
clip_dir=$build/fixtures-bench
clip=$clip_dir/bench_1080p.mkv
encode=(-f lavfi -i testsrc2=s=1920x1080:r=25:d=60 -c:v libx264 -preset veryfast -pix_fmt yuv420p
    -x264-params keyint=250:min-keyint=25:bframes=3 -threads "$(nproc)")
key=$(printf '%s\n' "${encode[@]}" | sha256sum | cut -d' ' -f1)
if [ ! -f "$clip" ] || [ "$(cat "$clip_dir/.key" 2>/dev/null)" != "$key" ]; then
    echo "[bench] making $clip (60 s of 1080p H.264)" >&2
    mkdir -p "$clip_dir"
    partial=$(mktemp "$clip_dir/.bench_1080p.XXXXXX.mkv")
    trap 'rm -f "$partial"' EXIT
    "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -y "${encode[@]}" "$partial" >&2 ||
        { echo "[bench] error: encoding the benchmark clip failed" >&2; exit 1; }
    rm -f "$clip_dir/.key"
    chmod 644 "$partial"
    mv -f "$partial" "$clip"
    printf '%s\n' "$key" >"$clip_dir/.key"
fi
echo "$clip"
