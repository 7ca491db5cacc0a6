#!/usr/bin/env bash
# The console run in a real console window: "voranexmg.exe -consoleStart" inside
# wineconsole, its output sent to a file, with the stand-in voranexsv installed and a
# stray process on a configured port. Runs in a prefix of its own, under xvfb-run, so that
# every Wine process of the prefix sees the same display from the first one on.
# Usage: service_console_run.sh BIN_DIR PREFIX
set -euo pipefail
bin=$1
prefix=$2
. "$(dirname "$0")/../../scripts/lib/wine.sh"
trap 'wine_server_stop "$prefix"' EXIT

fail() {
  echo "FAIL: $*" >&2
  echo "--- console output so far:" >&2
  cat "$out" >&2 2>/dev/null || true
  exit 1
}
w() { WINEPREFIX=$prefix timeout 60 "$WINE_LOADER" "$@"; }
# For the programs that run beside the test; the server's stop ends them first.
w_background() { WINEPREFIX=$prefix timeout 300 "$WINE_LOADER" "$@"; }
# The first line of a Wine program's answer, without its CR.
answer() { w "$@" 2>/dev/null | tr -d '\r' | head -n 1; }
# Waits up to $1 seconds for the command after it to succeed.
within() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 5))); do
    "$@" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

[ -n "${DISPLAY:-}" ] || { echo "needs a display: run under xvfb-run -a" >&2; exit 2; }

wine_prefix_create "$prefix"
drive=$prefix/drive_c
product="$drive/Program Files/Voranex QZ"
mkdir -p "$product" "$drive/voranex" "$drive/standin"
cp "$bin/voranexmg.exe" "$bin/svcctl.exe" "$bin/port_holder.exe" "$bin/console_screen.exe" \
  "$drive/voranex/"
cp "$bin/voranexsv.exe" "$product/"
cp "$bin/netstat-standin/netstat.exe" "$drive/standin/"

# Our netstat goes first on the system path; a new server reads it.
env_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
path=$(w reg query "$env_key" /v PATH | tr -d '\r' | sed -n 's/.*REG_EXPAND_SZ *//p')
w reg add "$env_key" /v PATH /t REG_EXPAND_SZ /d "C:\\standin;$path" /f >/dev/null
wine_server_stop "$prefix"
wine_server_start "$prefix"

svcctl() { answer 'C:\voranex\svcctl.exe' "$@"; }
w 'C:\voranex\svcctl.exe' create voranexsv 'C:\Program Files\Voranex QZ\voranexsv.exe'
w reg add 'HKLM\SOFTWARE\VORANEX\VORANEXSV' /v configPath /d 'C:\Program Files\Voranex QZ' /f >/dev/null
# Installed but stopped: the console run must leave its service's state alone.
[ "$(answer 'C:\voranex\voranexmg.exe' -install)" = "Install: [Voranexmg] Success" ] \
  || fail "install"
w 'C:\voranex\svcctl.exe' start voranexsv
w 'C:\voranex\svcctl.exe' wait voranexsv RUNNING 20
old_pid=$(svcctl pid voranexsv)

# The stray process takes the first of these ports that is free on this machine (other
# tests may hold one), and server.conf names it.
holder_ready() { test -s "$drive/holder.pid" || ! kill -0 "$holder_job" 2>/dev/null; }
for port in 8085 18085 28085 38085; do
  rm -f "$drive/holder.pid"
  w_background 'C:\voranex\port_holder.exe' "$port" 'C:\holder.pid' 2>/dev/null &
  holder_job=$!
  within 20 holder_ready
  [ -s "$drive/holder.pid" ] && break
done
[ -s "$drive/holder.pid" ] || fail "the port holder did not start"
holder_pid=$(cat "$drive/holder.pid")
printf '{"listening_ports": "%s,8443", "ssl_port": 8443}' "$port" >"$product/server.conf"
printf '\r\nActive Connections\r\n\r\n  Proto  Local Address          Foreign Address        State           PID\r\n  TCP    0.0.0.0:%s           0.0.0.0:0              LISTENING       %s\r\n' \
  "$port" "$holder_pid" >"$drive/standin/listing.txt"

