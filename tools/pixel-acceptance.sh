#!/usr/bin/env bash
# For every picture fixture the importer opens and every format it offers,
# delivers frame 0 through kestrova-host in that format and compares the
# picture, viewed as 8-bit RGB, with FFmpeg's own conversion of the same
# frame to RGB under the clip's described matrix and range. Prints one row
# per pair with the mean absolute difference in 8-bit levels; exits 1 when a
# pair reaches 2 levels or is not delivered.
# Usage: pixel-acceptance.sh BUILD
set -euo pipefail

script=pixel-acceptance.sh
# shellcheck source=tools/acceptance-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/acceptance-common.sh"

ff() { "$ffmpeg_bin" -hide_banner -nostdin -loglevel error -y "$@"; }
# The scale filter's names for the matrices the importer tells apart.
matrix_name() {
    case $1 in
    5 | 6) echo bt601 ;;
    9 | 10) echo bt2020 ;;
    *) echo bt709 ;;
    esac
}
# Mean absolute difference of two files of 8-bit samples.
mean_difference() {
    paste <(od -An -v -tu1 -w1 "$1") <(od -An -v -tu1 -w1 "$2") |
        awk '{ d = $1 - $2; s += (d < 0 ? -d : d); n++ } END { printf "%.3f", (n ? s / n : 999) }'
}

failures=0
printf '%-26s %-6s %-9s %8s\n' fixture format delivered "mean|d|"
while IFS=$'\t' read -r name kind _; do
    [ "$kind" = video ] || [ "$kind" = still ] || continue
    clip=$fixtures/$name
    info=$("$host_bin" --appdata "$appdata" info "$clip" --json 2>/dev/null) || continue
    matrix=$(echo "$info" | grep -o '"colorSpaces":\[{[^}]*' | grep -o '"matrix":[0-9]*' | cut -d: -f2)
    full=$(echo "$info" | grep -o '"colorSpaces":\[{[^}]*' | grep -o '"fullRange":[a-z]*' | cut -d: -f2)
    range=tv
    [ "${full:-false}" = true ] && range=pc
    # One reference per video stream: the importer's first host stream may
    # be any of them (a stereo pair puts the left eye first). Chroma is
    # taken point-sampled, as the host's view of a picture reads it.
    rm -f "$work"/reference_*.rgb
    for stream in 0 1 2 3; do
        ff -i "$clip" -map "0:v:$stream" -frames:v 1 -vf "scale=in_color_matrix=$(matrix_name \
            "${matrix:-1}"):in_range=$range:flags=neighbor+full_chroma_int+accurate_rnd,format=rgb24" \
            -f rawvideo "$work/reference_$stream.rgb" 2>/dev/null || break
    done
    [ -f "$work/reference_0.rgb" ] || die "ffmpeg cannot convert $name"
    for format in $(echo "$info" | grep -o '"fourcc":"[^"]*"' | cut -d'"' -f4); do
        rm -rf "$work/out" && mkdir -p "$work/out"
        delivered=$("$host_bin" --appdata "$appdata" frames "$clip" --at 0 --format "$format" \
            --json --out "$work/out" 2>/dev/null | grep -o '"fourcc":"[^"]*"' | cut -d'"' -f4 || true)
        difference=-
        if [ -f "$work/out/frame_000000.png" ]; then
            ff -i "$work/out/frame_000000.png" -f rawvideo -pix_fmt rgb24 "$work/ours.rgb"
            for reference in "$work"/reference_*.rgb; do
                candidate=$(mean_difference "$work/ours.rgb" "$reference")
                if [ "$difference" = - ] ||
                    awk -v a="$candidate" -v b="$difference" 'BEGIN { exit !(a < b) }'; then
                    difference=$candidate
                fi
            done
        fi
        verdict=ok
        if [ "$difference" = - ] || awk -v d="$difference" 'BEGIN { exit !(d >= 2) }'; then
            verdict=FAIL
            failures=$((failures + 1))
        fi
        printf '%-26s %-6s %-9s %8s %s\n' "$name" "$format" "${delivered:--}" "$difference" "$verdict"
    done
done < <(tail -n +2 "$fixtures/manifest.tsv")
echo "[acceptance] $failures pair(s) at or above 2 levels"
[ "$failures" -eq 0 ]
