#include <gtest/gtest.h>

#include "package/PackageOptions.h"
#include "support/SimFixture.h"

using namespace kestrel;

namespace {

std::vector<uint8_t> Block(uint8_t count, const std::string& digits, const char* newFw0 = nullptr) {
    auto b = test::TemplateBlock(0x391A);
    test::PutOptions(b, count, digits);
    if (newFw0) {
        std::string v(newFw0);
        v.resize(8, '\0');
        test::PutText(b, pkg::kNewFw + 8, v);
    }
    return b;
}

}  // namespace

TEST(PackageOptions, DecodesTheExampleString) {
    const auto b = Block(2, "1000000011101100000000002100");
    PackageOptions ctx;
    std::string error;
    ASSERT_TRUE(ReadPackageOptions(PackageView(b), ctx, error)) << error;
    EXPECT_EQ(ctx.iImageCount, 2);
    EXPECT_TRUE(ctx.bUseFWExt);
    EXPECT_TRUE(ctx.bHiddenDrives);
    EXPECT_TRUE(ctx.bRebootAfter);
    EXPECT_TRUE(ctx.bNFlashAuto);
    EXPECT_EQ(ctx.iCloseMsgSeconds, 2);
    EXPECT_TRUE(ctx.bWindowsFlash);
    EXPECT_EQ(ctx.iNoticeStyle, 0);
    for (bool f : {ctx.bReBoot, ctx.bAutoMode, ctx.bShutdownAfter, ctx.bBootcode, ctx.bDeployMode, ctx.bPreformat,
                   ctx.bBeforePreformat, ctx.bFOld, ctx.bUnattended})
        EXPECT_FALSE(f);
}

TEST(PackageOptions, EachFlagAtItsPosition) {
    struct Case {
        int pos;
        bool PackageOptions::*flag;
    };
    const Case cases[] = {{2, &PackageOptions::bUseFWExt},    {4, &PackageOptions::bReBoot},       {5, &PackageOptions::bAutoMode},
                          {6, &PackageOptions::bShutdownAfter}, {10, &PackageOptions::bHiddenDrives}, {12, &PackageOptions::bRebootAfter},
                          {15, &PackageOptions::bNFlashAuto},  {19, &PackageOptions::bBootcode},     {20, &PackageOptions::bDeployMode},
                          {22, &PackageOptions::bPreformat},   {23, &PackageOptions::bBeforePreformat}, {24, &PackageOptions::bFOld},
                          {25, &PackageOptions::bUnattended},  {27, &PackageOptions::bWindowsFlash}};
    for (const Case& c : cases) {
        std::string digits(28, '0');
        digits[static_cast<size_t>(c.pos - 2)] = '5';  // any digit but 0 is true
        const auto b = Block(1, digits);
        PackageOptions ctx;
        std::string error;
        ASSERT_TRUE(ReadPackageOptions(PackageView(b), ctx, error)) << error;
        int set = 0;
        for (const Case& o : cases) set += ctx.*(o.flag) ? 1 : 0;
        EXPECT_TRUE(ctx.*(c.flag)) << "position " << c.pos;
        EXPECT_EQ(set, 1) << "position " << c.pos << " set another flag too";
    }
}

TEST(PackageOptions, HeaderBytesAreSignedAndUnchecked) {
    auto b = Block(0, std::string(28, '0'));
    b[pkg::kVisualStyle] = 0xFF;
    b[pkg::kLanguage] = 1;
    b[pkg::kFlashMode] = 20;
    PackageOptions ctx;
    std::string error;
    ASSERT_TRUE(ReadPackageOptions(PackageView(b), ctx, error));
    EXPECT_EQ(ctx.iVisualStyle, -1);
    EXPECT_EQ(ctx.iLanguage, 1);
    EXPECT_EQ(ctx.iFlashMode, 20);
}

TEST(PackageOptions, UnreadablePositionsFail) {
    struct Case {
        const char* digits;
        const char* mentions;
    } cases[] = {
        {"10000000111011000000000021", nullptr},            // positions 28 and 29 missing: never read
        {"1000000011101100000000002", "position 27"},
        {"1x00000011101100000000002100", nullptr},          // position 3 is not read: no failure
        {"10000000111011000000000021X0", nullptr},          // position 28 is not read either
        {"1000000011101100000000002A00", "position 27"},
        {"100000 011101100000000002100", "position 8"},     // read although it has no effect
    };
    for (const Case& c : cases) {
        auto b = test::TemplateBlock(0x391A);
        std::fill(b.begin() + pkg::kOptionString + 1, b.begin() + pkg::kOptionString + 30, 0);
        test::PutOptions(b, 1, c.digits);
        PackageOptions ctx;
        std::string error;
        const bool ok = ReadPackageOptions(PackageView(b), ctx, error);
        if (c.mentions == nullptr) {
            EXPECT_TRUE(ok) << c.digits << ": " << error;
        } else {
            EXPECT_FALSE(ok) << c.digits;
            EXPECT_NE(error.find(c.mentions), std::string::npos) << c.digits << ": " << error;
        }
    }
}

TEST(PackageOptions, ModelNameFromFirstTargetRevision) {
    struct Case {
        const char* rev;
        const char* model;
    } cases[] = {{"HBS1", "Q7"}, {"R0", "Q7"},  {"5x", "Q7"},  {"6x", "Q7"},  {"T123", "RP5"}, {"F", "J6"},
                 {"3", "J6"},    {"7", "J6"},   {"G", "J6"},   {"W", "J6"},   {"4xx", "RM8"},  {"N/A", "Unknown"},
                 {"h", "Unknown"}, {"  R1", "Q7"}};
    for (const Case& c : cases) {
        const auto b = Block(1, std::string(28, '0'), c.rev);
        PackageOptions ctx;
        ctx.iImageCount = 1;
        std::string error;
        EXPECT_TRUE(GetModelName(PackageView(b), ctx, error));
        EXPECT_EQ(ctx.gModelName, c.model) << c.rev;
        EXPECT_TRUE(error.empty());
    }
}

TEST(PackageOptions, ModelNameWithoutImagesOrRevision) {
    PackageOptions ctx;
    std::string error;
    const auto b = Block(0, std::string(28, '0'), "R1");
    ctx.iImageCount = 0;
    EXPECT_FALSE(GetModelName(PackageView(b), ctx, error));
    EXPECT_EQ(ctx.gModelName, "Unknown");
    EXPECT_TRUE(error.empty());

    const auto empty = Block(1, std::string(28, '0'), "");
    ctx.iImageCount = 1;
    EXPECT_FALSE(GetModelName(PackageView(empty), ctx, error));
    EXPECT_FALSE(error.empty());
}
