// Letter case folded for ASCII letters alone: the words compared with are ASCII, the
// result is the same on every platform and locale, and bytes of a multi-byte character
// are never taken for letters.
#pragma once

template <typename Char>
Char AsciiLower(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}
