#!/usr/bin/env bash
# Builds Qt for Windows (x86_64, mingw-w64, shared) from Debian's own qtbase source package, once,
# into a cache folder outside the tree, and prints that folder. Later runs find the finished build
# and only print it. Run as root on Debian 12 (it adds a deb-src stanza and installs packages).
# Qt Serial Port is not built: the Debian mirror this was made on serves no source tarball of
# qtserialport-opensource-src, and the Windows build uses device/win32serial in its place.
#
# Usage: scripts/windows-qt.sh [--print]     --print: only print the folder (built or not)
# TALLYCONF_WIN_CACHE sets the cache root (default /var/cache/tallyconf-windows).
set -euo pipefail
cd "$(dirname "$0")/.."

cache_root=${TALLYCONF_WIN_CACHE:-/var/cache/tallyconf-windows}
triplet=x86_64-w64-mingw32
# The key names what the build depends on: Debian's qtbase version and the cross compiler.
qt_version() {
    apt-cache showsrc qtbase-opensource-src 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n1
}
gcc_version() { "$triplet-g++-posix" -dumpfullversion 2>/dev/null || echo none; }

key_file=$cache_root/current
if [ "${1:-}" = "--print" ]; then
    [ -f "$key_file" ] && cat "$key_file" || echo "$cache_root/(not built)"
    exit 0
fi

scripts/deps.sh g++-mingw-w64-x86-64-posix dpkg-dev xz-utils python3 perl

# apt-get source needs a deb-src stanza; it mirrors the deb one Debian 12 ships.
if ! apt-cache showsrc qtbase-opensource-src >/dev/null 2>&1 \
        || [ -z "$(apt-cache showsrc qtbase-opensource-src 2>/dev/null)" ]; then
    sources=/etc/apt/sources.list.d/tallyconf-deb-src.sources
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$sources"
    else
        cat > "$sources" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    fi
    apt-get update -qq
fi

version=$(qt_version)
[ -n "$version" ] || { echo "windows-qt: no qtbase-opensource-src in the apt sources" >&2; exit 1; }
prefix=$cache_root/qt-$version-$triplet-gcc$(gcc_version)-shared
# finished: names the prefix as the one to use, and the source it came from (the Windows
# packages name it beside Qt's DLLs).
finished() {
    echo "qtbase-opensource-src $version" > "$prefix/.source-package"
    echo "$prefix" > "$key_file"
    echo "$prefix"
    exit 0
}
[ -f "$prefix/.complete" ] && finished

# One build at a time: a second run (another checkout, CI) waits for the first and uses its Qt.
mkdir -p "$cache_root"
exec 9> "$cache_root/build.lock"
if ! flock -n 9; then
    echo "windows-qt: another build of Qt for Windows is running; waiting for it" >&2
    flock 9
fi
[ -f "$prefix/.complete" ] && finished

work=$cache_root/work-$version
rm -rf "$work" "$prefix"
mkdir -p "$work"
start=$(date +%s)
(
    cd "$work"
    apt-get source -qq qtbase-opensource-src="$version" >/dev/null
    src=$(find . -maxdepth 1 -type d -name 'qtbase-opensource-src-*' | head -n1)
    mkdir build
    cd build
    # Only what the three programs and their tests load: Core, Gui, Widgets, Network, Test and
    # the windows and offscreen platform plugins. Debian's source lacks wintab (tablet events)
    # and sqlite; OpenGL, D-Bus, ICU and SSL are not needed by anything the programs do.
    "../$src/configure" -prefix "$prefix" \
        -xplatform win32-g++ -device-option CROSS_COMPILE=$triplet- \
        -opensource -confirm-license -release -shared -strip \
        -nomake examples -nomake tests \
        -no-opengl -no-dbus -no-icu -no-openssl -no-feature-tabletevent \
        -no-feature-sql \
        -qt-zlib -qt-pcre -qt-libpng -no-libjpeg -qt-freetype -qt-harfbuzz \
        > ../configure.log 2>&1 || { tail -n 40 ../configure.log >&2; exit 1; }
    make -j"$(nproc)" > ../make.log 2>&1 || { tail -n 60 ../make.log >&2; exit 1; }
    make install > ../install.log 2>&1 || { tail -n 40 ../install.log >&2; exit 1; }
)
echo "$(( $(date +%s) - start ))" > "$prefix/.build-seconds"
touch "$prefix/.complete"
rm -rf "$work"
finished
