# Sourced by the provide scripts: the shared cache and a private apt
# configuration that reads only source indexes of the machine's own Debian
# mirror, unstable suite; the system's apt is untouched.
home=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
cache_root=${KESTROVA_CACHE:-${XDG_CACHE_HOME:-${home:-/var/tmp}/.cache}/kestrova}

install_packages() { "$(dirname "${BASH_SOURCE[0]}")/install-deps.sh" "$@"; }

apt_private=()
setup_private_apt() {
  [ ${#apt_private[@]} -eq 0 ] || return 0
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
  setup_private_apt >&2
  apt-cache "${apt_private[@]}" showsrc "$1" | awk '/^Version:/ {print $2}' |
    while read -r v; do u=${v#*:}; case $u in "$2"*) echo "$v" ;; esac; done |
    sort -V | tail -n1
}

fetch_orig() { # package version dest_dir -> prints tarball path
  local pkg=$1 ver=$2 dest=$3 upstream=${2#*:}
  upstream=${upstream%-*}
  mkdir -p "$dest"
  if ! ls "$dest/${pkg}_${upstream}".orig.tar.* >/dev/null 2>&1; then
    setup_private_apt >&2
    (cd "$dest" && apt-get "${apt_private[@]}" -o APT::Sandbox::User=root source --download-only --tar-only -qq "$pkg=$ver" >&2)
  fi
  ls "$dest/${pkg}_${upstream}".orig.tar.* | grep -v '\.asc$' | head -n1
}

# The FFmpeg 9.0.x orig tarball: KESTROVA_FFMPEG_TARBALL, else one already in
# the cache, else the newest in the unstable suite. Sets ffmpeg_tarball and
# ffmpeg_version.
find_ffmpeg_source() {
  ffmpeg_tarball=${KESTROVA_FFMPEG_TARBALL:-}
  if [ -z "$ffmpeg_tarball" ]; then
    ffmpeg_tarball=$(ls "$cache_root"/src/ffmpeg_9.0.*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | sort -V | tail -n1 || true)
  fi
  if [ -z "$ffmpeg_tarball" ]; then
    local full
    setup_private_apt
    full=$(pick_source_version ffmpeg 9.)
    [ -n "$full" ] || { say "no FFmpeg 9 source in the unstable suite"; exit 1; }
    say "downloading ffmpeg $full source"
    ffmpeg_tarball=$(fetch_orig ffmpeg "$full" "$cache_root/src")
  fi
  ffmpeg_tarball=$(realpath "$ffmpeg_tarball")
  ffmpeg_version=$(basename "$ffmpeg_tarball" | sed -E 's/^ffmpeg[_-]([0-9][0-9.]*)[.-].*/\1/; s/\.orig$//; s/\.$//')
}

# The nv-codec-headers 12.x orig tarball (headers only), cached or downloaded.
nv_headers_tarball() {
  local cached
  cached=$(ls "$cache_root"/src/nv-codec-headers_12.*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | sort -V | tail -n1 || true)
  if [ -n "$cached" ]; then
    echo "$cached"
    return
  fi
  setup_private_apt >&2
  local version
  version=$(pick_source_version nv-codec-headers 12.1.14)
  [ -n "$version" ] || version=$(pick_source_version nv-codec-headers 12.)
  say "downloading nv-codec-headers $version (headers only)" >&2
  fetch_orig nv-codec-headers "$version" "$cache_root/src"
}
