# Shared by the scripts in this folder; sourced, never run.
# Everything here is a function or a variable: sourcing it starts nothing.

WENDRIX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

wendrix_log() { printf '[wendrix] %s\n' "$*" >&2; }
wendrix_die() { printf '[wendrix] error: %s\n' "$*" >&2; exit 1; }

# The Wine prefix every test and demo of this tree runs in. It lives under the build tree so a
# clean clone never touches ~/.wine and `rm -rf build` resets Windows too. WENDRIX_WINEPREFIX
# chooses another one; a WINEPREFIX set by the caller is ignored on purpose (it is usually a
# personal prefix we must not register test controls in).
wendrix_wine_env() {
  export WINEPREFIX="${WENDRIX_WINEPREFIX:-$WENDRIX_ROOT/build/wineprefix}"
  # Wine needs a home directory even though the prefix is elsewhere; CI may not set one.
  [[ -n ${HOME:-} ]] || export HOME="$(getent passwd "$(id -u)" | cut -d: -f6)"
  export WINEARCH=win64
  export WINEDEBUG="${WENDRIX_WINEDEBUG:--all}"
  # No Mono or Gecko install dialogs, no desktop menu entries written into $HOME.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
}

# Creates the prefix on first use. Safe when several processes ask at once: one creates it under
# a lock, the others wait for it; a prefix whose creation was interrupted is created again.
wendrix_wine_prefix() {
  wendrix_wine_env
  local ready="$WINEPREFIX/.wendrix-ready-3"
  [[ -e $ready ]] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [[ -e $ready ]] && exit 0
    rm -rf "$WINEPREFIX"
    wendrix_log "creating Wine prefix $WINEPREFIX"
    if ! wineboot -i </dev/null >"$WINEPREFIX.log" 2>&1; then
      cat "$WINEPREFIX.log" >&2
      wendrix_die "wineboot -i failed for $WINEPREFIX"
    fi
    # Windows that no window manager handles: without one (Xvfb) the X11 driver waits up to 2 s
    # for it at every window that goes, so each closed message box would stall the thread
    # that showed it, and a recording's timer with it, by 2 s.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >>"$WINEPREFIX.log" 2>&1
    # A program that crashes ends with its backtrace on stderr, instead of waiting under Xvfb
    # for somebody to close Wine's crash dialog (a test run would hang until its timeout).
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      </dev/null >>"$WINEPREFIX.log" 2>&1
    # wineboot returns before the server has written the registry to disk; waiting for the
    # server to go makes the prefix complete before anyone is told it is ready.
    wineserver -w
    touch "$ready"
  ) 9>"$WINEPREFIX.lock"
}

# Keeps the prefix's server, and Wine's own services with it, running until wendrix_wine_stop.
# Without it the server ends a moment after each program and a program started in that moment
# can be killed by the server's shutdown while it starts ("ShellExecuteEx failed: Internal
# error"). The services are started here, with no terminal or pipe of the caller's to inherit.
wendrix_wine_keep() {
  wendrix_wine_prefix
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1
}

# Stops the prefix's server and every Windows process in it, and waits until they are gone.
wendrix_wine_stop() {
  wendrix_wine_env
  [[ -d $WINEPREFIX ]] || return 0
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}
