#!/usr/bin/env bash
# Generates the test media with the bundled ffmpeg from synthetic sources, so no
# media is downloaded or kept in the repository. Usage:
#   make-fixtures.sh OUTDIR FFMPEG
# OUTDIR is keyed by this script's own hash: when OUTDIR/.key matches and every
# file of OUTDIR/manifest.tsv is there, nothing is done. Otherwise the whole set
# is made in a sibling folder and renamed into place, so an interrupted run never
# leaves a partial set behind.
# OUTDIR/manifest.tsv: name<TAB>kind<TAB>frames, kind one of
# video|audio|still|data|corrupt (audio: audio streams and no video), frames
# the decoded count of the first video stream (or - where there is none or the
# file is damaged).
set -euo pipefail

die() {
    echo "make-fixtures: error: $*" >&2
    exit 1
}

[ $# -eq 2 ] || die "usage: make-fixtures.sh OUTDIR FFMPEG"
out=$(realpath -m "$1")
ffmpeg_bin=$(realpath -e "$2" 2>/dev/null) || die "no ffmpeg program at $2 (tools/provide-ffmpeg.sh provides it)"
ffprobe_bin=$(dirname "$ffmpeg_bin")/ffprobe
[ -x "$ffmpeg_bin" ] || die "$ffmpeg_bin is not executable"
[ -x "$ffprobe_bin" ] || die "no ffprobe program beside $ffmpeg_bin"
key=$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)

up_to_date() {
    [ -f "$out/.key" ] && [ -f "$out/manifest.tsv" ] || return 1
    [ "$(cat "$out/.key")" = "$key" ] || return 1
    local name rest
    while IFS=$'\t' read -r name rest; do
        [ -f "$out/$name" ] || return 1
    done < <(tail -n +2 "$out/manifest.tsv")
}
up_to_date && exit 0

parent=$(dirname "$out")
base=$(basename "$out")
mkdir -p "$parent"
# Leftovers of runs that were killed before they could clean up.
rm -rf "$parent/.$base".tmp.* "$parent/.$base".stale.*
work=$(mktemp -d "$parent/.$base.tmp.XXXXXX")
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
started=$SECONDS
echo "make-fixtures: generating test media into $out"

