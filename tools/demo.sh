#!/usr/bin/env bash
# The demo: loads the module the way the host does, lists the container
# families, prints the capability report and describes two generated clips,
# into a demo per-user folder.
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
for clip in mpeg2_tff.ts multi_2v3a.mkv; do
    echo "== kestrova-host info $clip"
    "$host" --appdata "$appdata" info "$build/fixtures/$clip"
    echo
done
echo "Per-user files of this demo:"
echo "  log:    $appdata/Kestrova/logs/Kestrova.log"
echo "  report: $appdata/Kestrova/SUPPORTED-CODECS.md"
