// The package block as the program reads it: short and damaged blocks through every accessor,
// image loading, the option decoding, the constraint check and the target derivation, and the
// packaging tool's decoder. The blocks are small (the view reads any length), so each input costs
// microseconds, not the copy of a 31 MB block.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "package/PackageOptions.h"
#include "package/PackageView.h"
#include "package/RevisionRules.h"
#include "tools/pack/Pack.h"

using namespace kestrel;

namespace {

// Small enough that a run stays fast, large enough for images of a few sectors.
constexpr size_t kLoadBuffer = 16384;
// A small block: the whole header area (texts, records, options, entries, boot-code field) and an
// image region of a few sectors. The view takes a block of any length.
constexpr size_t kSmallBlock = pkg::kImageRegion + 8192;

// Which of the costlier readings an input drives besides the accessors: one each keeps a run short.
// Chosen by the input's length, which the fuzzer changes all the time (a byte of a 15 KB input it
// would rarely touch), so every part is reached from every corpus entry.
enum Part : uint8_t { kLoad = 0, kDescribe = 1, kRules = 2, kAll = 3 };

void LoadImages(const PackageView& v);
void Rules(const PackageView& v);

void Exercise(const PackageView& v, uint8_t part) {
    size_t sink = 0;
    sink += v.Banner().size() + v.sVersion().size() + v.Phone().size() + v.sTitle().size() + v.BuildDate().size() +
            v.sPkgModel().size();
    sink += static_cast<size_t>(v.iVisualStyle() + v.iLanguage() + v.iFlashMode() + v.iImageCount());
    for (int pos = -1; pos <= 32; ++pos) sink += v.OptionByte(pos);
    for (size_t k = 0; k <= kImageSlots; ++k) {
        for (size_t j = 0; j <= kRecordsPerImage; ++j) {
            const FLSH_RECORD r = v.Record(k, j);
            sink += PackageView::RecordField(r.START, 8).size() + PackageView::RecordField(r.END, 8).size() +
                    PackageView::RecordField(r.CMODEL, 40).size();
        }
        sink += v.NEW_FW(k).size() + v.FW_EXT(k).size() + v.NewFwRaw(k).size() + v.FwExtRaw(k).size();
        sink += static_cast<size_t>(v.BIN_START(k) + v.BIN_SIZE(k));
    }
    sink += v.ImageRegion().size();
    for (size_t n = 0; n <= kProgramSlots; ++n) sink += v.Program(n).size() + static_cast<size_t>(v.ProgramSize(n));
    // Keeps the reads from being optimised away.
    asm volatile("" : : "r"(sink) : "memory");

    if (part == kLoad || part == kAll) LoadImages(v);
    if (part == kDescribe || part == kAll) {
        // DescribeText reads the block through DescribeJson.
        const size_t described = pack::DescribeText(v).size();
        asm volatile("" : : "r"(described) : "memory");
    }
    if (part == kRules || part == kAll) Rules(v);
}

void LoadImages(const PackageView& v) {
    // Image loading into a small buffer (the view refuses what does not fit it): a loaded image is
    // the region's bytes followed by zeros, and only the package's own images load.
    static std::vector<uint8_t> buffer(kLoadBuffer);
    const auto region = v.ImageRegion();
    for (size_t k = 0; k <= kImageSlots; ++k) {
        uint32_t padded = 0;
        const ImageLoadResult r = v.LoadImage(k, buffer, padded);
        if (r != ImageLoadResult::Ok) {
            if (padded != 0) __builtin_trap();
            continue;
        }
        if (k >= v.ImageCount()) __builtin_trap();
        const uint64_t start = v.BIN_START(k), size = v.BIN_SIZE(k);
        if (padded % 512 != 0 || padded < size || padded - size >= 512 || start + size > region.size()) __builtin_trap();
        if (size != 0 && std::memcmp(buffer.data(), region.data() + start, static_cast<size_t>(size)) != 0) __builtin_trap();
        for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i)
            if (buffer[i] != 0) __builtin_trap();
    }
}

void Rules(const PackageView& v) {
    PackageOptions ctx;
    std::string error;
    const bool optionsRead = ReadPackageOptions(v, ctx, error);
    GetModelName(v, ctx, error);
    if (!optionsRead) return;

    // The rules over a table of drives built from the block's own texts.
    DriveTable t;
    t.gCount = 3;
    for (size_t d = 0; d < 3; ++d) {
        DEV_INFO& dev = t.m_DevInfo[d];
        dev.bExisted = 1;
        dev.bIsNvme = d == 1;
        const std::string model = PackageView::RecordField(v.Record(d, 0).CMODEL, 40);
        std::memcpy(dev.szCheckModel, model.data(), std::min<size_t>(model.size(), 40));
        std::memcpy(dev.szModel, model.data(), std::min<size_t>(model.size(), 40));
        const std::string fw = v.NewFwRaw(d);
        std::memcpy(dev.szFwRev, fw.data(), 8);
        std::memcpy(dev.szDefRev, v.FwExtRaw(d).data(), 8);
    }
    ChkConstraint(t, v, ctx, [](std::string_view) {});
    for (size_t d = 0; d < 3; ++d) {
        const DEV_INFO& dev = t.m_DevInfo[d];
        if (dev.bEnabled && dev.iImageIndex >= kImageSlots) __builtin_trap();
        const TargetRevision tr = ChkO2N(dev, FieldText(dev.szFwRev, 8), v, dev.iImageIndex, ctx, [](std::string_view) {});
        if (tr.lblFWExt.size() > 8 || tr.lblNewFW.size() > 8) __builtin_trap();
        LogRevisionCompare(dev, v, dev.iImageIndex, tr, ctx, [](std::string_view) {});
        FirmwareUpToDate(dev, v, dev.iImageIndex, tr, ctx, [](std::string_view) {});
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    if ((data[0] & 1) == 0) {
        // The input itself as the block: short and odd lengths, read past nothing.
        const std::vector<uint8_t> copy(data + 1, data + size);
        Exercise(PackageView(copy), static_cast<uint8_t>(size % 4));
        return 0;
    }
    // A small zero block with the input laid over it from an offset the input chooses, so a short
    // input can reach any field of the header area or the image region.
    static std::vector<uint8_t> block(kSmallBlock, 0);
    std::fill(block.begin(), block.end(), uint8_t{0});
    const size_t at = (static_cast<size_t>(data[1]) | static_cast<size_t>(data[2]) << 8) * 3 % kSmallBlock;
    const size_t n = std::min(size - 3, kSmallBlock - at);
    std::memcpy(block.data() + at, data + 3, n);
    Exercise(PackageView(block), static_cast<uint8_t>(size % 4));
    return 0;
}
