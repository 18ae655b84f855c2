#!/usr/bin/env bash
# Builds Qt 5.15 for Windows (qtbase only: Core, Gui, Widgets, Test and the
# plugins) from Debian's own qtbase-opensource-src with mingw-w64 (posix
# threads), and caches it outside the checkout. Qt 5.15 is the last Qt that
# runs on Windows 7. Prints the kit's folder on the last line of standard output.
#   bash scripts/qt-kit.sh [i686|x86_64]
# The kit is keyed by the source version, the compiler version and the
# options below, so a second run only checks the key. TAVRIN_CACHE moves the
# cache (default /var/cache/tavrin). Runs at once share it safely: one builds
# under a lock, in a folder of its own, and moves the finished kit into place
# in one step; the others wait for it and use it.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-i686}
case $arch in
    i686|x86_64) ;;
    *) echo "qt-kit: architecture must be i686 or x86_64, not $arch" >&2; exit 2 ;;
esac
say() { echo "qt-kit: $*" >&2; }

bash scripts/setup.sh dpkg-dev xz-utils util-linux ccache "g++-mingw-w64-${arch//_/-}-posix" >&2

# Everything the program and its tests do not need is off.
options=(
    -opensource -confirm-license -release -shared -nomake examples -nomake tests
    -no-opengl -no-dbus -no-icu -no-glib -no-openssl -no-direct2d
    -no-sql-sqlite -no-sql-odbc -no-feature-sql -no-feature-network -no-feature-printer
    -no-feature-tabletevent -qt-zlib -qt-libpng -no-libjpeg -no-gif -qt-harfbuzz
    -no-freetype -qt-pcre
)
source_version=$(dpkg-query -W -f='${Version}' qtbase5-dev 2>/dev/null) || {
    bash scripts/setup.sh qtbase5-dev >&2
    source_version=$(dpkg-query -W -f='${Version}' qtbase5-dev)
}
compiler_version=$("$arch-w64-mingw32-g++-posix" -dumpfullversion)
key=$(printf '%s\n' "$source_version" "$compiler_version" "${options[@]}" | sha256sum | cut -c1-12)
cache=${TAVRIN_CACHE:-/var/cache/tavrin}
name=qt-${source_version%%+*}-$arch-$key
kit=$cache/$name
mkdir -p "$cache"

if [ ! -f "$kit/.complete" ]; then
    exec 9> "$cache/$name.lock"
    if ! flock -n 9; then
        say "another run is building $name; waiting for it"
        flock 9
    fi
fi
if [ -f "$kit/.complete" ]; then
    say "using the cached kit $kit"
    echo "$kit"
    exit 0
fi

# Holding the lock: any work folder of this kit is left over from a run that
# died or failed.
rm -rf "$cache/work-$name".*
work=$(mktemp -d "$cache/work-$name.XXXXXX")
# A finished kit's work folder goes; a failed one's stays, with its logs.
finished=
trap '[ -n "$finished" ] && rm -rf "$work"; [ -n "$finished" ] || say "failed; its logs are kept in $work"' EXIT
say "building Qt $source_version for $arch Windows (about 25 minutes on 2 cores)"

sources=$(apt-cache showsrc qtbase-opensource-src 2>/dev/null || true)
if ! grep -qx "Version: $source_version" <<< "$sources"; then
    # The same mirror and suites as the binary packages, for sources.
    say "adding deb-src entries to apt's sources"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            > /etc/apt/sources.list.d/tavrin-deb-src.sources
    else
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/tavrin-deb-src.list
    fi
    bash scripts/apt-update.sh >&2
fi
(cd "$work" && apt-get source -q "qtbase-opensource-src=$source_version") > "$work/source.log" 2>&1 \
    || { tail -n 20 "$work/source.log" >&2; exit 1; }
src=$(find "$work" -maxdepth 1 -type d -name 'qtbase-opensource-src-*' | head -n1)

# Qt 5's configure takes the compilers by their plain names: the posix ones.
tools=$work/tools
mkdir -p "$tools"
for tool in gcc g++; do
    ln -s "$(command -v "$arch-w64-mingw32-$tool-posix")" "$tools/$arch-w64-mingw32-$tool"
done
# Both kits compile the same host tools (qmake, moc, rcc, uic and their
# bootstrap library) with the host's compiler, in work folders laid out alike:
# through one compiler cache that takes paths relative to the cache's folder,
# the second kit gets them from the first.
ln -s "$(command -v ccache)" "$tools/gcc"
ln -s "$(command -v ccache)" "$tools/g++"
export CCACHE_DIR=$cache/ccache CCACHE_BASEDIR=$cache CCACHE_NOHASHDIR=1
export PATH=$tools:$PATH

say "configuring"
mkdir -p "$work/build"
# MAKEFLAGS: configure builds its qmake with a plain make.
(cd "$work/build" && MAKEFLAGS=-j2 "$src/configure" -xplatform win32-g++ -device-option "CROSS_COMPILE=$arch-w64-mingw32-" \
    -prefix "$kit" "${options[@]}") > "$work/configure.log" 2>&1 \
    || { tail -n 40 "$work/configure.log" >&2; exit 1; }

say "compiling (progress every 100 files; full log in $work/build.log)"
set +e
make -C "$work/build" -j2 2>&1 | tee "$work/build.log" \
    | awk '/-c .*\.(cpp|c|cc)( |$)/ { if (++n % 100 == 0) { printf "qt-kit: %d files compiled\n", n > "/dev/stderr"; fflush("/dev/stderr") } }
           /error:|Error [0-9]/ { print > "/dev/stderr" }'
status=${PIPESTATUS[0]}
set -e
[ "$status" -eq 0 ] || { say "build failed"; tail -n 40 "$work/build.log" >&2; exit 1; }

# Installed below a root of its own, then renamed into place: the kit's
# folder appears whole or not at all.
say "installing into $kit"
make -C "$work/build" install INSTALL_ROOT="$work/root" > "$work/install.log" 2>&1 \
    || { tail -n 40 "$work/install.log" >&2; exit 1; }
# What the zip must carry so that anyone can rebuild or replace the DLLs.
licences=$work/root$kit/licences
mkdir -p "$licences"
cp "$src/LICENSE.LGPL3" "$licences/Qt-LGPL-3.txt"
cp "$src/LICENSE.GPL3" "$licences/GPL-3.txt"
cp "$src/debian/copyright" "$licences/Qt-Debian-copyright.txt"
echo "qtbase-opensource-src $source_version" > "$licences/Qt-source-version.txt"
touch "$work/root$kit/.complete"
rm -rf "$kit"
mv -T "$work/root$kit" "$kit"
finished=1
say "done: $(du -sh "$kit" | cut -f1)"
echo "$kit"
