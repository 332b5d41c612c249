#!/usr/bin/env bash
# Generates the caption test media: clips whose pictures carry known EIA-608
# byte pairs as A53 side data, a MOV with an EIA-608 track (both from the
# caption media program, which links FFmpeg) and clips with SRT, WebVTT, ASS
# and mov_text subtitle streams (from the bundled ffmpeg). Usage:
#   make-caption-fixtures.sh OUTDIR FFMPEG CAPTION_MEDIA_PROGRAM
# OUTDIR is keyed by the hash of this script and of the program's source; the
# set is made in a sibling folder and renamed into place, so an interrupted
# run never leaves a partial set behind.
set -euo pipefail

die() {
    echo "make-caption-fixtures: error: $*" >&2
    exit 1
}

[ $# -eq 3 ] || die "usage: make-caption-fixtures.sh OUTDIR FFMPEG CAPTION_MEDIA_PROGRAM"
out=$(realpath -m "$1")
ffmpeg_bin=$(realpath -e "$2" 2>/dev/null) || die "no ffmpeg program at $2"
ffprobe_bin=$(dirname "$ffmpeg_bin")/ffprobe
captions_bin=$(realpath -e "$3" 2>/dev/null) || die "no caption media program at $3"
here=$(dirname "${BASH_SOURCE[0]}")
key=$(cat "${BASH_SOURCE[0]}" "$here/caption-media/caption_media.cpp" | sha256sum | cut -d' ' -f1)
[ -f "$out/.key" ] && [ "$(cat "$out/.key")" = "$key" ] && exit 0

parent=$(dirname "$out")
base=$(basename "$out")
mkdir -p "$parent"
rm -rf "$parent/.$base".tmp.* "$parent/.$base".stale.*
work=$(mktemp -d "$parent/.$base.tmp.XXXXXX")
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
echo "make-caption-fixtures: generating caption test media into $out"

ff() { "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -y "$@" || die "ffmpeg failed: $*"; }
probe() { "$ffprobe_bin" -v error "$@" || die "ffprobe failed: $*"; }
cd "$work"

# Every picture carries one byte pair spelling "HELLO KESTROVA" (see the
# program), as A53 side data or in a separate EIA-608 track. The importer
# leaves ISO media with only the host's own codecs to the host, so the MOV
# holds FFV1.
"$captions_bin" mpeg2_a53.ts mpeg2video a53 || die "caption media program failed"
"$captions_bin" h264_a53.mkv libx264 a53 || die "caption media program failed"
"$captions_bin" ffv1_c608.mov ffv1 track || die "caption media program failed"

# Text subtitles beside video that carries no A53 data: MPEG-4 Part 2, and
# VP9 in MP4 (which the importer opens).
cat >subs.srt <<'SRT'
1
00:00:00,200 --> 00:00:00,800
Hello from subtitles

2
00:00:01,000 --> 00:00:01,500
Second caption
SRT
ff -i subs.srt subs.vtt
ff -i subs.srt subs.ass
video="testsrc2=s=160x120:r=25:d=2"
ff -f lavfi -i "$video" -i subs.srt -map 0 -map 1 -c:v mpeg4 -c:s srt subrip.mkv
ff -f lavfi -i "$video" -i subs.vtt -map 0 -map 1 -c:v mpeg4 -c:s webvtt webvtt.mkv
ff -f lavfi -i "$video" -i subs.ass -map 0 -map 1 -c:v mpeg4 -c:s ass ass.mkv
ff -f lavfi -i "$video" -i subs.srt -map 0 -map 1 -c:v libvpx-vp9 -deadline realtime -cpu-used 8 \
    -b:v 200k -c:s mov_text mov_text.mp4
# No video at all: the scan reads the subtitle stream only.
ff -f lavfi -i "sine=f=440:r=48000:d=2" -i subs.srt -map 0 -map 1 -c:a flac -c:s srt \
    audio_subrip.mkv
rm -f subs.srt subs.vtt subs.ass

# 40 s of H.264 without captions at one picture a second: the scan gives up
# after 30 s of media.
ff -f lavfi -i "testsrc2=s=64x64:r=1:d=40" -c:v libx264 -preset veryfast -pix_fmt yuv420p \
    -threads 2 h264_40s_nocc.mkv

expect() { # file what got want
    [ "$3" = "$4" ] || die "$1: $2 is '$3', expected '$4'"
}
# MPEG-TS lists its streams once more under their program: one line per index.
codecs() {
    probe -show_entries stream=index,codec_name -of csv=p=0 "$1" | grep , | sort -u | cut -d, -f2 |
        tr '\n' ' '
}
expect mpeg2_a53.ts codecs "$(codecs mpeg2_a53.ts)" "mpeg2video "
expect h264_a53.mkv codecs "$(codecs h264_a53.mkv)" "h264 "
expect ffv1_c608.mov codecs "$(codecs ffv1_c608.mov)" "ffv1 eia_608 "
expect subrip.mkv codecs "$(codecs subrip.mkv)" "mpeg4 subrip "
expect audio_subrip.mkv codecs "$(codecs audio_subrip.mkv)" "flac subrip "
expect webvtt.mkv codecs "$(codecs webvtt.mkv)" "mpeg4 webvtt "
expect ass.mkv codecs "$(codecs ass.mkv)" "mpeg4 ass "
expect mov_text.mp4 codecs "$(codecs mov_text.mp4)" "vp9 mov_text "
printf '%s\n' "$key" >.key

cd "$parent"
stale=""
if [ -e "$out" ]; then
    stale=$(mktemp -u "$parent/.$base.stale.XXXXXX")
    mv -T "$out" "$stale"
fi
mv -T "$work" "$out"
[ -z "$stale" ] || rm -rf "$stale"
echo "make-caption-fixtures: $(ls "$out" | wc -l) files"
