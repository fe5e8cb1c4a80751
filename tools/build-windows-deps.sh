#!/usr/bin/env bash
# Builds the filter's dependencies for 64-bit Windows from the distribution's own
# source packages, into a prefix outside the repository:
#   bin/lua51.dll, lib/liblua51.dll.a   Lua 5.1 as the DLL that Windows Lua C
#                                       modules link against, so a module that a
#                                       script requires shares the filter's one
#                                       interpreter
#   lib/liblua51.delay.a                its delay-load import library, for the
#                                       filter, which loads lua51.dll from its
#                                       own directory before the first Lua call
#   lib/liblfs.a                        LuaFileSystem, linked into the filter,
#                                       which opens it itself in every state
#   lib/libexpat.a                      Expat (consumers define XML_STATIC)
#   lib/libz.a                          zlib, for the replay's .gz logs
#   lua/                                LuaSocket for scripts: socket\core.dll and
#                                       mime\core.dll (linked against lua51.dll)
#                                       and its Lua files, laid out for
#                                       package.path "lua/?.lua" and
#                                       package.cpath "lua/?.dll"
#   include/                            their headers
# The prefix is rebuilt only when a source version, this script or the
# toolchain changes; otherwise the script returns at once.
# Usage: tools/build-windows-deps.sh [prefix]
#   default prefix: ${XDG_CACHE_HOME:-$HOME/.cache}/quillharbor/win64-deps
# Needs tools/setup.sh windows (MinGW-w64, dpkg-dev and the source index).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-${XDG_CACHE_HOME:-$HOME/.cache}/quillharbor/win64-deps}
toolchain=$repo/cmake/toolchain-mingw64.cmake
triple=x86_64-w64-mingw32
cc=$(command -v $triple-gcc-posix || command -v $triple-gcc)
packages=(lua5.1 lua-filesystem expat zlib luasocket)

# As root apt would otherwise warn that its sandbox user cannot read the cache.
apt_opts=(-qq)
[ "$(id -u)" -ne 0 ] || apt_opts+=(-o APT::Sandbox::User=root)

