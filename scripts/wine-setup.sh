#!/bin/bash
# wine-setup.sh - make this machine able to run 32-bit Windows console .exe
# files (built with i686-w64-mingw32-g++-posix) under Wine.  Idempotent; run as
# root.  Exits 0 once a 32-bit test program runs and returns its exit code.
#
# Why it is this complicated: the kernel here (a PVM/Firecracker guest)
# cannot execute 32-bit x86 code at all - 32-bit ELF files fail with "Exec
# format error" and even a far jump to the 32-bit code segment (0x23) faults,
# so neither wine32 nor Wine's WoW64 mode can run natively.  So:
#   * 32-bit ELF binaries (the wine32 loader) run under qemu-user through
#     binfmt_misc.  Debian bookworm's qemu 7.2 is unusable for Wine (about
#     three minutes per process start, spent in its page tracking, and
#     crashes), so qemu-user 10 comes from bookworm-backports.
#   * wine64 is installed as well: the prefix is a win64 one, so wineserver
#     and the Wine system processes (services.exe, winedevice.exe, ...) run
#     natively as 64-bit code, and only the 32-bit program itself is emulated.
#   * qemu passes trapno=-1 in the signal context, so Wine would report every
#     access violation / divide by zero / breakpoint as "illegal instruction"
#     (and PAGE_GUARD faults would break).  A small LD_PRELOAD shim for the
#     32-bit Wine side puts the right trap number back (see trapfix.c below).
#
# Environment: WINEPREFIX (default /tmp/wineprefix), WINEARCH (only used when
# the prefix is created; default win64).  Set WINE_SETUP_QUIET=1 to print less.
set -euo pipefail

PREFIX_DIR="${WINEPREFIX:-/tmp/wineprefix}"
SHIM_DIR=/usr/local/lib/plivane-wine
BINFMT=/proc/sys/fs/binfmt_misc
QEMU=/usr/bin/qemu-i386
BACKPORTS_LIST=/etc/apt/sources.list.d/bookworm-backports.sources

