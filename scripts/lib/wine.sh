# Shell helpers for running the Windows programs under Wine, one prefix at a time.
# Source this file; every function takes the prefix folder as its first argument.

WINE_LOADER=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/wine64
WINE_SERVER=/usr/lib/wine/wineserver
export WINEDEBUG=${WINEDEBUG:--all}

# A fresh prefix, with its own persistent server: each later Wine process then starts
# in a tenth of a second instead of three. A new prefix comes up with two services.exe,
# each answering on the SCM's pipe with its own list of services, so that a service
# created through one is missing in the other; after one restart of the server a single
# services.exe serves them all.
wine_prefix_create() {
  local prefix=$1
  wine_server_stop "$prefix"
  rm -rf "$prefix"
  mkdir -p "$prefix"
  wine_server_start "$prefix"
  WINEPREFIX=$prefix timeout 120 "$WINE_LOADER" wineboot --init >/dev/null 2>&1
  wine_server_stop "$prefix"
  wine_server_start "$prefix"
  # This first process starts services.exe, whose environment and stderr every service
  # inherits: Wine's ReportEventW stores nothing, but prints each event's text on the
  # eventlog channel, which lands in C:\services-events.log.
  WINEPREFIX=$prefix WINEDEBUG=-all,+eventlog timeout 60 "$WINE_LOADER" cmd /c exit \
    >/dev/null 2>"$prefix/drive_c/services-events.log"
}

# The server outlives this call; it must not hold the caller's output open, or a
# caller such as ctest waits for it forever.
wine_server_start() {
  WINEPREFIX=$1 "$WINE_SERVER" -p </dev/null >/dev/null 2>&1
}

# Ends every Wine process of the prefix and its server; safe when none runs.
wine_server_stop() {
  local prefix=$1
  [ -d "$prefix" ] || return 0
  WINEPREFIX=$prefix timeout 20 "$WINE_SERVER" -k >/dev/null 2>&1 || true
  WINEPREFIX=$prefix timeout 20 "$WINE_SERVER" -w >/dev/null 2>&1 || true
}

wine_run() {
  local prefix=$1
  shift
  WINEPREFIX=$prefix "$WINE_LOADER" "$@"
}

# Translates a Unix path inside the prefix's drive_c into its Windows form.
wine_path() {
  local prefix=$1 unix=$2
  local rel=${unix#"$prefix/drive_c/"}
  printf 'C:\\%s' "${rel//\//\\}"
}
