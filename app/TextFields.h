#pragma once
// Helpers for the fixed-width text fields of drive identities and the drive table.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrel {

// The two bytes of every word swapped (the ATA string convention), `bytes` bytes from src.
inline void SwapAtaWords(char* dest, const uint8_t* src, size_t bytes) {
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        dest[i] = static_cast<char>(src[i + 1]);
        dest[i + 1] = static_cast<char>(src[i]);
    }
}

// Blank once leading and trailing blanks and control characters (zeros among them) are removed.
inline bool IsBlankField(const char* p, size_t width) {
    for (size_t i = 0; i < width; ++i)
        if (static_cast<unsigned char>(p[i]) > 0x20 && static_cast<unsigned char>(p[i]) != 0x7F) return false;
    return true;
}

// A field of up to `width` bytes copied into a field of `width` bytes: no terminator when full.
template <size_t N>
inline void PutField(char (&dest)[N], const char* src, size_t width = N) {
    std::memset(dest, 0, N);
    std::memcpy(dest, src, width < N ? width : N);
}

// A character for a "%c" of a log line: a zero byte would end the line early on its readers.
inline char LogChar(char c) { return c == '\0' ? ' ' : c; }

}  // namespace kestrel
