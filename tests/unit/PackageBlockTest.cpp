#include <gtest/gtest.h>

#include <cstring>

#include "package/FwPackage.h"
#include "package/PackageView.h"
#include "support/SimFixture.h"

using namespace kestrel;

namespace {

std::string At(const PackageView& v, size_t off, size_t n) { return v.Raw(off, n); }

}  // namespace

TEST(PackageBlock, TemplateLayoutAndMarkers) {
    const PackageView v(OwnPackageBlock());
    ASSERT_EQ(v.Bytes().size(), 31472950u);
    EXPECT_EQ(At(v, 0, 15), "[Programmed by ");
    EXPECT_EQ(At(v, 0x245E, 9), "PARA_OPT=");
    EXPECT_EQ(At(v, 0x291A, 15), std::string("BOOT_CODE_HERE\0", 15));
    EXPECT_EQ(At(v, 0x1E0391A, 13), std::string("AES_BUF_HERE\0", 13));
    // Image entries: key text, then the value at its fixed place.
    for (size_t k = 0; k < kImageSlots; ++k) {
        const char x = kImageDigits[k];
        SCOPED_TRACE(x);
        EXPECT_EQ(At(v, 0x2488 + 22 * k, 11), std::string("BIN_START") + x + "=");
        EXPECT_EQ(At(v, 0x25D2 + 22 * k, 11), std::string("BIN_SIZE") + x + " =");
        EXPECT_EQ(At(v, 0x2488 + 22 * k + 11, 11), std::string("0000000000\0", 11));
        EXPECT_EQ(At(v, 0x271C + 17 * k, 8), std::string("NEW_FW") + x + "=");
        EXPECT_EQ(At(v, 0x281B + 17 * k, 8), std::string("FW_EXT") + x + "=");
        EXPECT_EQ(v.NewFwRaw(k), "N/A     ");
        EXPECT_EQ(v.FwExtRaw(k), "N/A     ");
        EXPECT_EQ(v.NEW_FW(k), "N/A");
        EXPECT_EQ(v.BIN_START(k), 0u);
        EXPECT_EQ(v.BIN_SIZE(k), 0u);
        for (size_t j = 0; j < kRecordsPerImage; ++j) {
            const FLSH_RECORD r = v.Record(k, j);
            const std::string start(r.START, 8);
            EXPECT_EQ(start, std::string("#FLSH") + x + static_cast<char>('1' + j) + '\0');
            EXPECT_EQ(std::string(r.END, 8), std::string("#\0\0\0\0\0\0\0", 8));
            EXPECT_EQ(r.CMODEL[0], '#');
            EXPECT_EQ(r.reserved[0], '#');
            EXPECT_EQ(std::string(r.CMODEL + 1, 39), std::string(39, '\0'));
        }
    }
    // Program slots and their size entries at the listed value offsets.
    for (size_t n = 0; n < kProgramSlots; ++n) {
        EXPECT_EQ(v.Text(0x1E03A1A + 32 * n, 32), pkg::kProgramSlotNames[n]);
        const std::string key = pkg::kProgramSizeKeys[n];
        EXPECT_EQ(At(v, pkg::kProgramSizeValue[n] - key.size(), key.size()), key);
        EXPECT_EQ(At(v, pkg::kProgramSizeValue[n], 11), std::string("0000000000\0", 11));
        EXPECT_EQ(v.ProgramSize(n), 0u);
        EXPECT_TRUE(v.Program(n).empty());
    }
    // The template holds no image and a full set of "0" option digits.
    EXPECT_EQ(v.iImageCount(), 0);
    for (int pos = 2; pos <= 29; ++pos) EXPECT_EQ(v.OptionByte(pos), '0') << pos;
    EXPECT_EQ(v.OptionByte(30), 0);
}

TEST(PackageBlock, NumberFieldsAndFiller) {
    auto b = test::TemplateBlock(0x391A);
    test::PutText(b, 0x25D2 + 22 * 3 + 10, "B0000525312");  // filler "B", as a filled entry has it
    test::PutText(b, 0x25D2 + 22 * 4 + 11, "0000525312");   // template filler " "
    test::PutText(b, 0x2488 + 22 * 5 + 11, "12AB");          // stops at the first non-digit
    test::PutText(b, 0x2488 + 22 * 6 + 11, "          ");    // no digits at all
    const PackageView v(b);
    EXPECT_EQ(v.BIN_SIZE(3), 525312u);
    EXPECT_EQ(v.BIN_SIZE(4), 525312u);
    EXPECT_EQ(v.BIN_START(5), 12u);
    EXPECT_EQ(v.BIN_START(6), 0u);
}

TEST(PackageBlock, RecordFieldsKeepPadding) {
    auto b = test::TemplateBlock(0x391A);
    test::PutText(b, 0x00BE, "AB!!!!!!");
    const PackageView v(b);
    const FLSH_RECORD r = v.Record(0, 0);
    // "!" and "~" are not blanks: all eight characters take part in comparisons.
    EXPECT_EQ(PackageView::RecordField(r.START, 8), "AB!!!!!!");
    EXPECT_EQ(TrimText(" \t X Y \r\n"), "X Y");
}

TEST(PackageBlock, ShortBlockReadsAsEmpty) {
    const std::vector<uint8_t> tiny(100, 'A');
    const PackageView v(tiny);
    EXPECT_EQ(v.NEW_FW(14), "");
    EXPECT_EQ(v.BIN_SIZE(14), 0u);
    EXPECT_TRUE(v.ImageRegion().empty());
    EXPECT_EQ(v.Record(14, 7).START[0], 0);
    EXPECT_EQ(v.iImageCount(), 0);
    EXPECT_EQ(v.sTitle(), std::string(100 - 0x31, 'A'));  // read up to the end of the block, no further
}

