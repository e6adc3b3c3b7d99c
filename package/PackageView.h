#pragma once
// Reads the package block at its fixed offsets. Every read is bounded by the bytes the view was
// given, so a short or damaged block reads as empty fields, never past its end.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "package/FwPackage.h"

namespace kestrel {

// Why an image could not be loaded into the 2 MiB buffer.
enum class ImageLoadResult {
    Ok,
    TooLarge,       // BIN_SIZE exceeds the image buffer
    OutsideRegion,  // BIN_START + BIN_SIZE runs past the image region
    NoSuchImage,    // the index is not one of the package's images
};

class PackageView {
public:
    PackageView() = default;
    // slotSize: the size of the block's program slots (the layout the block was built with).
    explicit PackageView(std::span<const uint8_t> block, size_t slotSize = pkg::kDefaultProgramSlotSize)
        : b_(block), slotSize_(slotSize < pkg::kDefaultProgramSlotSize ? pkg::kDefaultProgramSlotSize : slotSize) {}

    std::span<const uint8_t> Bytes() const { return b_; }
    size_t ProgramSlotSize() const { return slotSize_; }
    bool Complete() const { return b_.size() >= pkg::BlockSize(slotSize_); }

    std::string Banner() const { return Text(pkg::kBanner, 21); }
    std::string sVersion() const { return Text(pkg::kVersion, 13); }
    std::string Phone() const { return Text(pkg::kPhone, 15); }
    std::string sTitle() const { return Text(pkg::kTitle, 64); }
    std::string BuildDate() const { return Text(pkg::kBuildDate, 12); }
    std::string sPkgModel() const { return Text(pkg::kPkgModel, 65); }

    int32_t iVisualStyle() const { return static_cast<int8_t>(Byte(pkg::kVisualStyle)); }
    int32_t iLanguage() const { return static_cast<int8_t>(Byte(pkg::kLanguage)); }
    int32_t iFlashMode() const { return static_cast<int8_t>(Byte(pkg::kFlashMode)); }
    int16_t iImageCount() const { return Byte(pkg::kOptionString); }
    // The byte at option position pos (1 = the count byte, 2 = the first digit), 0 when outside.
    uint8_t OptionByte(int pos) const;

    // The raw 76 bytes of record j of image k (zeros when outside the block).
    FLSH_RECORD Record(size_t k, size_t j) const;
    // START / END (at most 8) and CMODEL (at most 40), trimmed of blanks and control characters.
    static std::string RecordField(const char* field, size_t width);

    // The entries of image k exist for k = 0..14 only: an index past them would read the next
    // field family, so it reads as an empty entry instead (8 NULs, 0).
    // The 8 bytes of NEW_FW(k) / FW_EXT(k) as they stand.
    std::string NewFwRaw(size_t k) const;
    std::string FwExtRaw(size_t k) const;
    // At most 8 characters (up to the first NUL), trimmed.
    std::string NEW_FW(size_t k) const;
    std::string FW_EXT(size_t k) const;

    uint64_t BIN_START(size_t k) const;
    uint64_t BIN_SIZE(size_t k) const;
    // The images the package holds: the count byte, bounded to the block's 15 slots.
    size_t ImageCount() const;

    std::span<const uint8_t> ImageRegion() const;
    // Program slot n from its first byte for as many bytes as its size entry gives, bounded by the
    // slot and the block: a size entry that claims more than its slot is not followed into the next.
    std::span<const uint8_t> Program(size_t n) const;
    uint64_t ProgramSize(size_t n) const;

    // Loads image k into a buffer of kImageBufferSize bytes: zero-fills it, copies the image, and
    // gives the length rounded up to a multiple of 512. An index that is not one of the package's
    // images (k >= ImageCount()), or an image that does not fit the buffer or lies outside the
    // region, is refused and nothing is copied.
    ImageLoadResult LoadImage(size_t k, std::span<uint8_t> buffer, uint32_t& paddedSize) const;

    // A number field: decimal digits up to the first non-digit (at most its 10 digits); 0 when none.
    uint64_t Number(size_t offset) const;
    std::string Text(size_t offset, size_t size) const;
    std::string Raw(size_t offset, size_t size) const;
    uint8_t Byte(size_t offset) const { return offset < b_.size() ? b_[offset] : 0; }

private:
    std::span<const uint8_t> b_;
    size_t slotSize_ = pkg::kDefaultProgramSlotSize;
};

// Blanks and control characters (0x00..0x20) off both ends; "!" and "~" stay.
std::string TrimText(std::string_view s);

}  // namespace kestrel
