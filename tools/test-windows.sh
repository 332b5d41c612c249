#!/usr/bin/env bash
# Runs the Windows build under Wine, in a private prefix inside the Windows
# build folder: first the module tests, then kestrova-host.exe against the
# Linux kestrova-host on every fixture. formats, info and frame hashes must
# agree everywhere; audio WAV bytes wherever the codec is lossless; contact
# sheets and waveform pictures byte for byte; captions of the caption media,
# the pictures of a trim, a copy and a size estimate.
# Usage: test-windows.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
say() { echo "[test-windows] $*"; }

linux=$(realpath "${1:?usage: test-windows.sh LINUX_BUILD WINDOWS_BUILD}")
win=$(realpath "${2:?usage: test-windows.sh LINUX_BUILD WINDOWS_BUILD}")
[ -x "$linux/bin/kestrova-host" ] && [ -f "$linux/fixtures/manifest.tsv" ] ||
  { say "build the Linux side first (make build)"; exit 2; }
[ -f "$win/bin/kestrova-host.exe" ] || { say "build the Windows side first (make windows)"; exit 2; }
"$(dirname "$0")/install-deps.sh" wine wine64

# The module exports its entry and nothing else, and FFmpeg is loaded at run
# time, never imported.
headers=$(x86_64-w64-mingw32-objdump -p "$win/bin/Kestrova.prm")
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | grep -E '^\s+\[ *[0-9]+\]' || true)
imports=$(grep 'DLL Name' <<<"$headers" | awk '{print $3}' | tr '\n' ' ')
if [ "$(wc -l <<<"$exports")" -ne 1 ] || ! grep -q '\] xImportEntry$' <<<"$exports" ||
  grep -qE '(avutil|avcodec|avformat|swscale|swresample)-' <<<"$imports"; then
  say "Kestrova.prm must export xImportEntry only and import no FFmpeg DLL; exports:"
  echo "$exports" >&2
  say "imports: $imports"
  exit 1
fi
say "Kestrova.prm exports xImportEntry only and imports $imports"

export WINEPREFIX=$win/wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating the Wine prefix"
  wine wineboot --init >/dev/null 2>&1
fi
# The test programs' module copies stay loaded until their process ends, so
# Windows cannot delete them then: clear them out once Wine has stopped.
clear_wine_temp() {
  timeout 120 wineserver -w 2>/dev/null || wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"/drive_c/users/*/Temp/kestrova-*
}
clear_wine_temp
trap clear_wine_temp EXIT
# The tests find the media in the build folder, as on Linux.
ln -sfn "$linux/fixtures" "$win/fixtures"
ln -sfn "$linux/fixtures-captions" "$win/fixtures-captions"
# Wine's drive Z: is the root of the Linux file system.
windows_path() { local path=$1; echo "Z:${path//\//\\}"; }

work=$win/wine-checks
rm -rf "$work"
mkdir -p "$work/linux" "$work/windows"
export LOCALAPPDATA
LOCALAPPDATA=$(windows_path "$work/appdata-tests")
say "module tests"
# Now and then the test program, its tests all run, has not exited under Wine
# minutes later; the report it wrote decides then, so CI never waits forever.
report=$work/module-tests.xml
status=0
timeout 900 wine "$win/bin/kestrova_module_tests.exe" --gtest_brief=1 \
  --gtest_output="xml:$(windows_path "$report")" \
  ${KESTROVA_WINDOWS_TESTS:+--gtest_filter=$KESTROVA_WINDOWS_TESTS} || status=$?
if [ "$status" -eq 124 ]; then
  wineserver -k || true
  if [ -s "$report" ] && grep -q '<testsuites [^>]*failures="0" [^>]*errors="0"' "$report"; then
    say "WARNING: the module tests all passed, but the test program did not exit under Wine"
  else
    say "the module tests did not finish"
    exit 1
  fi
elif [ "$status" -ne 0 ]; then
  exit "$status"
fi
unset LOCALAPPDATA

# Both hosts with a fresh per-user folder each; Windows writes CR LF.
on_linux() { "$linux/bin/kestrova-host" --appdata "$work/appdata-linux" "$@"; }
on_windows() {
  wine "$win/bin/kestrova-host.exe" --appdata "$(windows_path "$work/appdata-windows")" "$@" |
    tr -d '\r'
}

# The analysis text in info names the folder FFmpeg was loaded from, each
# build's own.
same_ffmpeg_folder() { sed 's/"FFmpeg fingerprint: [^|"]*|/"FFmpeg fingerprint: FOLDER|/'; }

failures=0
# compare WHAT FILE LINUX_OUTPUT WINDOWS_OUTPUT
compare() {
  if { [ ! -e "$3" ] && [ ! -e "$4" ]; } || cmp -s "$3" "$4"; then
    printf '%-8s %-28s same\n' "$1" "$2"
  else
    printf '%-8s %-28s DIFFERENT\n' "$1" "$2"
    failures=$((failures + 1))
  fi
}

on_linux formats --json >"$work/linux/formats" || true
on_windows formats --json >"$work/windows/formats" || true
compare formats - "$work/linux/formats" "$work/windows/formats"

