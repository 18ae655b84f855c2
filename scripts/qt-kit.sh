#!/usr/bin/env bash
# Builds Qt 6 for Windows (qtbase only) from Debian's own qt6-base source with
# mingw-w64, and caches it outside the checkout. Prints the kit's folder on
# the last line of standard output.
#   bash scripts/qt-kit.sh [i686|x86_64]
# The kit is keyed by the source version, the compiler version and the
# options below, so a second run only checks the key. TAVRIN_CACHE moves the
# cache (default /var/cache/tavrin).
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-i686}
case $arch in
    i686|x86_64) ;;
    *) echo "qt-kit: architecture must be i686 or x86_64, not $arch" >&2; exit 2 ;;
esac
say() { echo "qt-kit: $*" >&2; }

bash scripts/setup.sh dpkg-dev ninja-build qt6-base-dev-tools xz-utils \
    "g++-mingw-w64-${arch//_/-}-posix" >&2

# Everything the program does not need is off; directwrite3 and tabletevent
# must be off for 6.4.2 to build from Debian's source at all.
options=(
    -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF
    -DFEATURE_pkg_config=OFF -DFEATURE_freetype=OFF -DFEATURE_fontconfig=OFF
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_direct2d=OFF
    -DFEATURE_androiddeployqt=OFF
    -DFEATURE_directwrite3=OFF -DFEATURE_tabletevent=OFF
)
source_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
compiler_version=$("$arch-w64-mingw32-g++-posix" -dumpfullversion)
key=$(printf '%s\n' "$source_version" "$compiler_version" "${options[@]}" \
    "$(cat "cmake/mingw-w64-$arch.cmake")" | sha256sum | cut -c1-12)
cache=${TAVRIN_CACHE:-/var/cache/tavrin}
kit=$cache/qt-${source_version%%+*}-$arch-$key
if [ -f "$kit/.complete" ]; then
    say "using the cached kit $kit"
    echo "$kit"
    exit 0
fi

say "building Qt $source_version for $arch Windows (about 20 minutes on 2 cores)"
work=$cache/work-$arch-$key
rm -rf "$work"
mkdir -p "$work"
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q "^Version: $source_version$"; then
    # The same mirror and suites as the binary packages, for sources.
    say "adding deb-src entries to apt's sources"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            > /etc/apt/sources.list.d/tavrin-deb-src.sources
    else
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/tavrin-deb-src.list
    fi
    apt-get update -q >&2
fi
(cd "$work" && apt-get source -q "qt6-base=$source_version") >&2
src=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)

say "configuring"
cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-$arch.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$kit" "${options[@]}" > "$work/configure.log" 2>&1 \
    || { tail -n 40 "$work/configure.log" >&2; exit 1; }

say "compiling (progress every 50 steps; full log in $work/build.log)"
set +e
cmake --build "$work/build" --parallel 2 2>&1 | tee "$work/build.log" \
    | awk '/^\[[0-9]+\/[0-9]+\]/ { gsub(/[][]/, "", $1); split($1, n, "/"); if (n[1] % 50 == 0 || n[1] == n[2]) { printf "qt-kit: step %s of %s\n", n[1], n[2] > "/dev/stderr"; fflush("/dev/stderr") } }
           /error:|FAILED:/ { print > "/dev/stderr" }'
status=${PIPESTATUS[0]}
set -e
[ "$status" -eq 0 ] || { say "build failed, see $work/build.log"; exit 1; }

say "installing into $kit"
rm -rf "$kit"
cmake --install "$work/build" > "$work/install.log"
touch "$kit/.complete"
rm -rf "$work"
say "done: $(du -sh "$kit" | cut -f1)"
echo "$kit"
