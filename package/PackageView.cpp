#include "package/PackageView.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

std::string TrimText(std::string_view s) {
    size_t a = 0, e = s.size();
    while (a < e && static_cast<unsigned char>(s[a]) <= 0x20) ++a;
    while (e > a && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
    return std::string(s.substr(a, e - a));
}

std::string PackageView::Raw(size_t offset, size_t size) const {
    std::string out(size, '\0');
    if (offset < b_.size()) {
        const size_t n = std::min(size, b_.size() - offset);
        std::memcpy(out.data(), b_.data() + offset, n);
    }
    return out;
}

std::string PackageView::Text(size_t offset, size_t size) const {
    std::string raw = Raw(offset, size);
    raw.resize(strnlen(raw.data(), raw.size()));
    return raw;
}

uint64_t PackageView::Number(size_t offset) const {
    uint64_t v = 0;
    for (size_t i = 0; i < pkg::kNumberFieldDigits; ++i) {
        const uint8_t c = Byte(offset + i);
        if (offset + i >= b_.size() || c < '0' || c > '9') break;
        v = v * 10 + (c - '0');
    }
    return v;
}

uint8_t PackageView::OptionByte(int pos) const {
    if (pos < 1 || static_cast<size_t>(pos) > pkg::kOptionStringSize) return 0;
    return Byte(pkg::kOptionString + static_cast<size_t>(pos - 1));
}

FLSH_RECORD PackageView::Record(size_t k, size_t j) const {
    FLSH_RECORD r{};
    if (k >= kImageSlots || j >= kRecordsPerImage) return r;
    const std::string raw = Raw(pkg::kRecords + k * pkg::kRecordGroupSize + j * pkg::kRecordSize, sizeof r);
    std::memcpy(&r, raw.data(), sizeof r);
    return r;
}

std::string PackageView::RecordField(const char* field, size_t width) {
    return TrimText(std::string_view(field, strnlen(field, width)));
}

std::string PackageView::NewFwRaw(size_t k) const {
    if (k >= kImageSlots) return std::string(8, '\0');
    return Raw(pkg::kNewFw + pkg::kRevEntrySize * k + pkg::kRevValueOffset, 8);
}

std::string PackageView::FwExtRaw(size_t k) const {
    if (k >= kImageSlots) return std::string(8, '\0');
    return Raw(pkg::kFwExt + pkg::kRevEntrySize * k + pkg::kRevValueOffset, 8);
}

uint64_t PackageView::BIN_START(size_t k) const {
    return k < kImageSlots ? Number(pkg::kBinStart + pkg::kNumEntrySize * k + pkg::kNumValueOffset) : 0;
}

uint64_t PackageView::BIN_SIZE(size_t k) const {
    return k < kImageSlots ? Number(pkg::kBinSize + pkg::kNumEntrySize * k + pkg::kNumValueOffset) : 0;
}

size_t PackageView::ImageCount() const { return std::min<size_t>(static_cast<size_t>(iImageCount()), kImageSlots); }

std::string PackageView::NEW_FW(size_t k) const {
    const std::string raw = NewFwRaw(k);
    return TrimText(std::string_view(raw.data(), strnlen(raw.data(), 8)));
}

std::string PackageView::FW_EXT(size_t k) const {
    const std::string raw = FwExtRaw(k);
    return TrimText(std::string_view(raw.data(), strnlen(raw.data(), 8)));
}

std::span<const uint8_t> PackageView::ImageRegion() const {
    if (b_.size() <= pkg::kImageRegion) return {};
    return b_.subspan(pkg::kImageRegion, std::min(kImageRegionSize, b_.size() - pkg::kImageRegion));
}

uint64_t PackageView::ProgramSize(size_t n) const {
    return n < kProgramSlots ? Number(pkg::ProgramSizeValue(n, slotSize_)) : 0;
}

std::span<const uint8_t> PackageView::Program(size_t n) const {
    if (n >= kProgramSlots) return {};
    const size_t start = pkg::ProgramSlotOffset(n, slotSize_);
    if (start >= b_.size()) return {};
    const uint64_t size = ProgramSize(n);
    const size_t avail = std::min(b_.size() - start, slotSize_);
    return b_.subspan(start, static_cast<size_t>(std::min<uint64_t>(size, avail)));
}

ImageLoadResult PackageView::LoadImage(size_t k, std::span<uint8_t> buffer, uint32_t& paddedSize) const {
    paddedSize = 0;
    if (k >= ImageCount()) return ImageLoadResult::NoSuchImage;
    const uint64_t size = BIN_SIZE(k);
    const uint64_t start = BIN_START(k);
    if (size > buffer.size() || size > kImageBufferSize) return ImageLoadResult::TooLarge;
    const std::span<const uint8_t> region = ImageRegion();
    if (start > region.size() || size > region.size() - start) return ImageLoadResult::OutsideRegion;
    std::fill(buffer.begin(), buffer.end(), uint8_t{0});
    // An empty image of a block without an image region has no source bytes at all.
    if (size != 0) std::memcpy(buffer.data(), region.data() + start, static_cast<size_t>(size));
    paddedSize = static_cast<uint32_t>((size + 511) / 512 * 512);
    return ImageLoadResult::Ok;
}

}  // namespace kestrel