// The entries of image k lie at family start + entry size * k; an index of 15 or more lands in the
// next family (BIN_START 15 is BIN_SIZE 1's value, NEW_FW 15 is FW_EXT 1's, and so on). Such an
// index reads as an empty entry, and only the package's own images load.
TEST(PackageBlock, IndexOutsideTheImagesReadsNothing) {
    auto b = test::TemplateBlock(0x391A + 4096);
    test::PutText(b, 0x2488 + 11, "0000000512");   // BIN_START1
    test::PutText(b, 0x25D2 + 11, "0000001024");   // BIN_SIZE1
    test::PutText(b, 0x271C + 8, "12345678");      // NEW_FW1
    test::PutText(b, 0x281B + 8, "ABCDEFGH");      // FW_EXT1
    for (size_t k = 1; k < kImageSlots; ++k) {     // every other image: one byte at the start
        test::PutText(b, 0x2488 + 22 * k + 11, "0000000000");
        test::PutText(b, 0x25D2 + 22 * k + 11, "0000000001");
    }
    for (const size_t k : {size_t{15}, size_t{16}, size_t{1000}}) {
        const PackageView v(b);
        EXPECT_EQ(v.BIN_START(k), 0u) << k;
        EXPECT_EQ(v.BIN_SIZE(k), 0u) << k;
        EXPECT_EQ(v.NewFwRaw(k), std::string(8, '\0')) << k;
        EXPECT_EQ(v.FwExtRaw(k), std::string(8, '\0')) << k;
        EXPECT_EQ(v.NEW_FW(k), "") << k;
        EXPECT_EQ(v.FW_EXT(k), "") << k;
    }
    struct Case {
        uint8_t count;
        size_t k;
        ImageLoadResult result;
    } cases[] = {
        {2, 0, ImageLoadResult::Ok},           {2, 1, ImageLoadResult::Ok},
        {2, 2, ImageLoadResult::NoSuchImage},  {0, 0, ImageLoadResult::NoSuchImage},
        {15, 14, ImageLoadResult::Ok},         {15, 15, ImageLoadResult::NoSuchImage},
        {200, 14, ImageLoadResult::Ok},        {200, 15, ImageLoadResult::NoSuchImage},
        {200, 199, ImageLoadResult::NoSuchImage},
    };
    std::vector<uint8_t> buf(kImageBufferSize, 0xEE);
    for (const Case& c : cases) {
        b[pkg::kOptionString] = c.count;
        const PackageView v(b);
        uint32_t padded = 7;
        EXPECT_EQ(v.LoadImage(c.k, buf, padded), c.result) << int{c.count} << " images, index " << c.k;
        EXPECT_EQ(padded, c.result == ImageLoadResult::Ok ? (c.k == 0 ? 1024u : 512u) : 0u);
    }
}

struct LoadCase {
    const char* name;
    uint64_t start, size;
    ImageLoadResult result;
    uint32_t padded;
};

class LoadImage : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadImage, BoundsAndPadding) {
    const LoadCase& c = GetParam();
    static std::vector<uint8_t> block = [] {
        auto b = test::TemplateBlock();
        for (size_t i = 0; i < kImageRegionSize; ++i) b[pkg::kImageRegion + i] = static_cast<uint8_t>(i * 7 + 1);
        return b;
    }();
    auto b = block;
    char num[16];
    std::snprintf(num, sizeof num, "%010llu", static_cast<unsigned long long>(c.start));
    test::PutText(b, 0x2488 + 11, num);
    std::snprintf(num, sizeof num, "%010llu", static_cast<unsigned long long>(c.size));
    test::PutText(b, 0x25D2 + 11, num);
    b[pkg::kOptionString] = 1;  // one image
    const PackageView v(b);
    std::vector<uint8_t> buf(kImageBufferSize, 0xEE);
    uint32_t padded = 123;
    EXPECT_EQ(v.LoadImage(0, buf, padded), c.result);
    EXPECT_EQ(padded, c.padded);
    if (c.result == ImageLoadResult::Ok) {
        EXPECT_EQ(0, std::memcmp(buf.data(), b.data() + pkg::kImageRegion + c.start, c.size));
        // The padding and the rest of the buffer are zero.
        for (size_t i = c.size; i < buf.size(); i += 4099) ASSERT_EQ(buf[i], 0) << i;
    } else {
        EXPECT_EQ(buf[0], 0xEE) << "nothing may be copied for a refused image";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadImage,
    ::testing::Values(LoadCase{"Aligned", 0, 525312, ImageLoadResult::Ok, 525312},
                      LoadCase{"OneOver", 0, 525313, ImageLoadResult::Ok, 525824},
                      LoadCase{"Empty", 0, 0, ImageLoadResult::Ok, 0},
                      LoadCase{"WholeBuffer", 1000, 2097152, ImageLoadResult::Ok, 2097152},
                      LoadCase{"LargerThanBuffer", 0, 2097153, ImageLoadResult::TooLarge, 0},
                      LoadCase{"EndsAtRegionEnd", 31457280 - 4096, 4096, ImageLoadResult::Ok, 4096},
                      LoadCase{"RunsPastRegion", 31457280 - 4096, 4097, ImageLoadResult::OutsideRegion, 0},
                      LoadCase{"StartsPastRegion", 9999999999ull, 1, ImageLoadResult::OutsideRegion, 0}),
    [](const auto& p) { return std::string(p.param.name); });
