#include "support/Format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace kestrel {

std::string Fmt(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out;
    if (needed > 0) {
        std::vector<char> buf(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, again);
        out.assign(buf.data(), static_cast<size_t>(needed));
    }
    va_end(again);
    return out;
}

}  // namespace kestrel
