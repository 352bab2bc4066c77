#!/usr/bin/env bash
# Installs the libraries of a release build into a temporary prefix and builds
# against the installed tree alone: a file that includes every installed
# header, the sample host in tools/ through the CMake package, and the
# program of the README through pkg-config. Runs both programs and checks that
# their outputs exist and are not empty.
set -euo pipefail
build=${1:?release build folder}
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "install check: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# Versioned shared libraries: libX.so -> libX.so.0 -> libX.so.0.y.z.
for lib in Morvik calib; do
  real=$(find "$prefix" -name "lib$lib.so.*.*.*" -type f | head -n 1)
  [ -n "$real" ] || fail "lib$lib.so.MAJOR.MINOR.PATCH not installed"
  dir=$(dirname "$real")
  [ -L "$dir/lib$lib.so" ] && [ -L "$dir/lib$lib.so.0" ] || fail "lib$lib.so links missing"
  readelf -d "$real" | grep -q "Library soname: \[lib$lib.so.0\]" || fail "lib$lib.so has no versioned SONAME"
done
pcdir=$(dirname "$(find "$prefix" -name morvik.pc | head -n 1)")
[ -f "$pcdir/calib.pc" ] || fail "calib.pc not installed"
export PKG_CONFIG_PATH=$pcdir
libdir=$(pkg-config --variable=libdir morvik)

# Every installed header, in one file, against the installed tree only.
{
  (cd "$prefix/include" && find morvik -name '*.h' -o -name '*.hpp' | sort | sed 's|^\(.*\)|#include <\1>|')
  echo '#include <calib/calib.h>'
  echo 'int main() { return 0; }'
} >"$work/all_headers.cpp"
c++ -std=c++20 -fsyntax-only -MD -MF "$work/all_headers.d" $(pkg-config --cflags morvik calib) \
  "$work/all_headers.cpp" || fail "the installed headers do not compile on their own"
# Outside the prefix they may include only the C and C++ libraries and the
# libraries the package files declare (morvik.pc, MorvikConfig.cmake).
if command -v dpkg >/dev/null; then
  sed 's/\\$//; s/^[^:]*://' "$work/all_headers.d" | tr ' ' '\n' | { grep '^/' || true; } |
    { grep -v -e "^$prefix/" -e '\.cpp$' || true; } | xargs -r realpath | sort -u >"$work/outside.txt"
  { xargs -r dpkg -S <"$work/outside.txt" 2>/dev/null || true; } | cut -d: -f1 | tr ',' '\n' | tr -d ' ' |
    sort -u >"$work/owners.txt"
  undeclared=$(grep -v -x -E 'libc6-dev|linux-libc-dev|libstdc\+\+-[0-9]+-dev|libgcc-[0-9]+-dev|gcc-[0-9]+|libpolyclipping-dev' \
    "$work/owners.txt" || true)
  [ -z "$undeclared" ] || fail "installed headers include headers of $(echo $undeclared), which the package files do not declare"
fi

# The sample host, built on its own with find_package(Morvik).
cmake -S "$top/tools" -B "$work/tools" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" \
  >"$work/tools-configure.log" || { cat "$work/tools-configure.log"; fail "tools do not configure"; }
cmake --build "$work/tools" -j "${JOBS:-$(nproc)}" >"$work/tools-build.log" \
  || { tail -n 40 "$work/tools-build.log"; fail "tools do not build against the installed tree"; }
"$work/tools/morvik_demo" "$work/out" >"$work/demo.log" 2>&1 || { tail -n 40 "$work/demo.log"; fail "the sample host failed"; }
for f in markdata.txt shapes.nc shapes.xml shapes.png; do
  [ -s "$work/out/$f" ] || fail "the sample host wrote no $f"
done

# The README's program, built with pkg-config, on the drawing the sample host wrote.
awk '/^## Using the libraries/ { on = 1 } on && /^```cpp/ { code = 1; next } code && /^```/ { exit } code' \
  "$top/README.md" >"$work/readme.cpp"
[ -s "$work/readme.cpp" ] || fail "README has no program under \"Using the libraries\""
c++ -std=c++20 -Wall -Wextra -o "$work/readme" "$work/readme.cpp" $(pkg-config --cflags --libs morvik) \
  -Wl,-rpath,"$libdir" || fail "the README's program does not build"
"$work/readme" "$work/out/drawing.dxf" >"$work/readme.out" || fail "the README's program failed"
[ -s "$work/readme.out" ] || fail "the README's program printed no mark data"
echo "install check: headers, sample host and README program build and run against $prefix"
