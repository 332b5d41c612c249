#!/usr/bin/env bash
# Provides FFmpeg 9.0.x for Windows x64, cross-built with mingw-w64 from the
# same Debian source as the Linux build, with libdav1d cross-built from
# Debian's dav1d source and linked in, cached outside the build tree.
# Usage: provide-ffmpeg-windows.sh BUILD_DIR
#   BUILD_DIR/bin/ffmpeg/   avutil-61.dll ... swresample-7.dll
#   BUILD_DIR/ffmpeg-sdk    link to the cached install (headers for the module)
# Environment: KESTROVA_FFMPEG_TARBALL, KESTROVA_CACHE as for provide-ffmpeg.sh.
set -euo pipefail
say() { echo "[ffmpeg-win] $*"; }
source "$(dirname "$0")/debian-source.sh"

build_dir=$(realpath -m "${1:?usage: provide-ffmpeg-windows.sh BUILD_DIR}")
host=x86_64-w64-mingw32
# Decoders, demuxers, parsers and muxers only: the module decodes and remuxes,
# it never encodes or filters, and nothing runs the programs on Windows.
configure_opts=(--target-os=mingw32 --arch=x86_64 --enable-cross-compile
  --cross-prefix=$host- --cc=$host-gcc-posix --cxx=$host-g++-posix
  --enable-shared --disable-static --disable-doc --disable-autodetect --enable-gpl
  --enable-zlib --enable-libdav1d --enable-w32threads --disable-debug
  --disable-programs --disable-encoders --disable-filters --disable-avfilter
  --disable-avdevice --disable-devices
  --enable-d3d11va --enable-dxva2 --enable-ffnvcodec --enable-cuvid --enable-nvdec)
# Static libgcc and winpthreads (the posix compiler's runtime needs them even
# with Win32 threads in FFmpeg): no DLL beside the five but system ones.
link_opts="-static"
build_deps=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev meson ninja-build nasm
  pkg-config xz-utils make)

# The cross compiler builds the module too, so it is installed either way.
install_packages "${build_deps[@]}"
find_ffmpeg_source
opts_key=$(printf '%s\n' "${configure_opts[@]}" "$link_opts" | sha256sum | cut -c1-12)
prefix=$cache_root/ffmpeg-win64-$ffmpeg_version-$opts_key
if [ -f "$prefix/.complete" ]; then
  say "FFmpeg $ffmpeg_version for Windows already built in $prefix"
else
  work=$cache_root/work-win64-$ffmpeg_version-$opts_key
  rm -rf "$work"; mkdir -p "$work"
  setup_private_apt
  dav1d_tar=$(fetch_orig dav1d "$(pick_source_version dav1d 1.)" "$cache_root/src")
  nv_tar=$(nv_headers_tarball)
  say "unpacking"
  mkdir -p "$work/ffmpeg" "$work/dav1d" "$work/nv" "$work/deps/lib"
  tar -xf "$ffmpeg_tarball" -C "$work/ffmpeg" --strip-components=1
  tar -xf "$dav1d_tar" -C "$work/dav1d" --strip-components=1
  tar -xf "$nv_tar" -C "$work/nv" --strip-components=1
  make -s -C "$work/nv" PREFIX="$work/deps" install >/dev/null

  say "cross-building dav1d"
  cat > "$work/cross.ini" <<INI
[binaries]
c = '$host-gcc-posix'
ar = '$host-ar'
strip = '$host-strip'
windres = '$host-windres'
[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
INI
  (cd "$work/dav1d" && meson setup build --cross-file "$work/cross.ini" --prefix "$work/deps" \
      --libdir lib --buildtype release --default-library static -Denable_tools=false \
      -Denable_tests=false >"$work/dav1d.log" 2>&1 &&
    ninja -C build install >>"$work/dav1d.log" 2>&1) || { tail -n 40 "$work/dav1d.log"; exit 1; }

  # Only the static zlib in the linker's first folder, so the DLLs need no
  # zlib1.dll beside them.
  cp /usr/$host/lib/libz.a "$work/deps/lib/"
  say "configuring FFmpeg $ffmpeg_version for Windows x64"
  (cd "$work/ffmpeg" && PKG_CONFIG_LIBDIR="$work/deps/lib/pkgconfig:$work/deps/share/pkgconfig" \
    ./configure --prefix="$prefix" "${configure_opts[@]}" --pkg-config=pkg-config \
      --pkg-config-flags=--static --extra-cflags="-I$work/deps/include" \
      --extra-ldflags="-L$work/deps/lib $link_opts" >"$work/configure.log") ||
    { tail -n 30 "$work/ffmpeg/ffbuild/config.log"; exit 1; }
  say "building FFmpeg $ffmpeg_version for Windows x64 (about 8 minutes on 2 cores)"
  make -s -C "$work/ffmpeg" -j"$(nproc)" >"$work/make.log" 2>&1 || { tail -n 40 "$work/make.log"; exit 1; }
  make -s -C "$work/ffmpeg" install >>"$work/make.log" 2>&1
  touch "$prefix/.complete"
  rm -rf "$work"
  say "FFmpeg $ffmpeg_version for Windows installed in $prefix"
fi

mkdir -p "$build_dir/bin/ffmpeg"
for dll in avutil-61 avcodec-63 avformat-63 swscale-10 swresample-7; do
  [ -f "$prefix/bin/$dll.dll" ] || { say "missing $dll.dll in $prefix"; exit 1; }
  cp -f "$prefix/bin/$dll.dll" "$build_dir/bin/ffmpeg/"
done
ln -sfn "$prefix" "$build_dir/ffmpeg-sdk"
