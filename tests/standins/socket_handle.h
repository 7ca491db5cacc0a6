// Sockets owned like every other handle, and the TCP plus UDP binding that the
// stand-ins use to hold a port.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include "common/unique_handle.h"

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Empty() noexcept { return INVALID_SOCKET; }
  static void Close(Handle handle) noexcept { ::closesocket(handle); }
};
using UniqueSocket = UniqueHandle<SocketTraits>;

struct HeldPort {
  UniqueSocket tcp;
  UniqueSocket udp;
};

// Binds a listening TCP socket and a UDP socket to the port on every address; returns
// the Winsock error of the first step that failed, 0 when both are bound.
inline int HoldPort(unsigned short port, HeldPort& held) {
  WSADATA data;
  const int startup = ::WSAStartup(MAKEWORD(2, 2), &data);
  if (startup != 0) {
    return startup;
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  const sockaddr* raw = reinterpret_cast<const sockaddr*>(&address);

  held.tcp.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!held.tcp || ::bind(held.tcp.Get(), raw, sizeof(address)) != 0 ||
      ::listen(held.tcp.Get(), SOMAXCONN) != 0) {
    return ::WSAGetLastError();
  }
  held.udp.Reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!held.udp || ::bind(held.udp.Get(), raw, sizeof(address)) != 0) {
    return ::WSAGetLastError();
  }
  return 0;
}

// A port argument of decimal digits only, in 0..65535; 0 lets the system choose.
inline bool ParsePort(const wchar_t* text, unsigned short& port) {
  unsigned long value = 0;
  if (*text == L'\0') {
    return false;
  }
  for (; *text != L'\0'; ++text) {
    if (*text < L'0' || *text > L'9') {
      return false;
    }
    value = value * 10 + static_cast<unsigned long>(*text - L'0');
    if (value > 65535) {
      return false;
    }
  }
  port = static_cast<unsigned short>(value);
  return true;
}
