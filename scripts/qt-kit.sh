#!/usr/bin/env bash
# Builds Qt 5.15 for Windows (qtbase only: Core, Gui, Widgets, Test and the
# plugins) from Debian's own qtbase-opensource-src with mingw-w64 (posix
# threads), and caches it outside the checkout. Qt 5.15 is the last Qt that
# runs on Windows 7. The host tools (moc, rcc, uic) are Debian's own, built
# from the same source version, rather than built once more for each kit.
# Prints the kit's folder on the last line of standard output.
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

bash scripts/setup.sh dpkg-dev xz-utils util-linux qtbase5-dev-tools "g++-mingw-w64-${arch//_/-}-posix" >&2

host_tools=/usr/lib/qt5/bin
for tool in qmake moc rcc uic; do
    [ -x "$host_tools/$tool" ] || { say "Debian's $host_tools/$tool is missing"; exit 1; }
done
# Everything the program and its tests do not need is off: modules, plugins
# and the classes of Core, Gui and Widgets that neither uses. What stays is
# what the window, its message boxes, the Windows platform and style plugins
# and Qt Test need. Size over speed: a dialog's speed never shows, a smaller
# zip does, and it compiles faster.
options=(
    -opensource -confirm-license -release -shared -nomake examples -nomake tests
    -external-hostbindir "$host_tools" -hostbindir "$host_tools" -optimize-size
    -no-opengl -no-dbus -no-icu -no-glib -no-openssl -no-direct2d
    -no-sql-sqlite -no-sql-odbc -no-feature-sql -no-feature-network -no-feature-printer
    -no-feature-tabletevent -qt-zlib -qt-libpng -no-libjpeg -no-gif -qt-harfbuzz
    -no-freetype -qt-pcre
    -no-feature-concurrent -no-feature-xml
    -no-feature-statemachine -no-feature-mimetype -no-feature-big_codecs -no-feature-timezone
    -no-feature-sharedmemory -no-feature-systemsemaphore
    -no-feature-concatenatetablesproxymodel -no-feature-transposeproxymodel
    -no-feature-pdf -no-feature-textodfwriter -no-feature-textmarkdownreader
    -no-feature-textmarkdownwriter -no-feature-movie -no-feature-picture
    -no-feature-sessionmanager -no-feature-systemtrayicon -no-feature-ico
    -no-feature-imageformat_ppm -no-feature-imageformat_xbm
    -no-feature-graphicsview -no-feature-graphicseffect -no-feature-mdiarea
    -no-feature-calendarwidget -no-feature-datetimeedit -no-feature-dial -no-feature-lcdnumber
    -no-feature-splashscreen -no-feature-wizard -no-feature-colordialog -no-feature-fontdialog
    -no-feature-filedialog -no-feature-errormessage
    -no-feature-progressdialog -no-feature-columnview -no-feature-undocommand
    -no-feature-undostack -no-feature-undogroup -no-feature-undoview -no-feature-keysequenceedit
    -no-feature-textbrowser -no-feature-syntaxhighlighter -no-feature-dockwidget
    -no-feature-tablewidget -no-feature-treewidget -no-feature-listwidget
    -no-feature-datawidgetmapper -no-feature-fontcombobox -no-feature-commandlinkbutton
    -no-feature-toolbox -no-feature-style-fusion -no-feature-style-stylesheet
    -no-feature-filesystemmodel -no-feature-dirmodel -no-feature-fscompleter
    # The source paths in the DLLs (__FILE__) name the source, not the cache
    # it was unpacked in: @SRC@ stands for the source's folder.
    QMAKE_CFLAGS+=-ffile-prefix-map=@SRC@=qtbase QMAKE_CXXFLAGS+=-ffile-prefix-map=@SRC@=qtbase
)
# The host tools' package gives the version of the source to build.
source_version=$(dpkg-query -W -f='${Version}' qtbase5-dev-tools)
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
# died or failed. Its path is fixed, and the linker takes its time stamps from
# the source's changelog, so that two builds of a kit give the same DLLs.
rm -rf "$cache/work-$name" "$cache/work-$name".*
work=$cache/work-$name
mkdir "$work"
# A finished kit's work folder goes; a failed one's stays, with its logs.
finished=
trap '[ -n "$finished" ] && rm -rf "$work"; [ -n "$finished" ] || say "failed; its logs are kept in $work"' EXIT
say "building Qt $source_version for $arch Windows (about 9 minutes on 2 cores)"

# The source, fetched and patched once for both kits, under a lock of its own:
# the second kit takes the first one's, and a kit's build never writes into
# it. (A change to the patch below needs that folder removed.)
source_folder=$cache/qtbase-$source_version
exec 8> "$source_folder.lock"
flock 8
if [ ! -f "$source_folder/.complete" ]; then
    rm -rf "$source_folder"
    mkdir "$source_folder"
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
    say "fetching the source"
    (cd "$source_folder" && apt-get source -q "qtbase-opensource-src=$source_version") > "$work/source.log" 2>&1 \
        || { tail -n 20 "$work/source.log" >&2; exit 1; }
    # Debian's moc, rcc and uic come from this very source: building them
    # again, with their bootstrap library, was a sixth of a kit.
    cat >> "$source_folder"/qtbase-opensource-src-*/src/src.pro <<'EOF'

# Tavrin: the host tools come from -external-hostbindir, not from this build.
!isEmpty(HOST_QT_TOOLS) {
    host_tools = src_tools_bootstrap src_tools_moc src_tools_rcc src_tools_tracegen \
        src_tools_qlalr src_tools_uic src_tools_qvkgen
    SUBDIRS -= $$host_tools
    for (sub, SUBDIRS): $${sub}.depends -= $$host_tools
}
EOF
    touch "$source_folder/.complete"
fi
exec 8>&-
src=$(find "$source_folder" -maxdepth 1 -type d -name 'qtbase-opensource-src-*' | head -n1)
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Timestamp)
export SOURCE_DATE_EPOCH

# Qt 5's configure takes the compilers by their plain names: the posix ones.
tools=$work/tools
mkdir -p "$tools"
for tool in gcc g++; do
    ln -s "$(command -v "$arch-w64-mingw32-$tool-posix")" "$tools/$arch-w64-mingw32-$tool"
done
export PATH=$tools:$PATH

say "configuring"
mkdir -p "$work/build"
# The target; the zip's licences quote it with the options.
target=(-xplatform win32-g++ -device-option "CROSS_COMPILE=$arch-w64-mingw32-")
# MAKEFLAGS: configure builds a qmake of its own with a plain make.
(cd "$work/build" && MAKEFLAGS=-j2 "$src/configure" "${target[@]}" -prefix "$kit" "${options[@]//@SRC@/$src}") \
    > "$work/configure.log" 2>&1 \
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
{
    compiler=g++-mingw-w64-${arch//_/-}-posix
    echo "The Qt DLLs were built from that source with Debian's $compiler $(dpkg-query -W -f='${Version}' "$compiler"):"
    echo "  configure ${target[*]} ${options[*]//@SRC@/<source folder>}"
    echo "  make; make install"
    echo "moc, rcc and uic were Debian's own (qtbase5-dev-tools $source_version): src/src.pro was"
    echo "told not to build them again. No source of the libraries was changed."
} | sed 's/$/\r/' > "$licences/Qt-configure-options.txt" # read with Notepad too
touch "$work/root$kit/.complete"
rm -rf "$kit"
mv -T "$work/root$kit" "$kit"
finished=1
say "done: $(du -sh "$kit" | cut -f1)"
echo "$kit"
