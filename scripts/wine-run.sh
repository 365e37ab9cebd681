#!/bin/bash
# wine-run.sh PROGRAM.exe [ARGS...] - run a 32-bit Windows console program
# under Wine (through qemu-user, see wine-setup.sh).  stdin/stdout/stderr are
# passed through; the exit status is the program's exit code (Wine gives the
# low 8 bits of the Windows exit code, e.g. an unhandled access violation,
# 0xC0000005, comes back as 5).
#
# Environment: WINEPREFIX (default /tmp/wineprefix), WINEDEBUG (default -all),
# WINE_RUN_PERSIST = seconds the background wineserver stays up after the last
# program exits (default 600; it keeps later starts at ~0.3 s instead of ~1-3 s).
# If the machine is not set up yet (after a reboot, say), wine-setup.sh is run
# first, which needs root.
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 PROGRAM.exe [ARGS...]" >&2
    exit 2
fi

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SHIM_DIR=/usr/local/lib/plivane-wine
export WINEPREFIX="${WINEPREFIX:-/tmp/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# winemenubuilder: no desktop integration; mscoree/mshtml: no Mono/Gecko prompts.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] || [ ! -f "$WINEPREFIX/system.reg" ] ||
   [ ! -f "$SHIM_DIR/lib/i386-linux-gnu/libtrapfix.so" ] || ! command -v wine >/dev/null; then
    WINE_SETUP_QUIET=1 "$HERE/wine-setup.sh" >&2 || { echo "wine-run: wine-setup.sh failed" >&2; exit 125; }
fi
export LD_PRELOAD="$SHIM_DIR/\$LIB/libtrapfix.so${LD_PRELOAD:+:$LD_PRELOAD}"

prog=$1; shift
case "$prog" in
    [A-Za-z]:\\*|\\\\*) ;;   # Windows path, leave it to Wine
    *) if [ ! -f "$prog" ]; then echo "wine-run: no such file: $prog" >&2; exit 127; fi ;;
esac

# Keep one wineserver (and Wine's service processes) running in the background,
# detached and with stdio on /dev/null, so that it never holds on to the
# caller's pipes.  "wineserver -p" exits with status 2 if one is already up.
if setsid wineserver -p"${WINE_RUN_PERSIST:-600}" </dev/null >/dev/null 2>&1; then
    # Fresh server: let Wine start its service processes now (detached),
    # instead of under the program, where they would inherit its stderr.
    setsid wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
fi

exec wine "$prog" "$@"
