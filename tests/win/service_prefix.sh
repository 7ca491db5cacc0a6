#!/usr/bin/env bash
# The Wine prefix of the SCM tests: made anew with a persistent server, then that server
# restarted once. A fresh prefix comes up with two services.exe, each answering on the
# SCM's pipe with its own list of services, so that a service created through one is
# missing in the other; after the restart one services.exe serves them all.
# Usage: service_prefix.sh PREFIX
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib/wine.sh"
wine_prefix_create "$1"
wine_server_stop "$1"
wine_server_start "$1"
WINEPREFIX=$1 timeout 60 "$WINE_LOADER" cmd /c exit >/dev/null 2>&1