ff() { "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -y "$@" || die "ffmpeg failed: $*"; }
probe() { "$ffprobe_bin" -v error "$@" || die "ffprobe failed: $*"; }

# Sources. Stereo channels carry different tones so channel order is checkable.
video() { echo "testsrc2=s=${1:-320x240}:r=25:d=${2:-3}"; }
bars() { echo "smptehdbars=s=${1:-320x240}:r=25:d=${2:-3}"; }
stereo() { echo "aevalsrc=exprs=0.3*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=48000:d=${1:-3}"; }
mono() { echo "sine=f=1000:r=48000:d=${1:-3}"; }
tones() { # layout seconds rate frequency... (one tone per channel)
    local layout=$1 seconds=$2 rate=$3 exprs="" f
    shift 3
    for f in "$@"; do exprs+="${exprs:+|}0.25*sin(2*PI*$f*t)"; done
    echo "aevalsrc=exprs=$exprs:c=$layout:s=$rate:d=$seconds"
}
x264=(-c:v libx264 -preset veryfast -pix_fmt yuv420p -threads 2)
x265=(-c:v libx265 -preset ultrafast -pix_fmt yuv420p10le -threads 2)
aac=(-c:a aac -b:a 96k)
gop12=keyint=12:min-keyint=12:scenecut=0

cd "$work"
mkdir corrupt

# H.264, closed GOP with B-frames, in the four usual wrappers (one encode,
# remuxed, so all four hold the same stream).
ff -f lavfi -i "$(video)" -f lavfi -i "$(stereo)" -map 0:v -map 1:a "${x264[@]}" \
    -x264-params "$gop12:open-gop=0:bframes=2" "${aac[@]}" h264_closed.mp4
for ext in mkv mov ts; do ff -i h264_closed.mp4 -map 0 -c copy "h264_closed.$ext"; done

# H.264, open GOP: the B-frames after each non-IDR I-frame reference the GOP before.
ff -f lavfi -i "$(video)" -f lavfi -i "$(stereo)" -map 0:v -map 1:a "${x264[@]}" \
    -x264-params keyint=24:min-keyint=24:scenecut=0:open-gop=1:bframes=3 "${aac[@]}" h264_open.ts
ff -i h264_open.ts -map 0 -c copy h264_open.mkv

# H.264 in MPEG-TS with a GOP of 120 frames, longer than a few short steps back:
# a timestamp seek lands on any packet before the time asked for, seldom a keyframe.
ff -f lavfi -i "$(video 160x120 5.6)" "${x264[@]}" \
    -x264-params keyint=120:min-keyint=120:scenecut=0:bframes=3 h264_longgop.ts

ff -f lavfi -i "$(video 320x240 2)" "${x264[@]}" -x264-params keyint=1 h264_intra.mkv
ff -f lavfi -i "$(video 320x240 2)" "${x264[@]}" -x264-params "$gop12:bframes=2" -f h264 \
    h264_elementary.h264

# Variable frame rate: steps of 40, 40 and 10 ms, kept by a millisecond time base.
ff -f lavfi -i "$(video)" -vf "settb=1/1000,setpts=N*30+10*mod(N\,3)" -fps_mode vfr \
    -enc_time_base:v 1/1000 "${x264[@]}" -x264-params "$gop12" vfr.mkv

# HEVC Main 10, closed GOP with B-frames; and the same tagged PQ / BT.2020 with
# mastering display and light level SEI.
ff -f lavfi -i "$(video 320x240 2)" "${x265[@]}" -tag:v hvc1 \
    -x265-params "log-level=error:$gop12:open-gop=0:bframes=3" hevc10.mp4
ff -i hevc10.mp4 -map 0 -c copy hevc10.mkv
hdr10="hdr10=1:max-cll=1000,400"
hdr10+=":master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1)"
ff -f lavfi -i "$(video 320x240 2)" \
    -vf setparams=color_primaries=bt2020:color_trc=smpte2084:colorspace=bt2020nc:range=tv \
    "${x265[@]}" -x265-params "log-level=error:$gop12:open-gop=0:bframes=3:$hdr10" hevc10_pq.mkv

ff -f lavfi -i "$(video 320x240 2)" -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -row-mt 1 \
    -b:v 400k -g 12 -threads 2 vp9.webm
ff -i vp9.webm -map 0 -c copy vp9.mp4
ff -f lavfi -i "$(video 160x120 1)" -c:v libaom-av1 -usage realtime -cpu-used 8 -b:v 200k -g 12 \
    -threads 2 av1.mkv

# MPEG-2 interlaced, top field first, with interlaced motion estimation and DCT.
ff -f lavfi -i "$(video 720x576 2)" -f lavfi -i "$(stereo 2)" -map 0:v -map 1:a \
    -vf setfield=tff -c:v mpeg2video -flags +ilme+ildct -pix_fmt yuv420p -b:v 4M -maxrate 8M \
    -bufsize 1835k -g 12 -bf 2 -threads 2 -c:a mp2 -b:a 192k mpeg2_tff.ts
ff -i mpeg2_tff.ts -f lavfi -i "$(stereo 2)" -map 0:v -map 1:a -c:v copy -c:a pcm_s16le \
    mpeg2_tff.mxf
# The same stream in an MPEG program stream, a container without an index.
ff -i mpeg2_tff.ts -map 0 -c copy -f vob mpeg2_tff.mpg

# Intra-frame mastering codecs. The ProRes 4444 alpha is a horizontal ramp.
ff -f lavfi -i "$(video 320x240 2)" -c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le -threads 2 \
    prores_hq.mov
ff -f lavfi -i "$(video 320x240 2)" \
    -vf "format=yuva444p10le,geq=lum='lum(X,Y)':cb='cb(X,Y)':cr='cr(X,Y)':a='64+X*896/W'" \
    -c:v prores_ks -profile:v 4 -pix_fmt yuva444p10le -threads 2 prores4444_alpha.mov
ff -f lavfi -i "$(video 256x144 2)" -c:v dnxhd -profile:v dnxhr_lb -pix_fmt yuv422p -threads 2 \
    dnxhr.mxf
ff -f lavfi -i "$(video 320x240 2)" -c:v ffv1 -level 3 -slices 4 -g 1 -threads 2 ffv1.mkv
ff -f lavfi -i "$(video 320x240 2)" -f lavfi -i "$(stereo 2)" -map 0:v -map 1:a -c:v mjpeg \
    -pix_fmt yuvj420p -q:v 4 -c:a pcm_s16le mjpeg.avi
ff -f lavfi -i "$(bars 320x240 1)" -frames:v 1 still.png

# Uncompressed pictures in layouts no decoder above produces, so every
# conversion meets real frames. 100 pixels is not a whole number of the
# 6-pixel groups of v210.
for pf in bgra rgba64le gray nv12 yuyv422 gbrpf32le yuva444p12le gbrp10le yuv422p10le; do
    ff -f lavfi -i "$(bars 100x60 0.32)" -pix_fmt "$pf" -c:v rawvideo "raw_$pf.nut"
done

# Colour and HDR delivery. HDR tags on layouts whose best candidate is no
# HDR target; an odd size, whose last chroma column and row are half a pair;
# an untagged standard-definition colour; ProRes 4444 in Matroska, where the
# importer opens it (its best candidate goes through libswscale).
tags() { echo "setparams=color_primaries=bt2020:color_trc=$1:colorspace=$2"; }
ff -f lavfi -i "$(bars 160x120 0.32)" -vf "$(tags arib-std-b67 bt2020nc)" -pix_fmt yuv422p10le \
    -c:v ffv1 hdr_hlg_yuv422p10.mkv
ff -f lavfi -i "$(bars 160x120 0.32)" -vf "$(tags smpte2084 gbr)" -pix_fmt gbrp10le -c:v ffv1 \
    hdr_pq_gbrp10.mkv
ff -f lavfi -i "$(bars 160x120 0.32)" -vf "$(tags smpte2084 bt2020nc)" "${x264[@]}" hdr_pq_8bit.mkv
ff -f lavfi -i "$(bars 321x241 0.16)" -pix_fmt yuv420p -c:v rawvideo odd_321x241.nut
ff -f lavfi -i "color=red:s=720x480:r=25:d=0.08" "${x264[@]}" red_720x480.mkv
ff -i prores4444_alpha.mov -map 0:v -c copy prores4444_alpha.mkv

# Two video streams of different sizes, audio in stereo, mono and 5.1.
ff -f lavfi -i "$(video 320x240 2)" -f lavfi -i "$(bars 160x120 2)" -f lavfi -i "$(stereo 2)" \
    -f lavfi -i "$(mono 2)" -f lavfi -i "anoisesrc=r=48000:d=2:c=pink:a=0.1:seed=7" \
    -map 0 -map 1 -map 2 -map 3 -map 4 "${x264[@]}" -x264-params "$gop12" -c:a aac -b:a 64k \
    -filter:a:2 aformat=channel_layouts=5.1 multi_2v3a.mkv

# A left/right pair as two streams. NUT keeps the tags as written (Matroska
# would drop values it has no element for).
ff -f lavfi -i "$(video 320x240 2)" -f lavfi -i "$(bars 320x240 2)" -map 0 -map 1 "${x264[@]}" \
    -x264-params "$gop12" -metadata:s:v:0 stereo_mode=right_eye \
    -metadata:s:v:1 stereo_mode=left_eye stereo_pair.nut

# A grading LUT carried as an attachment.
printf 'TITLE "identity"\nLUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n' \
    >grade.CUBE
ff -f lavfi -i "$(video 320x240 2)" "${x264[@]}" -x264-params "$gop12" -attach grade.CUBE \
    -metadata:s:t mimetype=application/octet-stream -metadata:s:t filename=grade.CUBE \
    lut_attachment.mkv

# XMP packets under the keys muxers use. In xmp_stream.nut the packet sits in
# the first stream under a later key than the second stream's, and the
# container holds a key that differs from "xmp" in case only. xmp_keysN.nut
# carries the last N keys of the lookup order in its container, written in
# reverse, and an "xmp" stream tag that the container's packet outranks.
ff -f lavfi -i "$(video 160x120 0.4)" -f lavfi -i "$(mono 0.4)" -map 0 -map 1 "${x264[@]}" \
    -c:a pcm_s16le -metadata XMP=upper -metadata:s:v:0 xmp_packet='<x:xmpmeta>video</x:xmpmeta>' \
    -metadata:s:a:0 xmp=audio xmp_stream.nut
xmp_keys=(com.apple.quicktime.xmp=quicktime xmp_packet=packet XMP_=underscore xmp=plain)
for n in 1 2 3 4; do
    tags=()
    for tag in "${xmp_keys[@]:0:n}"; do tags+=(-metadata "$tag"); done
    ff -f lavfi -i "sine=r=8000:d=1" -c:a pcm_s16le "${tags[@]}" -metadata:s:a:0 xmp=stream \
        "xmp_keys$n.nut"
done

# Files without any video or audio stream. Matroska cannot hold an attachment
# alone, so a subtitle track keeps it company; NUT carries a raw data stream.
printf 'Kestrova test attachment\n' >notes.txt
printf '1\n00:00:00,000 --> 00:00:01,000\nno picture here\n\n' >notes.srt
ff -i notes.srt -attach notes.txt -metadata:s:t mimetype=text/plain -map 0 -c:s copy \
    data_attachment.mkv
seq 1 4000 >blob.bin
ff -f data -i blob.bin -map 0 -c copy -tag:d KSTD -f nut data_stream.nut
rm -f grade.CUBE notes.txt notes.srt blob.bin

# Audio only. Every channel has its own tone, so channel order is checkable;
# the LFE channel's tone is low enough to survive the AC-3 LFE filter.
ff -f lavfi -i "$(stereo 2)" "${aac[@]}" aac.m4a
ff -f lavfi -i "$(stereo 2)" "${aac[@]}" aac.mkv
ff -f lavfi -i "$(stereo 2)" "${aac[@]}" aac.aac
for codec in s16le s24le s32le f32le u8; do
    ff -f lavfi -i "$(stereo 2)" -c:a "pcm_$codec" "pcm_$codec.wav"
done
ff -f lavfi -i "$(stereo 2)" -c:a pcm_s16be pcm_s16be.aif
ff -f lavfi -i "$(stereo 2)" -c:a flac flac.flac
# The native Opus encoder is still marked experimental.
ff -f lavfi -i "$(stereo 2)" -c:a opus -strict -2 -b:a 96k opus.webm
ff -f lavfi -i "$(tones '5.1(side)' 2 48000 440 550 660 55 770 880)" -c:a ac3 -b:a 384k ac3_51.ac3
ff -f lavfi -i "$(stereo 2)" -c:a eac3 -b:a 192k eac3.eac3
ff -f lavfi -i "$(tones 7.1 2 48000 440 550 660 55 770 880 990 1100)" -c:a pcm_s16le pcm_71.wav
# MP2 in MPEG-TS whose sample rate drops from 48 to 44.1 kHz after 2 s. The
# container probe reads the whole of so short a file, so the stream's
# parameters show the second rate; the first decoded frames have the first.
ff -f lavfi -i "$(tones stereo 2 48000 440 660)" -c:a mp2 -b:a 192k rate_48k.ts
ff -f lavfi -i "$(tones stereo 2 44100 440 660)" -c:a mp2 -b:a 192k rate_44k.ts
printf 'file rate_48k.ts\nfile rate_44k.ts\n' >rate_segments.txt
ff -f concat -safe 0 -i rate_segments.txt -map 0 -c copy mp2_ratechange.ts
rm -f rate_48k.ts rate_44k.ts rate_segments.txt
exprs=""
for ch in $(seq 0 39); do exprs+="${exprs:+|}0.2*sin(2*PI*$((200 + 25 * ch))*t)"; done
ff -f lavfi -i "aevalsrc=exprs=$exprs:s=48000:d=1" -c:a pcm_s16le pcm_40ch.wav

# Damaged copies: cut at 55 %, and one byte in every 40th of the file inverted
# from 2 % on, so the headers survive and the decoders meet the damage.
damage() {
    local src=$1 stem=${1%.*} ext=${1##*.} size step off byte
    size=$(stat -c %s "$src")
    dd if="$src" of="corrupt/$stem.trunc.$ext" bs=65536 iflag=count_bytes \
        count=$((size * 55 / 100)) status=none
    dd if="$src" of="corrupt/$stem.flip.$ext" bs=65536 status=none
    step=$((size / 40 > 0 ? size / 40 : 1))
    for ((off = size * 2 / 100; off < size; off += step)); do
        byte=$(od -An -tu1 -j "$off" -N1 "$src")
        printf '%b' "\\0$(printf %03o $((byte ^ 255)))" |
            dd of="corrupt/$stem.flip.$ext" bs=1 seek="$off" conv=notrunc status=none
    done
}
damaged=(h264_closed.mkv h264_closed.mp4 h264_open.ts hevc10.mkv vp9.webm prores_hq.mov
    mpeg2_tff.ts mjpeg.avi pcm_s16le.wav aac.m4a ffv1.mkv)
for f in "${damaged[@]}"; do damage "$f"; done

# Pictures that cannot be decoded at all: the packet of picture K zeroed. In
# the intra-only clips only that picture is lost; in VP9 picture 0 is the
# keyframe the rest of its group needs.
blank_picture() { # file K
    local src=$1 stem=${1%.*} ext=${1##*.} size pos
    IFS=, read -r size pos < <(probe -select_streams v:0 -show_entries packet=size,pos -of csv=p=0 \
        "$src" | sed -n "$(($2 + 1))p")
    cp "$src" "corrupt/$stem.blank$2.$ext"
    head -c "$size" /dev/zero | dd of="corrupt/$stem.blank$2.$ext" bs=65536 seek="$pos" \
        oflag=seek_bytes conv=notrunc status=none
}
for f in mjpeg.avi prores_hq.mov; do blank_picture "$f" 10; done
blank_picture vp9.mp4 0

# Checks of what the tests rely on.
expect() { # file what got want
    [ "$3" = "$4" ] || die "$1: $2 is '$3', expected '$4'"
}
stream_field() { # file selector field
    probe -select_streams "$2" -show_entries "stream=$3" -of default=nw=1:nk=1 "$1" | sed -n 1p
}
for f in mpeg2_tff.ts mpeg2_tff.mxf; do expect "$f" "field order" "$(stream_field "$f" v:0 field_order)" tt; done
expect hevc10_pq.mkv transfer "$(stream_field hevc10_pq.mkv v:0 color_transfer)" smpte2084
expect hevc10_pq.mkv primaries "$(stream_field hevc10_pq.mkv v:0 color_primaries)" bt2020
expect hdr_hlg_yuv422p10.mkv transfer "$(stream_field hdr_hlg_yuv422p10.mkv v:0 color_transfer)" \
    arib-std-b67
expect red_720x480.mkv matrix "$(stream_field red_720x480.mkv v:0 color_space)" unknown
expect prores4444_alpha.mov "pixel format" "$(stream_field prores4444_alpha.mov v:0 pix_fmt)" \
    yuva444p12le
expect pcm_40ch.wav channels "$(stream_field pcm_40ch.wav a:0 channels)" 40
expect multi_2v3a.mkv "stream types" \
    "$(probe -show_entries stream=codec_type -of default=nw=1:nk=1 multi_2v3a.mkv | tr '\n' ' ')" \
    "video video audio audio audio "
expect multi_2v3a.mkv "audio channels" \
    "$(probe -select_streams a -show_entries stream=channels -of default=nw=1:nk=1 multi_2v3a.mkv | tr '\n' ' ')" \
    "2 1 6 "
expect stereo_pair.nut "eye tags" \
    "$(probe -show_entries stream_tags=stereo_mode -of default=nw=1:nk=1 stereo_pair.nut | tr '\n' ' ')" \
    "right_eye left_eye "
expect lut_attachment.mkv "attachment name" \
    "$(probe -select_streams t:0 -show_entries stream_tags=filename -of default=nw=1:nk=1 \
        lut_attachment.mkv)" grade.CUBE
for f in aac.mkv:aac aac.aac:aac pcm_s32le.wav:pcm_s32le flac.flac:flac opus.webm:opus \
    ac3_51.ac3:ac3 eac3.eac3:eac3 pcm_71.wav:pcm_s16le mp2_ratechange.ts:mp2; do
    expect "${f%:*}" codec "$(stream_field "${f%:*}" a:0 codec_name)" "${f#*:}"
done
expect ac3_51.ac3 channels "$(stream_field ac3_51.ac3 a:0 channels)" 6
expect pcm_71.wav "channel layout" "$(stream_field pcm_71.wav a:0 channel_layout)" 7.1
# The ffmpeg program labels its first frame with the stream's parameters, so
# only the last change counts.
expect mp2_ratechange.ts "rates of the decoded frames" \
    "$("$ffmpeg_bin" -hide_banner -nostdin -i mp2_ratechange.ts -af ashowinfo -f null - 2>&1 |
        sed -n 's/.*Parsed_ashowinfo.* rate:\([0-9]*\) .*/\1/p' | uniq | tail -2 | tr '\n' ' ')" \
    "48000 44100 "
for f in data_attachment.mkv data_stream.nut; do
    expect "$f" "video/audio streams" \
        "$(probe -show_entries stream=codec_type -of default=nw=1:nk=1 "$f" | grep -cE '^(video|audio)' || true)" 0
done

{
    printf 'name\tkind\tframes\n'
    for f in *.*; do
        case $f in
        *.png) kind=still ;;
        data_*) kind=data ;;
        *)
            kind=video
            if [ -z "$(stream_field "$f" v index)" ]; then
                kind=audio
                [ -n "$(stream_field "$f" a index)" ] || die "$f: neither video nor audio"
            fi
            ;;
        esac
        frames=-
        if [ "$kind" = video ] || [ "$kind" = still ]; then
            frames=$(probe -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
                -of default=nw=1:nk=1 "$f" | sed -n 1p)
            [[ $frames =~ ^[1-9][0-9]*$ ]] || die "$f: no decodable video frames ($frames)"
        fi
        printf '%s\t%s\t%s\n' "$f" "$kind" "$frames"
    done
    for f in corrupt/*; do printf '%s\t%s\t-\n' "$f" corrupt; done
} >.manifest
mv .manifest manifest.tsv
printf '%s\n' "$key" >.key

cd "$parent"
stale=""
if [ -e "$out" ]; then
    stale=$(mktemp -u "$parent/.$base.stale.XXXXXX")
    mv -T "$out" "$stale"
fi
mv -T "$work" "$out"
[ -z "$stale" ] || rm -rf "$stale"
echo "make-fixtures: $(($(wc -l <"$out/manifest.tsv") - 1)) files in $((SECONDS - started)) s"
