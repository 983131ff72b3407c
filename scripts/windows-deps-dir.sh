# Sourced by the Windows build scripts: where the cross-built libraries live.
#
#   windows_deps_dir     prints the folder (not created here)
#
# The libraries do not depend on the checkout, only on how they are built, so they are kept
# outside it, in the user's cache, and every clone (a CI clone above all) finds them built. The
# folder's name carries a key of what makes them: the recipe (scripts/build-windows-deps.sh), the
# toolchain file, and the installed versions of the cross compiler and of GoogleTest. A change
# to any of them makes a new folder, built from scratch; the source versions are checked inside
# (build-windows-deps.sh keeps a stamp per library). LYRLINK_WINDOWS_DEPS names another folder.

windows_deps_dir()
{
    if [ -n "${LYRLINK_WINDOWS_DEPS:-}" ]; then
        echo "$LYRLINK_WINDOWS_DEPS"
        return 0
    fi
    local root key
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    key=$( {
        cat "$root/scripts/build-windows-deps.sh" "$root/cmake/mingw-w64-x86_64.cmake"
        dpkg-query -W -f='${Package} ${Version}\n' g++-mingw-w64-x86-64-posix googletest 2>/dev/null || true
    } | sha256sum | cut -c1-12)
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/lyrlink/windows-deps-$key"
}
