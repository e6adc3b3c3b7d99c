#pragma once
// The texts the program shows, and their Traditional Chinese forms for iLanguage 1. Texts are UTF-8
// inside the program; the Windows adapter converts them for display.
#include <map>
#include <string>

namespace kestrel {

// The Chinese form of an English text when chinese is true and the table has one; else the text.
std::string LocalText(const std::string& english, bool chinese);

// Every (English, Chinese) pair of the table.
const std::map<std::string, std::string>& TextTable();

}  // namespace kestrel
