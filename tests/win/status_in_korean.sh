#!/bin/sh
# voranexmg -status on a Korean Windows; the Wine loader and the executable are given.
# The first line keeps its ASCII level, and every line after it is Korean.
if ! locale -a | grep -qix 'ko_KR.utf8'; then
  echo "the ko_KR.UTF-8 locale is missing: scripts/bootstrap generates it"
  exit 1
fi
LC_ALL=ko_KR.UTF-8 LANG=ko_KR.UTF-8 "$@" -status | python3 -c '
import sys
lines = sys.stdin.buffer.read().decode("utf-8").splitlines()
print("\n".join(lines))
korean = [any("\uac00" <= c <= "\ud7a3" for c in line) for line in lines]
sys.exit(0 if len(lines) > 5 and lines[0].startswith("VORANEXMG ") and all(korean[1:]) else 1)
'