while IFS=$'\t' read -r name kind _; do
  case $kind in video | still | audio) ;; *) continue ;; esac
  clip=$linux/fixtures/$name
  wclip=$(windows_path "$clip")
  # The path is the one thing the two may print differently.
  on_linux info "$clip" --json 2>/dev/null | sed "s|$clip|CLIP|g" |
    same_ffmpeg_folder >"$work/linux/$name.info" || true
  on_windows info "$wclip" --json 2>/dev/null | sed "s|${wclip//\\/\\\\\\\\}|CLIP|g" |
    same_ffmpeg_folder >"$work/windows/$name.info" || true
  compare info "$name" "$work/linux/$name.info" "$work/windows/$name.info"
  if [ "$kind" != audio ]; then
    on_linux frames "$clip" --hash >"$work/linux/$name.hash" 2>/dev/null || true
    on_windows frames "$wclip" --hash >"$work/windows/$name.hash" 2>/dev/null || true
    compare frames "$name" "$work/linux/$name.hash" "$work/windows/$name.hash"
  else
    on_linux audio "$clip" --out "$work/linux/$name.wav" >/dev/null 2>&1 || true
    on_windows audio "$wclip" --out "$(windows_path "$work/windows/$name.wav")" >/dev/null 2>&1 || true
    case $name in
    pcm_* | flac.*) compare audio "$name" "$work/linux/$name.wav" "$work/windows/$name.wav" ;;
    *) { [ ! -e "$work/linux/$name.wav" ] || cmp -s "$work/linux/$name.wav" "$work/windows/$name.wav"; } &&
        printf '%-8s %-28s same\n' audio "$name" ||
        printf '%-8s %-28s differs (lossy codec, floating point)\n' audio "$name" ;;
    esac
  fi
done <"$linux/fixtures/manifest.tsv"

clip=$linux/fixtures/h264_closed.mkv
on_linux frames "$clip" --range 0:12 --sheet "$work/linux/sheet.png" >/dev/null 2>&1 || true
on_windows frames "$(windows_path "$clip")" --range 0:12 \
  --sheet "$(windows_path "$work/windows/sheet.png")" >/dev/null 2>&1 || true
compare sheet h264_closed.mkv "$work/linux/sheet.png" "$work/windows/sheet.png"
on_linux peaks "$clip" --png "$work/linux/peaks.png" >/dev/null 2>&1 || true
on_windows peaks "$(windows_path "$clip")" --png "$(windows_path "$work/windows/peaks.png")" \
  >/dev/null 2>&1 || true
compare peaks h264_closed.mkv "$work/linux/peaks.png" "$work/windows/peaks.png"

# A path that only survives as UTF-16, on the command line and in the module.
unicode="$work/клип 日本.mkv"
cp "$clip" "$unicode"
on_linux info "$unicode" --json 2>/dev/null | sed "s|$unicode|CLIP|g" |
  same_ffmpeg_folder >"$work/linux/unicode.info" || true
wunicode=$(windows_path "$unicode")
on_windows info "$wunicode" --json 2>/dev/null | sed "s|${wunicode//\\/\\\\\\\\}|CLIP|g" |
  same_ffmpeg_folder >"$work/windows/unicode.info" || true
compare info "non-ASCII path" "$work/linux/unicode.info" "$work/windows/unicode.info"

# kestrova-index beside a media file of that name: the same index as on Linux.
unicode_ts="$work/клип 日本.ts"
cp "$linux/fixtures/h264_longgop.ts" "$unicode_ts"
"$linux/bin/kestrova-index" "$unicode_ts" --out "$work/linux/index.kstidx" >/dev/null 2>&1 || true
wine "$win/bin/kestrova-index.exe" "$(windows_path "$unicode_ts")" >/dev/null 2>&1 || true
compare index "non-ASCII path" "$work/linux/index.kstidx" "${unicode_ts%.ts}.kstidx"

# Captions, each side scanning a copy of its own (a scan leaves its cache
# file beside the media).
mkdir -p "$work/linux/captions" "$work/windows/captions"
for media in "$linux"/fixtures-captions/*.*; do
  name=$(basename "$media")
  case $name in *.kstcc) continue ;; esac
  cp "$media" "$work/linux/captions/$name"
  cp "$media" "$work/windows/captions/$name"
  on_linux captions "$work/linux/captions/$name" --json >"$work/linux/$name.captions" 2>/dev/null ||
    true
  on_windows captions "$(windows_path "$work/windows/captions/$name")" --json \
    >"$work/windows/$name.captions" 2>/dev/null || true
  compare captions "$name" "$work/linux/$name.captions" "$work/windows/$name.captions"
done

# A trim by remuxing holds the same pictures on both; a copy is the same
# bytes; a size estimate is the same number.
on_linux trim "$clip" --in 1.2 --dur 1.2 --out "$work/linux/trim.mkv" >/dev/null 2>&1 || true
on_windows trim "$(windows_path "$clip")" --in 1.2 --dur 1.2 \
  --out "$(windows_path "$work/windows/trim.mkv")" >/dev/null 2>&1 || true
for side in linux windows; do
  on_linux frames "$work/$side/trim.mkv" --hash >"$work/$side/trim.hash" 2>/dev/null || true
done
[ -s "$work/linux/trim.hash" ] || { say "the Linux trim has no frames"; failures=$((failures + 1)); }
compare trim h264_closed.mkv "$work/linux/trim.hash" "$work/windows/trim.hash"
on_windows copy "$(windows_path "$clip")" "$(windows_path "$work/windows/copy.mkv")" \
  >/dev/null 2>&1 || true
compare copy h264_closed.mkv "$clip" "$work/windows/copy.mkv"
on_linux size "$clip" --in 1 --dur 2 --json >"$work/linux/size" 2>/dev/null || true
on_windows size "$(windows_path "$clip")" --in 1 --dur 2 --json >"$work/windows/size" 2>/dev/null ||
  true
compare size h264_closed.mkv "$work/linux/size" "$work/windows/size"

[ "$failures" -eq 0 ] || { say "$failures checks differ between Linux and Windows"; exit 1; }
say "Linux and Windows agree"
