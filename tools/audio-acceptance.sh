#!/usr/bin/env bash
# For every fixture with audio and each of its audio streams, writes the
# stream as the host receives it (kestrova-host audio --out, a float WAV) and
# as FFmpeg decodes it (ffmpeg -map 0:a:N -c:a pcm_f32le, at the importer's
# rate), and compares the two: channels, length in sample frames, the largest
# absolute difference and the number of samples that differ over the frames
# both have. Prints a Markdown table whose verdict names what differs; exits 1
# when a stream the importer opens is not delivered sample for sample (files
# the importer declines are listed, not counted).
# Host streams against FFmpeg audio streams: each audio stream fills one slot
# per group of 32 channels, in stream order. In a file without video, host
# stream K carries slot K; with V video streams, host stream 0 carries slot 0
# and slot K >= 1 is host stream V + K - 1. Usage: audio-acceptance.sh BUILD
set -euo pipefail

script=audio-acceptance.sh
# shellcheck source=tools/acceptance-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/acceptance-common.sh"

# MPEG-TS lists each stream again under its program, hence the sort -u.
video_streams() { # file
    "$ffprobe_bin" -v error -select_streams v -show_entries stream=index -of csv=p=0 "$1" |
        sort -u | grep -c . || true
}
audio_channels() { # file: one line "index,channels" per audio stream, in order
    "$ffprobe_bin" -v error -select_streams a -show_entries stream=index,channels -of csv=p=0 \
        "$1" | grep . | sort -u -t, -k1,1n
}

# Prints "channels ours/theirs|frames ours/theirs|max abs diff|differing samples|verdict".
compare_wavs() { # ours theirs first-channel-of-theirs
    python3 - "$1" "$2" "$3" <<'EOF'
import array, struct, sys

HOST_CHANNELS = 32

def read_float_wav(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit(f"{path}: not a WAV file")
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        chunk, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        body = data[pos + 8:pos + 8 + size]
        if chunk == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body)
        elif chunk == b"data":
            samples = body
        pos += 8 + size + (size & 1)
    if fmt is None or samples is None:
        sys.exit(f"{path}: no fmt or data chunk")
    tag, channels, rate, _, align, bits = fmt
    if tag not in (3, 0xFFFE) or bits != 32 or align != channels * 4:
        sys.exit(f"{path}: not 32-bit float (format {tag:#x}, {bits} bits)")
    values = array.array("f")
    values.frombytes(samples[:len(samples) // align * align])
    return channels, rate, values

ours_ch, ours_rate, ours = read_float_wav(sys.argv[1])
theirs_ch, theirs_rate, theirs = read_float_wav(sys.argv[2])
first = int(sys.argv[3])
ours_frames, theirs_frames = len(ours) // ours_ch, len(theirs) // theirs_ch
expected_ch = min(theirs_ch - first, HOST_CHANNELS)
channels = min(ours_ch, expected_ch)
largest, differing = 0.0, 0
for frame in range(min(ours_frames, theirs_frames)):
    a, b = frame * ours_ch, frame * theirs_ch + first
    for c in range(channels):
        if ours[a + c] != theirs[b + c]:
            differing += 1
            largest = max(largest, abs(ours[a + c] - theirs[b + c]))
faults = []
if ours_ch != expected_ch:
    faults.append("CHANNELS")
if ours_rate != theirs_rate:
    faults.append(f"RATE {ours_rate}/{theirs_rate}")
if ours_frames != theirs_frames:
    faults.append("LENGTH")
if differing:
    faults.append("SAMPLES")
print(f"{ours_ch}/{theirs_ch}|{ours_frames}/{theirs_frames}|{largest:.3g}|{differing}|"
      f"{', '.join(faults) or 'exact'}")
EOF
}

failures=0
printf '| fixture | host stream | ffmpeg stream | channels ours/ffmpeg | frames ours/ffmpeg | max abs diff | differing samples | verdict |\n'
printf '|---|---|---|---|---|---|---|---|\n'
while IFS=$'\t' read -r name kind _; do
    [ "$kind" = audio ] || [ "$kind" = video ] || continue
    clip=$fixtures/$name
    videos=$(video_streams "$clip")
    slot=0 n=0
    while IFS=, read -r _ channels; do
        for ((first = 0; first < channels; first += 32)); do
            stream=$slot
            [ "$videos" -gt 0 ] && [ "$slot" -gt 0 ] && stream=$((videos + slot - 1))
            slot=$((slot + 1))
            theirs="a:$n"
            [ "$channels" -le 32 ] || theirs+=" ch $first-$((first + 31 < channels ? first + 31 : channels - 1))"
            echo "[acceptance] $name host stream $stream ($theirs)" >&2
            rm -f "$work/ours.wav" "$work/theirs.wav"
            answer=0
            json=$("$host_bin" --appdata "$appdata" audio "$clip" --stream "$stream" --json \
                --out "$work/ours.wav" 2>"$work/err") || answer=$?
            # The importer delivers a stream at one rate throughout; ffmpeg
            # resamples to it where the rate changes mid-stream.
            rate=$(echo "$json" | grep -o '"sampleRate":[0-9]*' | cut -d: -f2 || true)
            "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -y -i "$clip" -map "0:a:$n" \
                ${rate:+-ar "$rate"} -c:a pcm_f32le "$work/theirs.wav" ||
                die "ffmpeg cannot decode a:$n of $name"
            if [ "$answer" -eq 3 ]; then
                printf '| %s | %s | %s | | | | | declined |\n' "$name" "$stream" "$theirs"
                continue
            fi
            if [ "$answer" -ne 0 ] || [ ! -s "$work/ours.wav" ]; then
                printf '| %s | %s | %s | | | | | FAILED (exit %s: %s) |\n' "$name" "$stream" \
                    "$theirs" "$answer" "$(head -1 "$work/err")"
                failures=$((failures + 1))
                continue
            fi
            result=$(compare_wavs "$work/ours.wav" "$work/theirs.wav" "$first") ||
                die "comparing $name failed"
            printf '| %s | %s | %s | %s |\n' "$name" "$stream" "$theirs" "${result//|/ | }"
            [[ $result == *"|exact" ]] || failures=$((failures + 1))
        done
        n=$((n + 1))
    done < <(audio_channels "$clip")
done < <(tail -n +2 "$fixtures/manifest.tsv")
echo "[acceptance] $failures stream(s) not delivered sample for sample" >&2
[ "$failures" -eq 0 ]
