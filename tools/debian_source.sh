#!/bin/sh
# Fetches one of the Debian source packages the cross builds use, checks it
# and unpacks it with Debian's patches applied, once per machine, into
#   $REGMEX_CACHE/src/<package>-<version>   (REGMEX_CACHE: ~/.cache/regmex)
# and prints that folder.
# Usage: debian_source.sh <package>
# The .dsc is pinned by its sha256 below; it pins the sha256 of each file it
# names in turn, so nothing unchecked is ever unpacked.  Debian keeps a
# version in its pool only while it is current: when a fetch fails with 404,
# pin the version the pool holds now.
set -e

pkg=$1
case "$pkg" in
  opencv) version=4.6.0+dfsg-12
    sum=66d014c59f65ed670ee05d5695e5c0a500fa7ce2539a32bfa15ef5a9da2a4ffd ;;
  zlib) version=1.2.13.dfsg-1
    sum=3fa1e6b2fc525062aa88207dda52fed8e045373c809d362fe8a2bfbf7cf515a8 ;;
  libpng1.6) version=1.6.39-2+deb12u5
    sum=7b86211030a34deb6b0a2cd7e1d9db0fe92443fd30cab537fb89b1e7f7c9f188 ;;
  libjpeg-turbo) version=2.1.5-2
    sum=d718ead0dfbcbc8523665c02a7f7152e31039ded641d022868722623bb3b486d ;;
  *) echo "debian_source.sh: no pinned version of '$pkg'" >&2; exit 2 ;;
esac

cache=${REGMEX_CACHE:-$HOME/.cache/regmex}/src
dest=$cache/$pkg-$version
if [ -f "$dest/.unpacked" ]; then
  echo "$dest"
  exit 0
fi
for tool in curl sha256sum dpkg-source; do
  command -v $tool >/dev/null || { echo "debian_source.sh: $tool is missing: run make deps-test" >&2; exit 1; }
done
mkdir -p "$cache"

case "$pkg" in
  lib*) dir=$(echo "$pkg" | cut -c1-4)/$pkg ;;
  *) dir=$(echo "$pkg" | cut -c1)/$pkg ;;
esac

# fetch <file>: into the cache, from the archive or its security updates.
fetch() {
  [ -f "$cache/$1" ] && return 0
  url_name=$(echo "$1" | sed 's/+/%2B/g')
  for base in http://deb.debian.org/debian/pool/main http://security.debian.org/debian-security/pool/updates/main; do
    if curl -sSf --retry 3 -o "$cache/$1.part" "$base/$dir/$url_name" 2>/dev/null; then
      mv "$cache/$1.part" "$cache/$1"
      return 0
    fi
  done
  rm -f "$cache/$1.part"
  echo "debian_source.sh: cannot fetch $1 from Debian's pool" >&2
  exit 1
}

dsc=${pkg}_$version.dsc
fetch "$dsc"
echo "$sum  $cache/$dsc" | sha256sum -c --quiet - >&2 || {
  echo "debian_source.sh: $dsc is not the pinned one" >&2
  rm -f "$cache/$dsc"
  exit 1
}
# The .dsc's own list of files with their sha256.
files=$(sed -n '/^Checksums-Sha256:/,/^[^ ]/s/^ \([0-9a-f]\{64\}\) [0-9]* \(.*\)$/\1 \2/p' "$cache/$dsc")
[ -n "$files" ] || { echo "debian_source.sh: $dsc lists no files" >&2; exit 1; }
echo "$files" | while read -r hash name; do
  fetch "$name"
  echo "$hash  $cache/$name" | sha256sum -c --quiet - >&2 || {
    echo "debian_source.sh: $name does not match $dsc" >&2
    rm -f "$cache/$name"
    exit 1
  }
done

rm -rf "$dest"
# The files were checked above; the signature of the .dsc would need
# Debian's keyring, which its pinned sum stands in for.
dpkg-source --no-check -x "$cache/$dsc" "$dest" >&2
touch "$dest/.unpacked"
echo "$dest"
