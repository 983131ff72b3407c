# Sourced by the scripts that run Windows programs under Wine: a headless, quiet Wine with its
# prefix in the Windows build folder, created once.
#
#   wine_env [PREFIX]       exports the environment (prefix defaults to build-windows/wineprefix
#                           of this checkout, or $WINEPREFIX when already set)
#   wine_prefix_setup       creates the prefix when it is missing or incomplete: a copy of the one
#                           kept in the user's cache for this Wine version, made there once (a
#                           new prefix takes Wine the better part of a minute; a copy a second)
#   wine_prefix_copy DIR    makes DIR a copy of the prepared prefix, for a network namespace:
#                           Wine keeps its sockets in the wineserver process, one per prefix, so
#                           programs in a namespace need a prefix (and server) of their own
#
# The prefix: no display driver (Graphics=null; nothing needs an X server), no Direct3D
# (renderer=no3d), and no winedbg, so that a crashing program ends with a failing exit code
# instead of starting the debugger, which exits 0 or waits. WINEDLLOVERRIDES keeps wineboot from
# offering to install Mono and Gecko; WINEDEBUG=-all keeps Wine's own messages out of the
# programs' output.

wine_ready_mark=.lyrlink-prefix-ready

wine_env()
{
    local root
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    export WINEPREFIX=${1:-${WINEPREFIX:-$root/build-windows/wineprefix}}
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
}

wine_prefix_setup()
{
    [ -f "$WINEPREFIX/$wine_ready_mark" ] && return 0
    command -v wine >/dev/null 2>&1 || {
        echo "wine: Wine is missing; run scripts/install-windows-deps.sh" >&2
        return 1
    }
    local version cached
    version=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.\n' '_')
    cached=${XDG_CACHE_HOME:-$HOME/.cache}/lyrlink/wineprefix-$version
    mkdir -p "$(dirname "$WINEPREFIX")" "$(dirname "$cached")"
    (
        # Tests started in parallel wait here for the one that creates the prefix.
        flock 9
        [ -f "$WINEPREFIX/$wine_ready_mark" ] && exit 0
        rm -rf "$WINEPREFIX"
        if [ -f "$cached/$wine_ready_mark" ]; then
            cp -a "$cached" "$WINEPREFIX" && exit 0
            rm -rf "$WINEPREFIX"
        fi
        echo "wine: creating the prefix $WINEPREFIX" >&2
        wineboot --init >/dev/null 2>&1 || exit 1
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 &&
            wine reg add 'HKCU\Software\Wine\Direct3D' /v renderer /d no3d /f >/dev/null 2>&1 &&
            wine reg add 'HKCU\Software\Wine\DllOverrides' /v winedbg.exe /d "" /f >/dev/null 2>&1 &&
            wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f \
                >/dev/null 2>&1
        # The registry reaches the files when the server ends.
        wineserver -w
        grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg" || { echo "wine: setting up $WINEPREFIX failed" >&2; exit 1; }
        touch "$WINEPREFIX/$wine_ready_mark"
        # Kept for the next checkout; copied whole, so a half-made copy is never marked ready.
        rm -rf "$cached.tmp" && cp -a "$WINEPREFIX" "$cached.tmp" && rm -rf "$cached" && mv "$cached.tmp" "$cached"
        exit 0
    ) 9>"$WINEPREFIX.lock"
}

wine_prefix_copy()
{
    local dir=$1
    wine_prefix_setup || return 1
    rm -rf "$dir"
    cp -a "$WINEPREFIX" "$dir"
}

# Gives network namespace $1 a Wine server of its own, on prefix DIR ($2, a fresh copy of the
# prepared one), and exports WINEPREFIX=DIR: `ip netns exec $1 wine ...` then creates its sockets
# in the namespace. Stop it with `WINEPREFIX=DIR wineserver -k` and remove DIR afterwards.
wine_netns_server()
{
    local ns=$1 dir=$2
    wine_prefix_copy "$dir" || return 1
    export WINEPREFIX=$dir
    ip netns exec "$ns" wineserver -p
}
