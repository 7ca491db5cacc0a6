// The Win32 handle kinds that this program owns, each closed by its own call.
#pragma once

#include <windows.h>
// Tool Help needs the types of windows.h declared first.
#include <tlhelp32.h>

#include "common/unique_handle.h"

struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle handle) noexcept { ::CloseServiceHandle(handle); }
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle handle) noexcept { ::RegCloseKey(handle); }
};

// Tool Help reports failure as INVALID_HANDLE_VALUE, not as NULL.
struct SnapshotHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};

struct EventSourceTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle handle) noexcept { ::DeregisterEventSource(handle); }
};

using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueSnapshot = UniqueHandle<SnapshotHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueEventSource = UniqueHandle<EventSourceTraits>;
