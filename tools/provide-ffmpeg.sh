#!/usr/bin/env bash
# Provides FFmpeg 9.0.x built from Debian's source package, cached outside the
# build tree. Usage: provide-ffmpeg.sh BUILD_DIR
#   BUILD_DIR/bin/ffmpeg/   the five shared libraries (RUNPATH $ORIGIN)
#   BUILD_DIR/tools/        the ffmpeg and ffprobe programs
#   BUILD_DIR/ffmpeg-sdk    link to the cached install (headers for the module)
# Environment:
#   KESTROVA_FFMPEG_TARBALL  use this orig tarball instead of downloading one
#   KESTROVA_FFMPEG_PREFIX   use an existing FFmpeg 9 install instead of building
#   KESTROVA_CACHE           cache folder (default ~/.cache/kestrova)
set -euo pipefail
say() { echo "[ffmpeg] $*"; }
source "$(dirname "$0")/debian-source.sh"

build_dir=$(realpath -m "${1:?usage: provide-ffmpeg.sh BUILD_DIR}")

configure_opts=(--enable-shared --disable-static --disable-doc --disable-autodetect
  --enable-gpl --enable-zlib --enable-libdav1d --enable-libx264 --enable-libx265
  --enable-libvpx --enable-libaom --enable-pthreads --disable-debug
  --enable-ffnvcodec --enable-cuvid --enable-nvdec)
build_deps=(nasm pkg-config zlib1g-dev libdav1d-dev libx264-dev libx265-dev
  libvpx-dev libaom-dev patchelf xz-utils make gcc)

if [ -n "${KESTROVA_FFMPEG_PREFIX:-}" ]; then
  prefix=$(realpath "$KESTROVA_FFMPEG_PREFIX")
  say "using the FFmpeg install at $prefix"
  install_packages patchelf
else
  opts_key=$(printf '%s\n' "${configure_opts[@]}" | sha256sum | cut -c1-12)
  # Reuse any cached build of a 9.0.x release with these options: no network.
  cached=$(ls -d "$cache_root"/ffmpeg-9.0.*-"$opts_key" 2>/dev/null | sort -V | tail -n1 || true)
  if [ -z "${KESTROVA_FFMPEG_TARBALL:-}" ] && [ -n "$cached" ] && [ -f "$cached/.complete" ]; then
    prefix=$cached
    ffmpeg_version=$(basename "$cached" | sed -E "s/^ffmpeg-(.*)-$opts_key$/\1/")
  else
    find_ffmpeg_source
    prefix=$cache_root/ffmpeg-$ffmpeg_version-$opts_key
  fi
  if [ -f "$prefix/.complete" ]; then
    say "FFmpeg $ffmpeg_version already built in $prefix"
  else
    install_packages "${build_deps[@]}"
    work=$cache_root/work-$ffmpeg_version-$opts_key
    rm -rf "$work"; mkdir -p "$work"
    nvtar=$(nv_headers_tarball)
    say "unpacking"
    mkdir -p "$work/ffmpeg" "$work/nv"
    tar -xf "$ffmpeg_tarball" -C "$work/ffmpeg" --strip-components=1
    tar -xf "$nvtar" -C "$work/nv" --strip-components=1
    make -s -C "$work/nv" PREFIX="$work/nv-install" install >/dev/null
    say "configuring FFmpeg $ffmpeg_version"
    (cd "$work/ffmpeg" && PKG_CONFIG_PATH="$work/nv-install/lib/pkgconfig" \
      ./configure --prefix="$prefix" "${configure_opts[@]}" >"$work/configure.log") ||
      { tail -n 30 "$work/ffmpeg/ffbuild/config.log"; exit 1; }
    say "building FFmpeg $ffmpeg_version (about 10 minutes on 2 cores)"
    make -s -C "$work/ffmpeg" -j"$(nproc)" >"$work/make.log" 2>&1 || { tail -n 40 "$work/make.log"; exit 1; }
    make -s -C "$work/ffmpeg" install >>"$work/make.log" 2>&1
    # Each library finds its siblings in its own folder, as the module's
    # loader expects.
    for f in "$prefix"/lib/lib*.so.*; do [ -L "$f" ] || patchelf --set-rpath '$ORIGIN' "$f"; done
    touch "$prefix/.complete"
    rm -rf "$work"
    say "FFmpeg $ffmpeg_version installed in $prefix"
  fi
fi

mkdir -p "$build_dir/bin/ffmpeg" "$build_dir/tools"
for lib in avutil.so.61 avcodec.so.63 avformat.so.63 swscale.so.10 swresample.so.7; do
  src=$(readlink -f "$prefix/lib/lib$lib")
  [ -f "$src" ] || { say "missing lib$lib in $prefix"; exit 1; }
  cp -f "$src" "$build_dir/bin/ffmpeg/lib$lib"
  # Also for an install supplied from elsewhere: each library must find its
  # siblings in its own folder.
  patchelf --set-rpath '$ORIGIN' "$build_dir/bin/ffmpeg/lib$lib"
done
# The programs also need libavdevice and libavfilter: they find every library
# of their build through tools/lib.
ln -sfn "$prefix/lib" "$build_dir/tools/lib"
for p in ffmpeg ffprobe; do
  cp -f "$prefix/bin/$p" "$build_dir/tools/$p"
  patchelf --set-rpath '$ORIGIN/lib' "$build_dir/tools/$p"
done
ln -sfn "$prefix" "$build_dir/ffmpeg-sdk"
