#pragma once
// <windows.h> for the adapters. Its A/W macros carry the same names as several port operations
// (GetTempPath, DeleteFile, MessageBox, ...); they are undefined here so that a port header read
// after <windows.h> keeps its own names. The adapters call the A or W functions by their full names.
#include <windows.h>

#undef GetTempPath
#undef GetSystemDirectory
#undef GetWindowsDirectory
#undef GetModuleFileName
#undef GetCurrentDirectory
#undef DeleteFile
#undef CreateDirectory
#undef MessageBox
#undef LoadImage
#undef GetObject

#include <cstdint>
#include <string>

namespace kestrel::win32 {

// A function looked up at run time, cast through the generic function-pointer type.
template <class Fn>
Fn ProcAddress(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// The program's texts are UTF-8; an 8-bit text that is not valid UTF-8 (a package title, say) is
// read in the ANSI code page instead.
std::wstring Widen(const std::string& text);

// Handles travel through the ports as 64-bit numbers.
inline uint64_t HandleToPort(HANDLE h) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h)); }
inline HANDLE PortToHandle(uint64_t v) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(v)); }

}  // namespace kestrel::win32
