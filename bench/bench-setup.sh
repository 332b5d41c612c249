#!/usr/bin/env bash
# Sourced by the benchmark scripts with their arguments: strict mode, die,
# and the source folder, BUILD and the bundled ffmpeg program from the one
# argument BUILD.
set -euo pipefail

die() {
    echo "[bench] error: $*" >&2
    exit 1
}

[ $# -eq 1 ] || die "usage: $(basename "$0") BUILD"
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "$1")
ffmpeg_bin=$build/tools/ffmpeg
