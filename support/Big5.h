#pragma once
// Traditional Chinese texts as the debug log and the files the program writes carry them: Big5.
// Inside, texts are UTF-8; only the characters of the program's own texts are known.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// The Big5 code of one of the program's Chinese characters; nothing for any other code point.
std::optional<uint16_t> Big5Code(uint32_t codePoint);

// The text with every known Chinese character (UTF-8) replaced by its Big5 bytes; all other bytes
// unchanged, so drive texts with 8-bit characters pass untouched.
std::string ToBig5(std::string_view text);

}  // namespace kestrel