# The source versions apt would fetch, read from its index without fetching.
if ! dsc_names=$(apt-get "${apt_opts[@]}" source --print-uris "${packages[@]}" 2>&1 |
  awk '$2 ~ /\.dsc$/ {print $2}' | sort -u) || [ "$(wc -l <<<"$dsc_names")" -ne ${#packages[@]} ]; then
  echo "build-windows-deps: apt knows no source of ${packages[*]}; run tools/setup.sh windows" >&2
  exit 1
fi
key="$(tr '\n' ' ' <<<"$dsc_names")$("$cc" -dumpversion) $(cat "$0" "$toolchain" | sha256sum | cut -c1-16)"

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/.key" ] && [ "$(cat "$prefix/.key")" = "$key" ]; then
  echo "build-windows-deps: up to date in $prefix"
  exit 0
fi

echo "build-windows-deps: building $dsc_names" | tr '\n' ' '
echo
work=$(mktemp -d "$prefix.work.XXXXXX")
trap 'rm -rf "$work"' EXIT
stage=$work/prefix
mkdir -p "$stage/bin" "$stage/lib" "$stage/include"
cd "$work"
apt-get "${apt_opts[@]}" source "${packages[@]:0:4}" >/dev/null
# LuaSocket's Debian changes touch only its packaging; a mirror that lacks them
# still gave the verified upstream tarball, which is then unpacked as it is.
if ! apt-get "${apt_opts[@]}" source luasocket >/dev/null 2>luasocket.err; then
  tar xzf luasocket_*.orig.tar.gz 2>/dev/null || { cat luasocket.err >&2; exit 1; }
fi

# Lua 5.1: the core and the standard libraries, without the stand-alone programs.
lua_src=$(echo "$work"/lua5.1-*/src)
mkdir lua-obj
ls "$lua_src"/*.c | grep -vE '/(lua|luac|print)\.c$' |
  xargs -P2 -I{} sh -c '"$1" -O2 -DLUA_BUILD_AS_DLL -c "$2" -o "lua-obj/$(basename "$2" .c).o"' _ "$cc" {}
"$cc" -shared -s -static-libgcc -o "$stage/bin/lua51.dll" lua-obj/*.o \
  -Wl,--out-implib,"$stage/lib/liblua51.dll.a" -Wl,--output-def,lua51.def
$triple-dlltool --input-def lua51.def --dllname lua51.dll --output-delaylib "$stage/lib/liblua51.delay.a"
cp "$lua_src"/{lua.h,luaconf.h,lualib.h,lauxlib.h} "$(dirname "$lua_src")/etc/lua.hpp" "$stage/include/"

# LuaFileSystem, static. Its header marks luaopen_lfs for export; the export
# directive is dropped so that the filter module exports only its entry points.
lfs_src=$(echo "$work"/lua-filesystem-*/src)
"$cc" -O2 -DLUA_BUILD_AS_DLL -I"$stage/include" -c "$lfs_src/lfs.c" -o lfs.o
$triple-objcopy --remove-section=.drectve lfs.o
$triple-ar rcs "$stage/lib/liblfs.a" lfs.o
cp "$lfs_src/lfs.h" "$stage/include/"

# Expat, static, with its own build. The distribution's security fixes test
# "XML_DTD == 1", which its autotools build defines and the CMake template
# leaves empty.
expat_src=$(echo "$work"/expat-*/expat)
sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$expat_src/expat_config.h.cmake"
cmake -S "$expat_src" -B expat-build -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" \
  -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
  -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=OFF >/dev/null
cmake --build expat-build -j2 >/dev/null
cmake --install expat-build >/dev/null
rm -rf "$stage/lib/cmake" "$stage/share"

# zlib, static: the library's sources without its example programs.
zlib_src=$(ls -d "$work"/zlib-*/ | head -1)
mkdir zlib-obj
for name in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate \
  inftrees trees uncompr zutil; do
  "$cc" -O2 -c "$zlib_src/$name.c" -o "zlib-obj/$name.o"
done
$triple-ar rcs "$stage/lib/libz.a" zlib-obj/*.o
cp "$zlib_src"/{zlib.h,zconf.h} "$stage/include/"
# LuaSocket: the socket and mime cores as Lua C modules against lua51.dll.
socket_src=$(echo "$work"/luasocket-*/src)
mkdir -p socket-obj "$stage/lua/socket" "$stage/lua/mime"
for c in luasocket timeout buffer io auxiliar compat options inet wsocket except select tcp udp mime; do
  "$cc" -O2 -DLUA_BUILD_AS_DLL -DLUASOCKET_NODEBUG -DWINVER=0x0601 -D_WIN32_WINNT=0x0601 \
    -I"$stage/include" -c "$socket_src/$c.c" -o "socket-obj/$c.o"
done
(cd socket-obj &&
  "$cc" -shared -s -static-libgcc -o "$stage/lua/socket/core.dll" luasocket.o timeout.o buffer.o io.o \
    auxiliar.o compat.o options.o inet.o wsocket.o except.o select.o tcp.o udp.o \
    "$stage/lib/liblua51.dll.a" -lws2_32 &&
  "$cc" -shared -s -static-libgcc -o "$stage/lua/mime/core.dll" mime.o compat.o "$stage/lib/liblua51.dll.a")
cp "$socket_src"/{ltn12,socket,mime}.lua "$stage/lua/"
cp "$socket_src"/{http,url,tp,ftp,headers,smtp}.lua "$stage/lua/socket/"

printf '%s\n' $dsc_names >"$stage/versions.txt"
echo "$key" >"$stage/.key"
rm -rf "$prefix"
mv "$stage" "$prefix"
echo "build-windows-deps: installed in $prefix"
