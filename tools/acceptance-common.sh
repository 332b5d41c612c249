# Sourced by the acceptance scripts: checks the build folder given as the one
# argument and sets build, ffmpeg_bin, ffprobe_bin, host_bin, fixtures and a
# private work folder with an appdata folder for the tool, removed on exit.
# The sourcing script names itself in `script` first.

die() {
    echo "[acceptance] error: $*" >&2
    exit 2
}

[ $# -eq 1 ] || die "usage: $script BUILD"
build=$(realpath -m "$1")
ffmpeg_bin=$build/tools/ffmpeg
ffprobe_bin=$build/tools/ffprobe
host_bin=$build/bin/kestrova-host
fixtures=$build/fixtures
[ -x "$ffmpeg_bin" ] && [ -x "$host_bin" ] && [ -f "$fixtures/manifest.tsv" ] ||
    die "build first (make build)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
appdata=$work/appdata
mkdir -p "$appdata"