say() { [ "${WINE_SETUP_QUIET:-0}" = 1 ] || echo "wine-setup: $*" >&2; }
die() { echo "wine-setup: ERROR: $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || die "must be run as root"
export DEBIAN_FRONTEND=noninteractive

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'; }
APT_UPDATED=0
apt_update() { [ "$APT_UPDATED" = 1 ] || { say "apt-get update"; apt-get update -qq >/dev/null; APT_UPDATED=1; }; }
apt_install() {   # apt_install [-t SUITE] PKG...
    apt_update
    say "apt-get install $*"
    apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# --- 1. packages ---------------------------------------------------------
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture"
    dpkg --add-architecture i386
    APT_UPDATED=0
fi

qemu_ok() {   # qemu-user >= 8 (tested with 10.0.2 from bookworm-backports)
    [ -x "$QEMU" ] || return 1
    local v; v=$("$QEMU" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
    [ -n "$v" ] && [ "$v" -ge 8 ]
}
if ! qemu_ok; then
    if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        say "adding bookworm-backports to the apt sources"
        cat > "$BACKPORTS_LIST" <<'EOF'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
        APT_UPDATED=0
    fi
    apt_install -t bookworm-backports qemu-user
    qemu_ok || die "$QEMU is missing or older than 8.0 after installing qemu-user from bookworm-backports"
fi

missing=()
for p in wine wine32:i386 wine64 gcc-multilib; do
    have_pkg "$p" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"

# --- 2. binfmt_misc: run i386 ELF files with qemu-i386 ---------------------
if [ ! -e "$BINFMT/register" ]; then
    grep -qw binfmt_misc /proc/filesystems || modprobe binfmt_misc 2>/dev/null || true
    mount -t binfmt_misc binfmt_misc "$BINFMT" || die "cannot mount binfmt_misc on $BINFMT"
fi
[ "$(cat "$BINFMT/status")" = enabled ] || echo 1 > "$BINFMT/status"
# Same magic/mask as qemu's qemu-binfmt-conf.sh for i386 (ET_EXEC and ET_DYN).
# Flag F: the kernel opens the interpreter now, so it works in any mount ns.
BINFMT_LINE=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU"':F'
binfmt_ok() {
    [ -e "$BINFMT/qemu-i386" ] &&
    grep -qx enabled "$BINFMT/qemu-i386" &&
    grep -qx "interpreter $QEMU" "$BINFMT/qemu-i386" &&
    grep -q '^flags: .*F' "$BINFMT/qemu-i386"
}
if ! binfmt_ok; then
    [ -e "$BINFMT/qemu-i386" ] && echo -1 > "$BINFMT/qemu-i386"
    say "registering i386 ELF -> $QEMU in binfmt_misc"
    printf '%s' "$BINFMT_LINE" > "$BINFMT/register"
    binfmt_ok || die "binfmt_misc registration of qemu-i386 failed"
fi
/usr/lib/wine/wine --version >/dev/null 2>&1 || die "/usr/lib/wine/wine (32-bit) still cannot be executed"

# --- 3. trap-number shim for the 32-bit Wine side --------------------------
SHIM_SRC=$(cat <<'EOF'
/* Preloaded into 32-bit Wine processes running under qemu-user.  qemu puts
 * trapno = -1 into the signal context; Wine's i386 signal handlers switch on
 * the trap number, so without this every page fault becomes
 * EXCEPTION_ILLEGAL_INSTRUCTION.  We wrap the SIGSEGV/SIGBUS/SIGILL/SIGFPE/
 * SIGTRAP handlers Wine installs and derive the trap number from si_code. */
#define _GNU_SOURCE
#include <signal.h>
#include <ucontext.h>
#include <dlfcn.h>
typedef void (*sa_fn)(int, siginfo_t *, void *);
typedef int (*sigaction_fn)(int, const struct sigaction *, struct sigaction *);
static sa_fn real_handler[65];

static void trapfix_handler(int sig, siginfo_t *si, void *ucp)
{
    greg_t *g = ((ucontext_t *)ucp)->uc_mcontext.gregs;
    if (g[REG_TRAPNO] < 0 || g[REG_TRAPNO] > 31)
    {
        switch (sig)
        {
        case SIGSEGV: case SIGBUS:   /* 14 = page fault, 13 = general protection */
            g[REG_TRAPNO] = (si->si_code == SEGV_MAPERR || si->si_code == SEGV_ACCERR) ? 14 : 13;
            break;
        case SIGILL:  g[REG_TRAPNO] = 6; break;                                  /* #UD */
        case SIGFPE:  g[REG_TRAPNO] = si->si_code == FPE_INTDIV ? 0 : si->si_code == FPE_INTOVF ? 4 : 16; break;
        case SIGTRAP: g[REG_TRAPNO] = si->si_code == TRAP_TRACE ? 1 : 3; break;  /* #DB / #BP */
        }
    }
    real_handler[sig](sig, si, ucp);
}

int sigaction(int sig, const struct sigaction *act, struct sigaction *old)
{
    static sigaction_fn real;
    int r;
    if (!real) real = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
    if (act && (act->sa_flags & SA_SIGINFO) && act->sa_sigaction != trapfix_handler &&
        (sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP))
    {
        struct sigaction a = *act;
        sa_fn prev = real_handler[sig];
        real_handler[sig] = act->sa_sigaction;
        a.sa_sigaction = trapfix_handler;
        r = real(sig, &a, old);
        if (r == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == trapfix_handler)
            old->sa_sigaction = prev;
        return r;
    }
    r = real(sig, act, old);
    if (r == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == trapfix_handler)
        old->sa_sigaction = real_handler[sig];
    return r;
}
EOF
)
SHIM_HASH=$(printf '%s' "$SHIM_SRC" | sha256sum | cut -d' ' -f1)
if [ "$(cat "$SHIM_DIR/trapfix.sha256" 2>/dev/null)" != "$SHIM_HASH" ] ||
   [ ! -f "$SHIM_DIR/lib/i386-linux-gnu/libtrapfix.so" ] ||
   [ ! -f "$SHIM_DIR/lib/x86_64-linux-gnu/libtrapfix.so" ]; then
    say "building the trap-number shim in $SHIM_DIR"
    tmp=$(mktemp -d)
    printf '%s\n' "$SHIM_SRC" > "$tmp/trapfix.c"
    echo 'void plivane_trapfix_noop(void) {}' > "$tmp/noop.c"
    # -fno-stack-protector/-mstackrealign: the handler runs with whatever %gs
    # and stack alignment the interrupted (Windows) code had.
    gcc -m32 -O2 -fPIC -shared -fno-stack-protector -mstackrealign -o "$tmp/trapfix32.so" "$tmp/trapfix.c" -ldl
    gcc -O2 -fPIC -shared -o "$tmp/noop64.so" "$tmp/noop.c"   # LD_PRELOAD uses $LIB: 64-bit Wine parts get a no-op
    mkdir -p "$SHIM_DIR/lib/i386-linux-gnu" "$SHIM_DIR/lib/x86_64-linux-gnu"
    install -m 644 "$tmp/trapfix32.so" "$SHIM_DIR/lib/i386-linux-gnu/libtrapfix.so"
    install -m 644 "$tmp/noop64.so" "$SHIM_DIR/lib/x86_64-linux-gnu/libtrapfix.so"
    cp "$tmp/trapfix.c" "$SHIM_DIR/trapfix.c"
    echo "$SHIM_HASH" > "$SHIM_DIR/trapfix.sha256"
    rm -rf "$tmp"
fi

# --- 4. Wine prefix --------------------------------------------------------
export WINEPREFIX="$PREFIX_DIR" WINEDEBUG="${WINEDEBUG:--all}"
export LD_PRELOAD="$SHIM_DIR/\$LIB/libtrapfix.so${LD_PRELOAD:+:$LD_PRELOAD}"
if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/.update-timestamp" ]; then
    say "creating Wine prefix $WINEPREFIX (${WINEARCH:-win64}); takes about 10-30 s"
    mkdir -p "$(dirname "$WINEPREFIX")"
    # mscoree/mshtml disabled: no Mono/Gecko download prompts.  All stdio goes
    # to /dev/null so long-lived Wine processes never hold a caller's pipe.
    WINEARCH="${WINEARCH:-win64}" WINEDLLOVERRIDES="mscoree,mshtml=" \
        setsid wine wineboot.exe --init </dev/null >/dev/null 2>&1 || true
    wineserver -w || true
    [ -f "$WINEPREFIX/system.reg" ] || die "Wine prefix creation failed in $WINEPREFIX"
fi

# --- 5. self test: a real 32-bit mingw program ------------------------------
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if command -v i686-w64-mingw32-g++-posix >/dev/null; then
    cat > "$tmp/t.cpp" <<'EOF'
#include <windows.h>
#include <cstdio>
#include <thread>
int main() {
    int v = 0;
    std::thread t([&] { v = 40; });
    t.join();
    std::printf("wine-selftest %d\n", v + 2);
    return v + 3;
}
EOF
    i686-w64-mingw32-g++-posix -O2 -static -static-libgcc -static-libstdc++ "$tmp/t.cpp" -o "$tmp/t.exe"
    # (text-mode stdout of a Windows program ends lines with \r\n)
    set +e; out=$("$HERE/wine-run.sh" "$tmp/t.exe" </dev/null 2>/dev/null); rc=$?; set -e
    out=${out%$'\r'}
    [ "$out" = "wine-selftest 42" ] && [ "$rc" = 43 ] ||
        die "self test failed: stdout='$out' exit=$rc (expected 'wine-selftest 42', 43)"
else
    set +e; "$HERE/wine-run.sh" 'C:\windows\syswow64\cmd.exe' /c exit 43 </dev/null >/dev/null 2>&1; rc=$?; set -e
    [ "$rc" = 43 ] || die "self test failed: 32-bit cmd.exe returned $rc, expected 43"
fi
say "OK: Wine can run 32-bit Windows programs (prefix $WINEPREFIX)"
exit 0
