// The package block as the program reads it: short and damaged blocks through every accessor,
// image loading, the option decoding, the constraint check and the target derivation, and the
// packaging tool's decoder.
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

void Exercise(const PackageView& v, bool whole) {
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

    if (whole) {
        static std::vector<uint8_t> buffer(kImageBufferSize);
        for (size_t k = 0; k <= kImageSlots; ++k) {
            uint32_t padded = 0;
            const ImageLoadResult r = v.LoadImage(k, buffer, padded);
            if (r == ImageLoadResult::Ok && (padded % 512 != 0 || padded > kImageBufferSize)) __builtin_trap();
            if (r != ImageLoadResult::Ok && padded != 0) __builtin_trap();
        }
    }

    RunContext ctx;
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
    if (size == 0) return 0;
    if ((data[0] & 1) == 0) {
        // A short block: the input itself, read past nothing.
        const std::vector<uint8_t> copy(data + 1, data + size);
        Exercise(PackageView(copy), false);
        return 0;
    }
    // A whole block whose header area (texts, records, options, entries) and program area come
    // from the input; the image region between them stays zero.
    static std::vector<uint8_t> block(pkg::kBlockSize, 0);
    const size_t head = std::min<size_t>(size - 1, pkg::kImageRegion);
    std::memcpy(block.data(), data + 1, head);
    const size_t tailSize = pkg::kBlockSize - pkg::kAesBuf;
    const size_t tail = std::min<size_t>(size - 1 - head, tailSize);
    std::memcpy(block.data() + pkg::kAesBuf, data + 1 + head, tail);
    Exercise(PackageView(block), true);
    // The packaging tool's reading of the same block (its images are all zero bytes, so cheap).
    const size_t described = pack::DescribeJson(PackageView(block)).dump().size() + pack::DescribeText(PackageView(block)).size();
    asm volatile("" : : "r"(described) : "memory");
    std::memset(block.data(), 0, head);
    std::memset(block.data() + pkg::kAesBuf, 0, tail);
    return 0;
}
