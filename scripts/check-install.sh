#!/usr/bin/env bash
# Installs the libraries of a release build into a temporary prefix and
# checks the installed tree as hosts meet it: the package files, the headers
# on their own, what the library exports, the README's commands as they stand
# (in a shell with nothing exported), the sample host in tools/ and the hosts
# of tests/install/. Runs every program it builds.
set -euo pipefail
build=${1:?release build folder}
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cxx=(c++ -std=c++20 -Wall -Wextra -Werror)
rpath=-Wl,-rpath,$prefix/lib

fail() { echo "install check: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
libdir=$prefix/lib
pcdir=$libdir/pkgconfig

# Versioned shared libraries: libX.so -> libX.so.0 -> libX.so.0.y.z.
for lib in Morvik calib; do
  real=$(find "$libdir" -name "lib$lib.so.*.*.*" -type f | head -n 1)
  [ -n "$real" ] || fail "lib$lib.so.MAJOR.MINOR.PATCH not installed"
  [ -L "$libdir/lib$lib.so" ] && [ -L "$libdir/lib$lib.so.0" ] || fail "lib$lib.so links missing"
  readelf -d "$real" | grep -q "Library soname: \[lib$lib.so.0\]" || fail "lib$lib.so has no versioned SONAME"
done

# The package files ask for Clipper and nothing else: pkg-config answers with
# no other .pc file in sight, and the CMake package finds nothing else.
mkdir "$work/pc-only"
cp "$(pkg-config --variable=pcfiledir polyclipping)/polyclipping.pc" "$work/pc-only/"
flags=$(PKG_CONFIG_LIBDIR=$pcdir:$work/pc-only pkg-config --cflags --libs morvik calib) ||
  fail "morvik.pc or calib.pc needs more than polyclipping.pc"
[ -z "$(pkg-config --with-path="$pcdir" --print-requires-private morvik calib)" ] || fail "Requires.private in morvik.pc"
! grep -Eq 'cairo|pugixml|freetype|fontconfig|png|jpeg|tiff|gif|zint' "$pcdir"/*.pc "$libdir"/cmake/Morvik/*.cmake ||
  fail "a package file names a library that no installed header needs"

# Every installed header, in one file, against the installed tree only; with
# every inline function emitted, it links against the libraries alone.
{
  (cd "$prefix/include" && find morvik -name '*.h' | sort | sed 's|^\(.*\)|#include <\1>|')
  echo '#include <calib/calib.h>'
  echo 'int main() { return 0; }'
} >"$work/all_headers.cpp"
c++ -std=c++20 -fkeep-inline-functions -MD -MF "$work/all_headers.d" -o "$work/all_headers" "$work/all_headers.cpp" \
  $flags >"$work/all_headers.log" 2>&1 ||
  { grep -E 'error|undefined' "$work/all_headers.log" | head -n 20; fail "the installed headers need what the libraries do not export"; }
# Outside the prefix they may include only the C and C++ libraries and
# Clipper's headers.
if command -v dpkg >/dev/null; then
  sed 's/\\$//; s/^[^:]*://' "$work/all_headers.d" | tr ' ' '\n' | { grep '^/' || true; } |
    { grep -v -e "^$prefix/" -e '\.cpp$' || true; } | xargs -r realpath | sort -u >"$work/outside.txt"
  { xargs -r dpkg -S <"$work/outside.txt" 2>/dev/null || true; } | cut -d: -f1 | tr ',' '\n' | tr -d ' ' |
    sort -u >"$work/owners.txt"
  undeclared=$(grep -v -x -E 'libc6-dev|linux-libc-dev|libstdc\+\+-[0-9]+-dev|libgcc-[0-9]+-dev|gcc-[0-9]+|libpolyclipping-dev' \
    "$work/owners.txt" || true)
  [ -z "$undeclared" ] || fail "installed headers include headers of $(echo $undeclared), which the package files do not declare"
fi

# What the libraries export: no function of the platform layer a host might
# define itself, and nothing of a *_detail namespace but the one locale the
# headers' inline code needs.
exports=$work/exports.txt
nm -DC --defined-only "$libdir/libMorvik.so" | cut -d' ' -f3- >"$exports"
for name in Sleep CreateThread ReadFile WriteFile CreateEventW WaitForSingleObject MultiByteToWideChar BCAlloc; do
  ! grep -Eq "^$name(\(|$)" "$exports" || fail "libMorvik exports $name"
done
! grep -v -e '^afx_detail::CLocale()' -e '^std::' "$exports" | grep -Eq '^[A-Za-z0-9_:]*_detail::' || fail "libMorvik exports a *_detail function"
calib_exports=$(nm -D --defined-only "$libdir/libcalib.so" | wc -l)
[ "$calib_exports" -eq 13 ] || fail "libcalib exports $calib_exports symbols, not its 13 functions"
echo "install check: libMorvik exports $(wc -l <"$exports") symbols, libcalib $calib_exports"

# The sample host, built on its own with find_package(Morvik).
cmake -S "$top/tools" -B "$work/tools" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" \
  >"$work/tools-configure.log" || { cat "$work/tools-configure.log"; fail "tools do not configure"; }
cmake --build "$work/tools" -j "${JOBS:-$(nproc)}" >"$work/tools-build.log" \
  || { tail -n 40 "$work/tools-build.log"; fail "tools do not build against the installed tree"; }
"$work/tools/morvik_demo" "$work/out" >"$work/demo.log" 2>&1 || { tail -n 40 "$work/demo.log"; fail "the sample host failed"; }
for f in markdata.txt shapes.nc shapes.xml shapes.png drawing.dxf; do
  [ -s "$work/out/$f" ] || fail "the sample host wrote no $f"
done

# The README's host and its commands, as they stand, with the temporary
# prefix for /opt/morvik: each ```sh block in a shell with nothing exported.
host=$work/host
mkdir "$host"
cp "$work/out/drawing.dxf" "$host/"
awk -v dir="$host" -v ws="$work" '
  /^## / { on = ($0 == "## Using the libraries") }
  on && /^```/ && !block { block = substr($0, 4); n++; next }
  on && /^```$/ { block = ""; next }
  block == "cpp" { print > (dir "/host.cpp") }
  block == "cmake" { print > (dir "/CMakeLists.txt") }
  block == "sh" { print > (ws "/readme-" n ".sh") }' "$top/README.md"
[ -s "$host/host.cpp" ] && [ -s "$host/CMakeLists.txt" ] || fail "README has no host.cpp or CMakeLists.txt under \"Using the libraries\""
ls "$work"/readme-*.sh >/dev/null 2>&1 || fail "README has no commands under \"Using the libraries\""
for script in "$work"/readme-*.sh; do
  sed -i "s|/opt/morvik|$prefix|g" "$script"
  (cd "$host" && env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$work" bash -euo pipefail "$script") \
    >"$script.out" 2>"$script.err" || { cat "$script" "$script.err"; fail "the README's commands fail: $(basename "$script")"; }
  grep '^pen ' "$script.out" >"$script.pens" || { cat "$script" "$script.out"; fail "the README's host printed no mark data"; }
done
set -- "$work"/readme-*.sh.pens
[ $# -eq 2 ] || fail "README: expected a pkg-config and a CMake block of commands"
cmp -s "$1" "$2" || fail "the README's host prints other mark data built by pkg-config than by CMake"

# doc/host.md: its marking loop compiles, its calibration example runs.
awk '/^## / { sec = $0 } /^```cpp/ { on = 1; n++; next } /^```$/ { on = 0 } on { print > (n == 1 ? loop : cal) }' \
  loop="$work/loop.inc" cal="$work/calib_host.cpp" "$top/doc/host.md"
printf '%s\n' '#include <array>' '#include <vector>' '#include <morvik/halder/baseshape.h>' \
  '#include <morvik/halder/records.h>' '#include <morvik/core/markdata.h>' \
  'void Mark(int pen, const std::vector<std::vector<tagPOINTF>>& lines);' \
  'void MarkAll(std::vector<CBaseShape*>& shapes) {' '#include "loop.inc"' '}' >"$work/loop.cpp"
"${cxx[@]}" -fsyntax-only "$work/loop.cpp" $flags || fail "doc/host.md: the marking loop does not compile"
"${cxx[@]}" -o "$work/calib_host" "$work/calib_host.cpp" $flags "$rpath" || fail "doc/host.md: the calibration example does not build"
(cd "$work" && ./calib_host) >"$work/calib.out" || fail "doc/host.md: the calibration example failed"
grep -q 'mm -> (' "$work/calib.out" || fail "doc/host.md: the calibration example printed nothing"

# The hosts of tests/install: one with a core/markdata.h and a
# halder/baseshape.h of its own on its include path, one that includes X11
# before and after the library's headers with a MAX_PATH of its own, one that
# defines functions of the library's own helpers' names.
run() { "$@" >"$work/run.log" 2>&1 || { cat "$work/run.log"; fail "$(basename "$1") failed"; }; }
"${cxx[@]}" -I"$top/tests/install/shadow" -o "$work/shadowed" "$host/host.cpp" $flags "$rpath" ||
  fail "a host's own core/markdata.h takes the place of the library's"
run "$work/shadowed" "$host/drawing.dxf"
for order in -DX11_FIRST -DOURS_FIRST; do
  "${cxx[@]}" "$order" -o "$work/x11$order" "$top/tests/install/x11_host.cpp" $flags "$rpath" ||
    fail "a host including X11 ($order) does not build"
  run "$work/x11$order" "$host/drawing.dxf"
done
! printf '#include <X11/Xmd.h>\n#include <morvik/win32/windows.h>\n' |
  c++ -std=c++20 -fsyntax-only -x c++ - $flags 2>/dev/null || fail "X11/Xmd.h and windows.h meet: update the README"
"${cxx[@]}" -o "$work/interpose" "$top/tests/install/interpose_host.cpp" $flags "$rpath" ||
  fail "a host defining the helpers' names does not build"
run "$work/interpose" "$work"
echo "install check: package files, headers, exports, README commands, sample host and the hosts of tests/install pass against $prefix"
