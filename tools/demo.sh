#!/usr/bin/env bash
# The demo: loads the module the way the host does, lists the container
# families, prints the capability report, describes generated clips, writes
# a contact sheet of a dozen delivered frames and the demo clip's audio as a
# WAV file and its waveform as a picture, into build/demo.
set -euo pipefail
build=$(realpath "${1:-build}")
appdata=$build/demo/appdata
host=$build/bin/kestrova-host
mkdir -p "$appdata"
echo "== kestrova-host formats"
"$host" --appdata "$appdata" formats
echo
echo "== kestrova-host report"
"$host" --appdata "$appdata" report
echo
for clip in mpeg2_tff.ts multi_2v3a.mkv h264_closed.mkv; do
    echo "== kestrova-host info $clip"
    "$host" --appdata "$appdata" info "$build/fixtures/$clip"
    echo
done
sheet=$build/demo/contact_sheet.png
echo "== kestrova-host frames h264_closed.mkv --at 0,6,...,66 --hash --sheet $sheet"
"$host" --appdata "$appdata" frames "$build/fixtures/h264_closed.mkv" \
    --at 0,6,12,18,24,30,36,42,48,54,60,66 --hash --sheet "$sheet"
echo
echo "== kestrova-host play h264_closed.mkv"
"$host" --appdata "$appdata" play "$build/fixtures/h264_closed.mkv"
echo
# A copy of the clip, so the peak cache file the importer writes beside it
# stays out of the test media.
clip=$build/demo/h264_closed.mkv
cp "$build/fixtures/h264_closed.mkv" "$clip"
rm -f "$clip".a*.kstpk
wav=$build/demo/h264_closed_audio.wav
echo "== kestrova-host audio h264_closed.mkv --out $wav"
"$host" --appdata "$appdata" audio "$clip" --out "$wav"
echo
waveform=$build/demo/waveform.png
echo "== kestrova-host peaks h264_closed.mkv --png $waveform (twice: the second call reads the cache file)"
"$host" --appdata "$appdata" peaks "$clip" --png "$waveform"
"$host" --appdata "$appdata" peaks "$clip"
echo
echo "Files of this demo:"
echo "  log:           $appdata/Kestrova/logs/Kestrova.log"
echo "  report:        $appdata/Kestrova/SUPPORTED-CODECS.md"
echo "  contact sheet: $sheet"
echo "  audio:         $wav"
echo "  waveform:      $waveform"
