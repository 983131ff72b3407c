#!/usr/bin/env bash
# Installs what the Windows build needs, when it is missing: the MinGW-w64 cross compiler (POSIX
# threads variant, so std::thread and std::mutex work), Wine to run the programs and tests, and
# the Debian sources of the libraries JUCE's modules include (zlib, libpng, libjpeg-turbo). Debian's
# JUCE has its bundled copies of those removed, so they are cross-built from the same sources as
# Debian's own packages (scripts/build-windows-deps.sh). GoogleTest is built from
# /usr/src/googletest (package googletest).
#
# The sources land in DEPS_DIR/src/, once, and only while the libraries there are not built yet;
# apt-get source needs a deb-src entry, so one is added for the archive and suite the machine
# already installs from, when there is none. The versions are those of the release's main suite:
# the security suite's source files are not always on the mirror that serves its binaries.
#
# Usage: scripts/install-windows-deps.sh [DEPS_DIR]   (root or sudo; default: the folder in the
#        user's cache that scripts/windows-deps-dir.sh names)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows-deps-dir.sh
packages=(g++-mingw-w64-x86-64-posix libcli11-dev nlohmann-json3-dev wine wine64 dpkg-dev xz-utils googletest cmake ninja-build
          juce-modules-source file)
sources=(zlib libpng1.6 libjpeg-turbo)

say() { echo "install-windows-deps: $*" >&2; }
step_start() { step_t0=$EPOCHREALTIME; }
step_end() { say "$1 took $(awk -v a="$step_t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s"; }

SUDO=""
need_root()
{
    [ "$(id -u)" -eq 0 ] && return 0
    if command -v sudo >/dev/null 2>&1; then
        SUDO="sudo"
        return 0
    fi
    say "this needs root or sudo: $*"
    exit 1
}

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}")
updated=""
apt_update() { [ -n "$updated" ] || { $SUDO apt-get update -qq; updated=1; }; }

# 1. Packages.
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    need_root "installing ${missing[*]}"
    step_start
    apt_update
    bytes=$(apt-get install --no-install-recommends --print-uris -qq "${missing[@]}" 2>/dev/null \
            | awk '{ s += $3 } END { print s + 0 }')
    say "installing ${missing[*]} ($((bytes / 1000000)) MB to download)"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        >>"$log" 2>&1 || { tail "$log" >&2; exit 1; }
    step_end "installing the packages"
fi

# The folder is named after the installed compiler's version, so it is known only now.
deps=${1:-$(windows_deps_dir)}
src_dir=$deps/src
mkdir -p "$deps"
log=$(cd "$deps" && pwd)/install.log   # what apt and dpkg-source say, kept out of the way
# Built libraries need no sources (nor the slow apt-cache queries that find them).
if [ -f "$deps/complete" ]; then
    [ -z "${SUDO_UID:-}" ] || chown -R "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$deps"
    exit 0
fi

# 2. A deb-src entry for the release's main suite on the archive the machine already uses.
# One query for all of them: apt-cache is slow to load on a busy machine.
madison=$(apt-cache madison "${sources[@]}" 2>/dev/null || true)
if ! grep -q " $codename/main Sources" <<<"$madison"; then
    need_root "adding a deb-src entry"
    # The archive that serves the main suite: from the deb822 files or the one-line lists.
    uri=$(awk -v s="$codename" '
            /^URIs:/ { u = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == s) found = u }
            /^$/ { u = "" } END { print found }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    if [ -z "$uri" ]; then
        uri=$(awk -v s="$codename" '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i == s) { print $(i - 1); exit } }' \
              /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
    fi
    [ -n "$uri" ] || { say "no apt source for suite $codename found in /etc/apt/sources.list*"; exit 1; }
    say "adding deb-src $uri $codename main (/etc/apt/sources.list.d/lyrlink-deb-src.sources)"
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$uri" "$codename" | $SUDO tee /etc/apt/sources.list.d/lyrlink-deb-src.sources >/dev/null
    step_start
    updated=""
    apt_update
    step_end "apt-get update for the deb-src entry"
    madison=$(apt-cache madison "${sources[@]}")
fi

# 3. The library sources, at the main suite's versions, unpacked once.
mkdir -p "$src_dir"
for s in "${sources[@]}"; do
    version=$(awk -F' [|] ' -v p="$s" -v s=" $codename/main Sources" '
                { gsub(/ /, "", $1); gsub(/ /, "", $2) } $1 == p && index($3, s) { print $2; exit }' <<<"$madison")
    [ -n "$version" ] || { say "no source package $s in $codename/main"; exit 1; }
    upstream=${version#*:}
    upstream=${upstream%-*}
    if [ -d "$src_dir/$s-$upstream" ] && [ -f "$src_dir/$s.version" ] && [ "$(cat "$src_dir/$s.version")" = "$version" ]; then
        continue
    fi
    step_start
    bytes=$(cd "$src_dir" && apt-get source --print-uris -qq "$s=$version" | awk '{ s += $3 } END { print s + 0 }')
    say "fetching the source of $s $version ($((bytes / 1000)) kB)"
    (cd "$src_dir" && apt-get source -qq "$s=$version" >>"$log" 2>&1) || { tail "$log" >&2; exit 1; }
    echo "$version" >"$src_dir/$s.version"
    step_end "fetching $s"
done
# Whoever asked through sudo owns the folder.
[ -z "${SUDO_UID:-}" ] || chown -R "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$deps"
[ -d /usr/src/googletest/googletest ] || { say "/usr/src/googletest is missing (package googletest)"; exit 1; }
exit 0
