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

build_dir=$(realpath -m "${1:?usage: provide-ffmpeg.sh BUILD_DIR}")
home=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
cache_root=${KESTROVA_CACHE:-${XDG_CACHE_HOME:-${home:-/var/tmp}/.cache}/kestrova}
say() { echo "[ffmpeg] $*"; }

configure_opts=(--enable-shared --disable-static --disable-doc --disable-autodetect
  --enable-gpl --enable-zlib --enable-libdav1d --enable-libx264 --enable-libx265
  --enable-libvpx --enable-libaom --enable-pthreads --disable-debug
  --enable-ffnvcodec --enable-cuvid --enable-nvdec)
build_deps=(nasm pkg-config zlib1g-dev libdav1d-dev libx264-dev libx265-dev
  libvpx-dev libaom-dev patchelf xz-utils make gcc)

install_packages() { "$(dirname "$0")/install-deps.sh" "$@"; }

# A private apt configuration that reads only source indexes from the
# machine's own Debian mirror, unstable suite; the system's apt is untouched.
apt_private=()
setup_private_apt() {
  local dir=$cache_root/apt
  mkdir -p "$dir/lists/partial"
  local uri
  uri=$(apt-get indextargets --format '$(REPO_URI)' | grep -v -- '-security' | head -n1)
  [ -n "$uri" ] || { say "no Debian mirror configured"; exit 1; }
  cat > "$dir/sid-src.sources" <<SRC
Types: deb-src
URIs: $uri
Suites: sid
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  apt_private=(-o "Dir::Etc::sourcelist=$dir/sid-src.sources" -o "Dir::Etc::sourceparts=-"
    -o "Dir::State::Lists=$dir/lists")
  say "reading source index of the unstable suite"
  apt-get "${apt_private[@]}" -o APT::Sandbox::User=root update -qq
}

# Highest version of a source package whose upstream part starts with $2.
pick_source_version() {
  apt-cache "${apt_private[@]}" showsrc "$1" | awk '/^Version:/ {print $2}' |
    while read -r v; do u=${v#*:}; case $u in "$2"*) echo "$v" ;; esac; done |
    sort -V | tail -n1
}

fetch_orig() { # package version dest_dir -> prints tarball path
  local pkg=$1 ver=$2 dest=$3
  mkdir -p "$dest"
  (cd "$dest" && apt-get "${apt_private[@]}" -o APT::Sandbox::User=root source --download-only --tar-only -qq "$pkg=$ver" >&2)
  ls "$dest"/"${pkg}"_*.orig.tar.* | head -n1
}

if [ -n "${KESTROVA_FFMPEG_PREFIX:-}" ]; then
  prefix=$(realpath "$KESTROVA_FFMPEG_PREFIX")
  say "using the FFmpeg install at $prefix"
  install_packages patchelf
else
  opts_key=$(printf '%s\n' "${configure_opts[@]}" | sha256sum | cut -c1-12)
  tarball=${KESTROVA_FFMPEG_TARBALL:-}
  if [ -n "$tarball" ]; then
    tarball=$(realpath "$tarball")
    version=$(basename "$tarball" | sed -E 's/^ffmpeg[_-]([0-9][0-9.]*)[.-].*/\1/; s/\.orig$//; s/\.$//')
  else
    # Reuse any cached build of a 9.0.x release with these options: no network.
    cached=$(ls -d "$cache_root"/ffmpeg-9.0.*-"$opts_key" 2>/dev/null | sort -V | tail -n1 || true)
    if [ -n "$cached" ] && [ -f "$cached/.complete" ]; then
      version=$(basename "$cached" | sed -E "s/^ffmpeg-(.*)-$opts_key$/\1/")
    else
      setup_private_apt
      full=$(pick_source_version ffmpeg 9.)
      [ -n "$full" ] || { say "no FFmpeg 9 source in the unstable suite"; exit 1; }
      version=${full#*:}; version=${version%%-*}
    fi
  fi
  prefix=$cache_root/ffmpeg-$version-$opts_key
  if [ -f "$prefix/.complete" ]; then
    say "FFmpeg $version already built in $prefix"
  else
    install_packages "${build_deps[@]}"
    work=$cache_root/work-$version-$opts_key
    rm -rf "$work"; mkdir -p "$work"
    [ ${#apt_private[@]} -gt 0 ] || [ -n "$tarball" ] || setup_private_apt
    if [ -z "$tarball" ]; then
      say "downloading ffmpeg $full source"
      tarball=$(fetch_orig ffmpeg "$full" "$cache_root/src")
    fi
    nvver=$(pick_source_version nv-codec-headers 12.1.14 2>/dev/null || true)
    [ -n "$nvver" ] || { [ ${#apt_private[@]} -gt 0 ] || setup_private_apt; nvver=$(pick_source_version nv-codec-headers 12.); }
    say "downloading nv-codec-headers $nvver (headers only)"
    nvtar=$(fetch_orig nv-codec-headers "$nvver" "$cache_root/src")
    say "unpacking"
    mkdir -p "$work/ffmpeg" "$work/nv"
    tar -xf "$tarball" -C "$work/ffmpeg" --strip-components=1
    tar -xf "$nvtar" -C "$work/nv" --strip-components=1
    make -s -C "$work/nv" PREFIX="$work/nv-install" install >/dev/null
    say "configuring FFmpeg $version"
    (cd "$work/ffmpeg" && PKG_CONFIG_PATH="$work/nv-install/lib/pkgconfig" \
      ./configure --prefix="$prefix" "${configure_opts[@]}" >"$work/configure.log") ||
      { tail -n 30 "$work/ffmpeg/ffbuild/config.log"; exit 1; }
    say "building FFmpeg $version (about 10 minutes on 2 cores)"
    make -s -C "$work/ffmpeg" -j"$(nproc)" >"$work/make.log" 2>&1 || { tail -n 40 "$work/make.log"; exit 1; }
    make -s -C "$work/ffmpeg" install >>"$work/make.log" 2>&1
    # Each library finds its siblings in its own folder, as the module's
    # loader expects.
    for f in "$prefix"/lib/lib*.so.*; do [ -L "$f" ] || patchelf --set-rpath '$ORIGIN' "$f"; done
    touch "$prefix/.complete"
    rm -rf "$work"
    say "FFmpeg $version installed in $prefix"
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
