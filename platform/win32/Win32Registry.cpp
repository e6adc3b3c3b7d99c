#include "platform/win32/Win32Platform.h"

namespace kestrel::win32 {
namespace {

HKEY ToHkey(RegKey key) { return reinterpret_cast<HKEY>(static_cast<uintptr_t>(key)); }
RegKey ToRegKey(HKEY key) { return static_cast<RegKey>(reinterpret_cast<uintptr_t>(key)); }

}  // namespace

uint32_t Win32Registry::CreateKey(const std::string& path, uint32_t access, RegKey& key) {
    HKEY h = nullptr;
    const LONG rc = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &h,
                                      nullptr);
    key = rc == ERROR_SUCCESS ? ToRegKey(h) : 0;
    return static_cast<uint32_t>(rc);
}

uint32_t Win32Registry::OpenKey(const std::string& path, uint32_t access, RegKey& key) {
    HKEY h = nullptr;
    const LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &h);
    key = rc == ERROR_SUCCESS ? ToRegKey(h) : 0;
    return static_cast<uint32_t>(rc);
}

uint32_t Win32Registry::QueryValue(RegKey key, const std::string& name, size_t capacity, RegValue& value) {
    if (capacity > 0x7FFFFFFF) capacity = 0x7FFFFFFF;
    // Always hand Windows a buffer: with none it would answer the size and success.
    std::vector<uint8_t> buf(capacity == 0 ? 1 : capacity);
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(capacity);
    const LONG rc = ::RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &type, buf.data(), &size);
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    value.type = type;
    value.data.assign(buf.begin(), buf.begin() + (size < capacity ? size : capacity));
    return 0;
}

uint32_t Win32Registry::SetValue(RegKey key, const std::string& name, const RegValue& value) {
    if (value.data.size() > 0x7FFFFFFF) return ERROR_INVALID_PARAMETER;
    return static_cast<uint32_t>(::RegSetValueExA(ToHkey(key), name.c_str(), 0, value.type,
                                                  value.data.empty() ? nullptr : value.data.data(),
                                                  static_cast<DWORD>(value.data.size())));
}

uint32_t Win32Registry::DeleteValue(RegKey key, const std::string& name) {
    return static_cast<uint32_t>(::RegDeleteValueA(ToHkey(key), name.c_str()));
}

void Win32Registry::CloseKey(RegKey key) {
    if (key != 0) ::RegCloseKey(ToHkey(key));
}

}  // namespace kestrel::win32