out=$drive/console.txt
rm -f "$out"
# Its log is the console: an event that it wrote would show on Wine's eventlog channel.
WINEDEBUG=-all,+eventlog w_background wineconsole cmd /c 'C:\voranex\voranexmg.exe -consoleStart > C:\console.txt' \
  2>"$drive/console-events.log" &
console_job=$!
within 30 grep -q 'voraiot path' "$out" || fail "no discovery line"
# The watchdog's first look finds voranexsv running; only its death may echo anything.
sleep 2
grep -q 'command : ' "$out" && fail "a command ran while voranexsv was running"

w taskkill /F /pid "$old_pid" >/dev/null
within 30 grep -q -- '-start' "$out" || fail "no restart within 30 s of the kill"

# The commands' own output (taskkill's message) comes between the program's lines.
expected=$(printf '%s\n' \
  'voraiot path : C:\Program Files\Voranex QZ\voranexsv.exe' \
  "command : taskkill /F /pid $holder_pid" \
  'command : "C:\Program Files\Voranex QZ\voranexsv.exe" -start')
actual=$(tr -d '\r' <"$out" | grep -E '^(voraiot path|command) ')
[ "$actual" = "$expected" ] || fail "the console lines differ; expected:
$expected"
# The discovery line is followed by an empty line, and every line ends in CR LF.
sed -n 1p "$out" | grep -q $'\r$' || fail "the discovery line does not end in CR LF"
[ "$(sed -n 2p "$out")" = $'\r' ] || fail "no empty line after the discovery line"

within 5 bash -c "! kill -0 $holder_job 2>/dev/null" || fail "the port holder still runs"
new_pid_differs() { local pid; pid=$(svcctl pid voranexsv); [ -n "$pid" ] && [ "$pid" != 0 ] && [ "$pid" != "$old_pid" ]; }
within 20 new_pid_differs || fail "voranexsv did not come back in a new process"
[ "$(svcctl state voranexsv)" = RUNNING ] || fail "voranexsv is not running"

# No handler was registered: registering outside the SCM fails and would have ended the run.
kill -0 "$console_job" 2>/dev/null || fail "the console run ended"
[ "$(svcctl state Voranexmg)" = STOPPED ] || fail "the console run changed its service's state"
! grep -q ReportEventW "$drive/console-events.log" || fail "the console run wrote events"

# What a Korean console (output code page 949) shows of the help and of the echo of a
# Korean path: the screen is read back as text, and the Korean must read as Korean.
read_screen() {
  local file=$1 job
  shift
  rm -f "$drive/$file"
  w_background wineconsole 'C:\voranex\console_screen.exe' "C:\\$file" "$@" 2>/dev/null &
  job=$!
  within 60 bash -c "! kill -0 $job 2>/dev/null" || fail "console_screen did not end"
  [ -s "$drive/$file" ] || fail "no screen was read back into $file"
}
read_screen help-screen.txt -stop: 'C:\voranex\voranexmg.exe' -help
for sentence in '-help, -?: 도움말을 보여 줍니다' '-install: 서비스를 설치할 때 사용합니다.' \
  '-uninstall: 서비스를 제거할 때 사용합니다.' '-start: 서비스를 시작합니다' '-stop: 서비스를 중지합니다'; do
  grep -qF -- "$sentence" "$drive/help-screen.txt" \
    || fail "the console does not show \"$sentence\"; it shows:
$(cat "$drive/help-screen.txt")"
done

korean_path='C:\보라넥스 서버\voranexsv.exe -service'
{
  printf '\xff\xfe'
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\voranexsv]\r\n"ImagePath"="%s"\r\n' \
    "${korean_path//\\/\\\\}" | iconv -f UTF-8 -t UTF-16LE
} >"$drive/korean-path.reg"
w regedit /s 'C:\korean-path.reg'
read_screen echo-screen.txt -service 'C:\voranex\voranexmg.exe' -consoleStart
grep -qxF "voraiot path : $korean_path" "$drive/echo-screen.txt" \
  || fail "the console does not show the whole Korean path; it shows:
$(cat "$drive/echo-screen.txt")"

echo "console run: discovery line, two echo lines, holder $holder_pid gone, voranexsv $old_pid -> $(svcctl pid voranexsv)"
