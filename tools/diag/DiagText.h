#pragma once
// Texts from drives and drivers as the diagnostic reports show them: fixed-width fields read up to
// their width, anything outside printable ASCII escaped.
#include <cstddef>
#include <string>
#include <string_view>

#include "support/Format.h"

namespace kestrel::diag {

inline std::string_view Field(const char* p, size_t width) {
    size_t n = 0;
    while (n < width && p[n] != '\0') ++n;
    return {p, n};
}

// Printable ASCII as it stands, anything else as \xNN.
inline std::string Printable(std::string_view s) {
    std::string r;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) r += static_cast<char>(c);
        else r += Fmt("\\x%02X", c);
    }
    return r;
}

// A JSON string; 8-bit ANSI bytes outside ASCII are escaped as their code.
inline std::string JsonText(std::string_view s) {
    std::string r = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': r += "\\\""; break;
            case '\\': r += "\\\\"; break;
            case '\n': r += "\\n"; break;
            case '\r': r += "\\r"; break;
            case '\t': r += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7F) r += Fmt("\\u%04x", c);
                else r += static_cast<char>(c);
        }
    }
    return r + "\"";
}

}  // namespace kestrel::diag
