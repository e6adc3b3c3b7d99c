#pragma once
// The packaging tool's work, apart from its command line: reading and validating a manifest,
// finding the package block in an executable, filling it, and describing what a block holds.
// Nothing here throws; failures come back as messages.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "package/PackageView.h"

namespace kestrel::pack {

// One option of the option string: its manifest name, position and kind.
struct OptionSpec {
    const char* name;
    int position;
    bool isFlag;  // false: a number 0..9
};
std::span<const OptionSpec> Options();

struct Constraint {
    std::string CMODEL, START, END;  // as 8-bit bytes
};

struct Image {
    std::string file;
    std::vector<uint8_t> bytes;
    std::string NEW_FW, FW_EXT;
    std::vector<Constraint> constraints;
};

struct Manifest {
    std::string builder, version, phone, title, build_date, model;
    int iVisualStyle = 0, iLanguage = 0, iFlashMode = 0;
    char digits[28];  // positions 2..29
    std::vector<Image> images;
    std::vector<std::vector<uint8_t>> programs;  // by slot; empty = no program
    bool windowsFlash() const { return digits[27 - 2] != '0'; }
};

// Reads the manifest (paths relative to its folder) and checks every rule, programs against the
// program slots of the template they go into (slotSize bytes each). nullopt with one message per
// broken rule, each naming the manifest field.
std::optional<Manifest> LoadManifest(const std::filesystem::path& path, std::vector<std::string>& errors,
                                     size_t slotSize = pkg::kDefaultProgramSlotSize);
// The same over a parsed document; files are read relative to base.
std::optional<Manifest> ReadManifest(const nlohmann::json& doc, const std::filesystem::path& base, std::vector<std::string>& errors,
                                     size_t slotSize = pkg::kDefaultProgramSlotSize);

// Where images go in the region: each starts on a 512-byte boundary. nullopt when they do not fit.
std::optional<std::vector<size_t>> LayoutImages(const std::vector<size_t>& sizes, size_t regionSize);
// The stored length of an image: as it is when plain, rounded up to 512 bytes when enciphered (the
// program deciphers the padded length, so the padding must be enciphered too).
size_t StoredSize(size_t plainSize, bool enciphered);

// One package block in a file: where it starts and the size of its program slots.
struct BlockLocation {
    size_t offset = 0;
    size_t slotSize = pkg::kDefaultProgramSlotSize;
    size_t size() const { return pkg::BlockSize(slotSize); }
    bool operator==(const BlockLocation&) const = default;
};
// Every block in a file: all of its markers stand at their relative offsets, and its program slots
// are found by their markers (an empty slot begins with its name; a filled one holds a program no
// longer than the slot) and by the size entries that follow the last of them, which fix the slot size.
std::vector<BlockLocation> LocateBlocks(std::span<const uint8_t> file);
// Their offsets only.
std::vector<size_t> FindBlocks(std::span<const uint8_t> file);
// Whether a block has been filled already (it claims images, or its banner is no longer the template's).
bool IsPacked(const PackageView& block);
// Fills every field of the block from the manifest. The block must be whole (BlockSize(slotSize)
// bytes) and every program of the manifest must fit a slot of slotSize bytes (ReadManifest checks it).
void FillBlock(std::span<uint8_t> block, const Manifest& m, size_t slotSize = pkg::kDefaultProgramSlotSize);

// The Authenticode signature of a PE file: where its certificate table lies (the security entry of
// the data directories holds a file offset and a size).
struct PeSignature {
    size_t entryOffset = 0;     // file offset of the security directory entry
    uint32_t tableOffset = 0;
    uint32_t tableSize = 0;
};
// nullopt when the file is no PE file or its security entry is empty.
std::optional<PeSignature> FindSignature(std::span<const uint8_t> file);
// Removes the signature: clears the entry and cuts the table off the end of the file (the header
// checksum is left as it is: signing computes it anew). False (file unchanged) when the table does not end the file, where cutting it would lose data.
bool StripSignature(std::vector<uint8_t>& file, const PeSignature& sig, std::string& why);

// The manifest's keys as the block holds them, with each image's "file" replaced by "offset",
// "size" and "sha256" (of the plain image) and each constraint as the program reads it back.
nlohmann::json DescribeJson(const PackageView& block);
std::string DescribeText(const PackageView& block);

// 8-bit text to UTF-8 (each byte is the character of the same code) and back; false when a
// character is a control character or does not fit one byte.
std::string BytesToUtf8(std::string_view bytes);
bool Utf8ToBytes(std::string_view utf8, std::string& out);

}  // namespace kestrel::pack
