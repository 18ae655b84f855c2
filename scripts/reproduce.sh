#!/usr/bin/env bash
# Builds the Windows zip twice against one Qt kit and compares the two byte
# for byte: once in this tree's own build folder (reusing what windows.sh
# built there), once from a copy of its files (less those git ignores) at
# another path, minutes later, without git (the commit's time and committer
# reach it as SOURCE_DATE_EPOCH and TAVRIN_BOM_CONTACT). Where they differ it names the
# files and explains them with diffoscope, installed only then.
#   bash scripts/reproduce.sh [x86_64|i686]     (default: x86_64)
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-x86_64}
case $arch in
    i686) preset=windows flavour=win32 ;;
    x86_64) preset=windows64 flavour=win64 ;;
    *) echo "reproduce: architecture must be i686 or x86_64, not $arch" >&2; exit 2 ;;
esac
say() { echo "reproduce: $*"; }

bash scripts/setup.sh "g++-mingw-w64-${arch//_/-}-posix" mingw-w64-tools python3 python3-pefile
TAVRIN_QT_KIT=$(bash scripts/qt-kit.sh "$arch" | tail -n 1)
export TAVRIN_QT_KIT
version=$(sed -n 's/^project(Tavrin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=tavrin-$version-$flavour

say "first build: $(pwd)/build-$preset"
cmake --preset "$preset" > /dev/null
cmake --build --preset "$preset" --target dist > /dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/tavrin-reproduce.XXXXXX")
trap 'rm -rf "$work"' EXIT
copy=$work/elsewhere/tavrin
mkdir -p "$copy"
git ls-files -z --cached --others --exclude-standard | tar --null -T - --ignore-failed-read -cf - | tar -xf - -C "$copy"
say "second build: $copy/build-$preset"
(
    cd "$copy"
    SOURCE_DATE_EPOCH=$(git -C "$OLDPWD" log -1 --format=%ct)
    TAVRIN_BOM_CONTACT=$(git -C "$OLDPWD" log -1 --format=%ce)
    export SOURCE_DATE_EPOCH TAVRIN_BOM_CONTACT
    cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset" --target dist > /dev/null
)

# The zip holds everything else that is published about it.
if cmp -s "dist/$name.zip" "$copy/dist/$name.zip"; then
    say "PASS: two builds gave the same $name.zip (SHA-256 $(sha256sum < "dist/$name.zip" | cut -c1-16)…)"
    exit 0
fi

mkdir "$work/first" "$work/second"
(cd "$work/first" && cmake -E tar xf "$OLDPWD/dist/$name.zip")
(cd "$work/second" && cmake -E tar xf "$copy/dist/$name.zip")
files=$( (cd "$work" && diff -rq first second || true) | sed -n "s|^Files first/\([^ ]*\) and .*|\1|p")
say "FAIL: the two builds' zips differ$([ -n "$files" ] && echo " in $(wc -l <<< "$files") files:" || true)"
sed 's/^/  /' <<< "$files"
bash scripts/setup.sh diffoscope-minimal > /dev/null
# diffoscope exits 1 when it finds differences, which is known by now.
diffoscope --text - --max-report-size 200000 "dist/$name.zip" "$copy/dist/$name.zip" || true
exit 1
