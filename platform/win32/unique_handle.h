// Owners of Windows handles: an alias of UniqueAny (base/unique_any.h) for each kind of handle the
// program holds (kernel objects, files, registry keys, windows, fonts, modules), closed
// with their owner. Device contexts, which go back to the window they came from, have UniqueDc.
#pragma once

#include <windows.h>

#include "base/unique_any.h"

namespace quillet::win32 {

// A kernel object: a process, a thread, an event, a pipe's end, a token.
using UniqueHandle = UniqueAny<HANDLE, &CloseHandle>;
// A file opened with CreateFile, which fails with INVALID_HANDLE_VALUE rather than null.
using UniqueFile = UniqueAny<HANDLE, &CloseHandle, -1>;
using UniqueKey = UniqueAny<HKEY, &RegCloseKey>;
using UniqueWindow = UniqueAny<HWND, &DestroyWindow>;
using UniqueFont = UniqueAny<HFONT, &DeleteObject>;
using UniqueModule = UniqueAny<HMODULE, &FreeLibrary>;

// The device context of a window, or of the screen for none, released to that window.
class UniqueDc {
 public:
  explicit UniqueDc(HWND window) {
    if (const HDC dc = GetDC(window)) held_.reset({window, dc});
  }

  HDC get() const { return held_.get().dc; }
  explicit operator bool() const { return static_cast<bool>(held_); }

 private:
  struct WindowDc {
    HWND window;
    HDC dc;
    bool operator==(const WindowDc&) const = default;
  };
  static void Release(WindowDc held) { ReleaseDC(held.window, held.dc); }

  UniqueAny<WindowDc, &Release> held_;
};

}  // namespace quillet::win32
