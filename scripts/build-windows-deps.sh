#!/usr/bin/env bash
# Cross-builds the libraries the Windows build links, into DEPS_DIR (include/ and lib/):
# zlib, libpng and libjpeg-turbo from the Debian sources that scripts/install-windows-deps.sh
# fetched into BUILD_DIR/deps/src, and GoogleTest (with GoogleMock) from /usr/src/googletest.
# All static, so that the programs need no DLL beside them.
#
# Each library is built once: a stamp file records the source version and the build recipe
# (the library's build function here and the toolchain file), so a second run does nothing until
# one of them changes. When all are built, DEPS_DIR/complete says so.
#
# Usage: scripts/build-windows-deps.sh [DEPS_DIR]   (default: the folder in the user's cache that
#        scripts/windows-deps-dir.sh names, shared by every checkout)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/windows-deps-dir.sh

dir=${1:-$(windows_deps_dir)}
mkdir -p "$dir"
deps=$(cd "$dir" && pwd)
src=$deps/src
work=$deps/build
prefix=$deps
toolchain=$root/cmake/mingw-w64-x86_64.cmake
triplet=x86_64-w64-mingw32
jobs=$(nproc)

say() { echo "build-windows-deps: $*" >&2; }
die() { say "$*"; exit 1; }
command -v $triplet-gcc-posix >/dev/null 2>&1 ||
    die "the MinGW-w64 compiler is missing; run scripts/install-windows-deps.sh first"


# The unpacked source folder of Debian source package $1 (fetched by install-windows-deps.sh).
source_dir()
{
    local v
    [ -f "$src/$1.version" ] || die "no source of $1 in $src; run scripts/install-windows-deps.sh first"
    v=$(cat "$src/$1.version")
    v=${v#*:}
    v=${v%-*}
    [ -d "$src/$1-$v" ] || die "$src/$1-$v is missing; run scripts/install-windows-deps.sh again"
    echo "$src/$1-$v"
}

# Runs build step $2 (a function) for library $1 unless its stamp says it is built from the same
# source ($3: a version) with the same recipe.
built_once()
{
    # The recipe: the library's build function, the helpers it calls, and the toolchain file.
    local recipe
    recipe=$( { declare -f "$2" cmake_lib source_dir; cat "$toolchain"; } | sha256sum | cut -c1-16)
    local name=$1 fn=$2 stamp="$deps/stamps/$1" want="$3 $recipe" t0=$EPOCHREALTIME
    local log="$deps/logs/$1.log"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
        return 0
    fi
    say "building $name ($3)"
    rm -rf "${work:?}/$name"
    mkdir -p "$work/$name" "$deps/stamps" "$deps/logs"
    if ! (cd "$work/$name" && "$fn") >"$log" 2>&1; then
        tail -30 "$log" >&2
        die "building $name failed; the whole output is in $log"
    fi
    echo "$want" >"$stamp"
    say "$name took $(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s"
}

cmake_lib()
{
    local dir=$1
    shift
    nice -n 19 cmake -S "$dir" -B . -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_FIND_ROOT_PATH="$prefix" "$@"
    nice -n 19 cmake --build . -j "$jobs"
    cmake --install .
}

# zlib: Debian's source has the Windows resource files removed, which its CMake build needs for
# the DLL; its configure script builds the static library alone.
build_zlib()
{
    CHOST=$triplet CC=$triplet-gcc-posix AR=$triplet-gcc-ar-posix RANLIB=$triplet-gcc-ranlib-posix \
        CFLAGS="-O2" "$(source_dir zlib)/configure" --static --prefix="$prefix"
    nice -n 19 make -j "$jobs" libz.a
    make install-libs
    install -d "$prefix/include"
    install -m 644 zconf.h "$(source_dir zlib)/zlib.h" "$prefix/include/"
}

build_libpng()
{
    cmake_lib "$(source_dir libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF \
        -DPNG_TESTS=OFF -Dld-version-script=OFF -DZLIB_ROOT="$prefix" \
        -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include"
}

# Without SIMD: that would need the nasm assembler, and image decoding speed does not matter here.
build_libjpeg()
{
    cmake_lib "$(source_dir libjpeg-turbo)" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF \
        -DWITH_TURBOJPEG=OFF -DCMAKE_INSTALL_LIBDIR="$prefix/lib" -DCMAKE_INSTALL_INCLUDEDIR="$prefix/include"
    # JUCE asks for the library's internals (JPEG_INTERNALS); Debian's -dev package ships them too.
    install -m 644 "$(source_dir libjpeg-turbo)/jpegint.h" "$prefix/include/"
}

build_googletest()
{
    cmake_lib /usr/src/googletest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -DCMAKE_INSTALL_LIBDIR=lib \
        -Dgtest_disable_pthreads=OFF
}

gtest_version=$(dpkg-query -W -f='${Version}' googletest 2>/dev/null) ||
    die "package googletest is missing; run scripts/install-windows-deps.sh first"

built_once zlib build_zlib "$(cat "$src/zlib.version")"
built_once libpng build_libpng "$(cat "$src/libpng1.6.version")"
built_once libjpeg build_libjpeg "$(cat "$src/libjpeg-turbo.version")"
built_once googletest build_googletest "$gtest_version"
# The intermediate objects are not needed again: the stamps decide what is rebuilt.
rm -rf "${work:?}"
touch "$deps/complete"
