#include <gtest/gtest.h>

#include <cstring>

#include "package/RevisionRules.h"
#include "support/SimFixture.h"

using namespace kestrel;

namespace {

// A block with records written as the packaging tool writes them.
struct Package {
    std::vector<uint8_t> b = test::TemplateBlock(0x391A);

    void Record(size_t k, size_t j, const std::string& start, const std::string& end, const std::string& cmodel) {
        const size_t at = pkg::kRecords + k * pkg::kRecordGroupSize + j * pkg::kRecordSize;
        std::memset(&b[at], 0, pkg::kRecordSize);
        std::memcpy(&b[at], start.data(), std::min<size_t>(start.size(), 8));
        std::memcpy(&b[at + 8], end.data(), std::min<size_t>(end.size(), 8));
        std::memcpy(&b[at + 16], cmodel.data(), std::min<size_t>(cmodel.size(), 40));
    }
    void Revisions(size_t k, const std::string& newFw, const std::string& fwExt) {
        std::string n = newFw, e = fwExt;
        n.resize(9, '\0');
        e.resize(9, '\0');
        test::PutText(b, pkg::kNewFw + 17 * k + 8, n);
        test::PutText(b, pkg::kFwExt + 17 * k + 8, e);
    }
    PackageView View() const { return PackageView(b); }
};

void Put(char* field, size_t width, const std::string& text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

DEV_INFO Drive(const std::string& model, const std::string& fw, const std::string& def = "", bool nvme = false) {
    DEV_INFO d;
    std::memset(&d, 0, sizeof d);
    d.bExisted = 1;
    Put(d.szCheckModel, 40, model);
    Put(d.szModel, 40, model);
    Put(d.szFwRev, 8, fw);
    Put(d.szDefRev, 8, def);
    d.bIsNvme = nvme ? 1 : 0;
    return d;
}

struct Log {
    std::string text;
    LogSink sink() {
        return [this](std::string_view l) { text += std::string(l) + "|"; };
    }
};

std::string Pad(const std::string& s, char c, size_t n) { return s + std::string(n - s.size(), c); }

}  // namespace

TEST(ChkConstraint, RecordBounds) {
    struct Case {
        const char* name;
        std::string start, end, cmodel, model, fw;
        bool enabled;
        const char* logged;
    } cases[] = {
        {"PrefixBoundsMatchEightLong", Pad("R1.00", '!', 8), Pad("R1.00", '~', 8), "SSD A", "SSD A", "R1.00XYZ", true, "  iPassLevel:4 match\n"},
        {"PrefixBoundsOtherLength", Pad("R1.00", '!', 8), Pad("R1.00", '~', 8), "SSD A", "SSD A", "R1.00", false,
         "LEN ERR : FW5 CFWS8 CFWE8 \n"},
        {"BelowStart", Pad("R1.00", '!', 8), Pad("R1.00", '~', 8), "SSD A", "SSD A", "R0.99ZZZ", false, "  iPassLevel:2 mis-match\n"},
        {"AboveEnd", Pad("R1.00", '!', 8), Pad("R1.00", '~', 8), "SSD A", "SSD A", "R1.01AAA", false, "  iPassLevel:3 mis-match\n"},
        {"EndNeedsNoEqualLength", "", "R2", "SSD A", "SSD A", "R1.5", true, "   FWE[R1.5]|CFW[R2]"},
        {"ModelMismatch", "", "", "SSD B", "SSD A", "R1", false, "  iPassLevel:0 mis-match\n"},
        {"ModelIsCaseSensitive", "", "", "ssd a", "SSD A", "R1", false, "   CURR_MODEL:SSD A\n  CMODEL:ssd a"},
        {"PaddedModelIsTrimmed", "", "", Pad("SSD A", ' ', 40), "  SSD A ", "R1", true, "  iPassLevel:1 match\n"},
        {"EmptyRecordMatchesEveryDrive", "", "", "", "ANY DRIVE", "X", true, "  _FC STR: START= END= CMODEL= \n"},
        {"EmptyRevisionAgainstStart", "R1", "", "", "SSD A", "", false, "LEN ERR : FW0 CFWS2 CFWE0 \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Package p;
        p.Record(0, 0, c.start, c.end, c.cmodel);
        PackageOptions ctx;
        ctx.iImageCount = 1;
        DriveTable t;
        t.m_DevInfo[0] = Drive(c.model, c.fw);
        t.gCount = 1;
        Log log;
        ChkConstraint(t, p.View(), ctx, log.sink());
        EXPECT_EQ(t.m_DevInfo[0].bEnabled, c.enabled ? 1 : 0);
        EXPECT_NE(log.text.find(c.logged), std::string::npos) << log.text;
    }
}

TEST(ChkConstraint, ImagesAndRecordsInOrder) {
    Package p;
    // Image 0: a LEN ERR record, then a mismatching one; the rest unfilled (never match).
    p.Record(0, 0, "R1!!!!!!", "", "SSD A");
    p.Record(0, 1, "", "", "SSD B");
    // Image 1: the model's record.
    p.Record(1, 0, "", "", "SSD A");
    PackageOptions ctx;
    ctx.iImageCount = 2;
    DriveTable t;
    t.m_DevInfo[0] = Drive("SSD A", "R1.0");
    t.m_DevInfo[1] = Drive("SSD C", "R1.0");
    t.m_DevInfo[2] = Drive("SSD A", "R1.0");
    t.m_DevInfo[2].bExisted = 0;
    t.m_DevInfo[2].bEnabled = 1;  // stale: a drive that does not exist is never eligible
    t.gCount = 3;
    Log log;
    ChkConstraint(t, p.View(), ctx, log.sink());
    EXPECT_EQ(t.m_DevInfo[0].bEnabled, 1);
    EXPECT_EQ(t.m_DevInfo[0].iImageIndex, 1);
    EXPECT_EQ(t.m_DevInfo[1].bEnabled, 0);
    EXPECT_EQ(t.m_DevInfo[2].bEnabled, 0);
    EXPECT_NE(log.text.find("ChkConstraint: bExisted:0, bUseFWExt:0\n"), std::string::npos);
    EXPECT_NE(log.text.find("|  CURRR |                                    SSD A | R1.0|"), std::string::npos) << log.text;
}

TEST(ChkConstraint, UnfilledFirstRecordMakesEveryDriveEligible) {
    Package p;  // the template: every record unfilled
    p.Record(1, 0, "", "", "");
    PackageOptions ctx;
    ctx.iImageCount = 2;
    DriveTable t;
    t.m_DevInfo[0] = Drive("WHATEVER", "Z9", "", true);
    t.gCount = 1;
    Log log;
    ChkConstraint(t, p.View(), ctx, log.sink());
    EXPECT_EQ(t.m_DevInfo[0].bEnabled, 1);
    EXPECT_EQ(t.m_DevInfo[0].iImageIndex, 0);
    EXPECT_NE(log.text.find("|NO constraint was set, exit check|"), std::string::npos);
    EXPECT_NE(log.text.find("  CURR0 |                                 WHATEVER | Z9|"), std::string::npos) << log.text;
    EXPECT_EQ(log.text.find("START=#FLSH21"), std::string::npos) << "images after the match are not examined";
}

TEST(ChkConstraint, ExtendedRevisionAndVariantCharacter) {
    Package p;
    p.Record(0, 0, "KV31501!", "KV31501~", "SSD A");
    PackageOptions ctx;
    ctx.iImageCount = 1;
    ctx.bUseFWExt = true;
    DriveTable t;
    t.m_DevInfo[0] = Drive("SSD A", "R1", "KV315013");
    t.gCount = 1;
    Log log;
    ChkConstraint(t, p.View(), ctx, log.sink());
    EXPECT_EQ(t.m_DevInfo[0].bEnabled, 1);
    EXPECT_NE(log.text.find("  CURR3 |"), std::string::npos) << log.text;
    EXPECT_NE(log.text.find("| KV31501|"), std::string::npos) << "the drive line shows seven characters";
}

TEST(ChkConstraint, CountsAreBoundedToTheTables) {
    // An image count past the block's 15 slots must not read records that do not exist (they would
    // read as empty records and match every drive).
    Package p;
    for (size_t k = 0; k < kImageSlots; ++k) p.Record(k, 0, "", "", "OTHER");
    PackageOptions ctx;
    ctx.iImageCount = 200;
    DriveTable t;
    for (auto& d : t.m_DevInfo) d = Drive("SSD A", "R1");
    t.gCount = 1000;
    ChkConstraint(t, p.View(), ctx, [](std::string_view) {});
    for (const auto& d : t.m_DevInfo) EXPECT_EQ(d.bEnabled, 0);
}

TEST(TargetDerivation, CapacityPlaceholderAndThirdCharacter) {
    struct Case {
        const char* name;
        bool nvme, useExt;
        std::string model, old, newFw, fwExt;
        std::string shown, derived;
    } cases[] = {
        {"NvmeFiveLong512", true, false, "KESTREL 512GB", "ABCDE", "A$CDE", "", "A5CDE", "A5CDE"},
        {"NvmeEightLong1T", true, false, "KESTREL 1TB", "EIFM31.6", "EI$M31.6", "", "EIAM31.6", "EIAM31.6"},
        {"NvmeEightLong128", true, false, "X 128G", "EIFM31.6", "EI$M31.6", "", "EI7M31.6", "EI7M31.6"},
        {"NvmeFiveLong960", true, false, "X960", "ABCDE", "A$CDE", "", "A8CDE", "A8CDE"},
        {"Nvme512BeforeOneT", true, false, "1T 512", "EIFM31.6", "EI$M31.6", "", "EI9M31.6", "EI9M31.6"},
        {"Nvme2048OtherUnchanged", true, false, "2048G", "EIFM31.6", "EI$M31.6", "", "EI$M31.6", "EI$M31.6"},
        {"Nvme2TFiveLong", true, false, "2T", "ABCDE", "A$CDE", "", "A7CDE", "A7CDE"},
        {"NvmeNoCapacityInModel", true, false, "KESTREL", "EIFM31.6", "EI$M31.6", "", "EI$M31.6", "EI$M31.6"},
        {"NvmeCvnfwIsNotAPlaceholder", true, false, "512", "CVxFW001", "CVNFW$01", "", "CVxFW$01", "CVxFW$01"},
        {"NvmeShortOldNoChange", true, false, "512", "ABCD", "A$CDE", "", "A$CDE", "A$CDE"},
        {"NvmeWithoutDollarKeepsThird", true, false, "512", "EIFM31.6", "EIGM32.0", "", "EIFM32.0", "EIFM32.0"},
        {"SataKeepsThirdButShowsPackage", false, false, "SSD", "SBFM61.3", "SBxM71.2", "", "SBxM71.2", "SBFM71.2"},
        {"SataDollarIsNoPlaceholder", false, false, "512", "SBFM61.3", "SB$M71.2", "", "SB$M71.2", "SBFM71.2"},
        {"SataFirstTwoDiffer", false, false, "SSD", "SBFM61.3", "SCxM71.2", "", "SCxM71.2", "SCxM71.2"},
        {"SataShortTarget", false, false, "SSD", "SBFM61.3", "SBx", "", "SBx", "SBx"},
        {"ExtendedRevision", false, true, "SSD", "KV31501", "R1", "KVx1502", "R1", "KV31502"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Package p;
        p.Revisions(0, c.newFw, c.fwExt);
        PackageOptions ctx;
        ctx.bUseFWExt = c.useExt;
        const DEV_INFO d = Drive(c.model, c.old, "", c.nvme);
        Log log;
        const TargetRevision t = ChkO2N(d, c.old, p.View(), 0, ctx, log.sink());
        EXPECT_EQ(t.lblNewFW, c.shown);
        EXPECT_EQ(t.lblFWExt, c.derived);
        const std::string target = c.useExt ? c.fwExt : c.newFw;
        EXPECT_EQ(log.text, "ChkO2N1: [" + c.old + "][" + target + "] |ChkO2N2: [" + c.old + "][" + c.derived + "] |");
    }
}

TEST(UpToDate, EachCombinationOfFlags) {
    struct Case {
        bool nFlashAuto, fOld;
        bool older, equal, newer;  // up to date for a drive older / equal / newer than the target
    } cases[] = {
        {false, false, false, false, true},
        {true, false, false, true, true},
        {false, true, false, false, false},
        {true, true, false, true, false},
    };
    for (const Case& c : cases) {
        for (int rel = 0; rel < 3; ++rel) {
            const char* fw = rel == 0 ? "R1.0" : rel == 1 ? "R1.1" : "R1.2";
            const bool expected = rel == 0 ? c.older : rel == 1 ? c.equal : c.newer;
            SCOPED_TRACE(testing::Message() << "bNFlashAuto " << c.nFlashAuto << " bFOld " << c.fOld << " drive " << fw);
            Package p;
            p.Revisions(0, "R1.1", "KV31501");
            PackageOptions ctx;
            ctx.bNFlashAuto = c.nFlashAuto;
            ctx.bFOld = c.fOld;
            for (bool nvme : {false, true}) {
                const DEV_INFO d = Drive("SSD", fw, "", nvme);
                const TargetRevision t{"R1.1 ", "R1.1"};
                Log log;
                EXPECT_EQ(FirmwareUpToDate(d, p.View(), 0, t, ctx, log.sink()), expected);
                EXPECT_EQ(log.text.rfind("FW compare size: 4\n|", 0), 0u) << log.text;
                EXPECT_EQ(log.text.find("bUseFWExt=false,This drive is the latest firmware\n") != std::string::npos, expected);
            }
        }
    }
}

TEST(UpToDate, ComparedLengthAndExtendedRevision) {
    Package p;
    p.Revisions(0, "R1.1", "KV315012");
    PackageOptions ctx;
    ctx.bNFlashAuto = true;
    Log log;
    // Over the target's length only: "R1.10" counts as equal to "R1.1".
    EXPECT_TRUE(FirmwareUpToDate(Drive("SSD", "R1.10"), p.View(), 0, {"R1.1", "R1.1"}, ctx, log.sink()));
    // With bUseFWExt the DEF text is compared over all 8 bytes, and no compare size is logged.
    ctx.bUseFWExt = true;
    log.text.clear();
    EXPECT_TRUE(FirmwareUpToDate(Drive("SSD", "X", "KV315012"), p.View(), 0, {}, ctx, log.sink()));
    EXPECT_EQ(log.text, "bUseFWExt=true,This drive is the latest firmware\n|");
    EXPECT_FALSE(FirmwareUpToDate(Drive("SSD", "X", "KV315011"), p.View(), 0, {}, ctx, log.sink()));
}

TEST(UpToDate, CompareLine) {
    Package p;
    p.Revisions(0, "R1.1", "KV315012");
    PackageOptions ctx;
    ctx.bNFlashAuto = true;
    Log log;
    LogRevisionCompare(Drive("SSD", "R1.0", "KV315011"), p.View(), 0, {"N1", "N2"}, ctx, log.sink());
    LogRevisionCompare(Drive("SSD", "R1.0", "KV315011", true), p.View(), 0, {"N1", "N2"}, ctx, log.sink());
    EXPECT_EQ(log.text,
              "UP. bNFlash=1,bFOld=0, DEF7:R1.0R1.1 DEF8:KV31501 KV31501 \n|"
              "UP. bNFlash=1,bFOld=0, DEF7:R1.0N1 DEF8:KV31501 N2 \n|");
}

TEST(DriveTable, ClearLeavesZeroBytes) {
    DriveTable t;
    std::memset(t.m_DevInfo.data(), 0xAB, sizeof(DEV_INFO) * kMaxDrives);
    t.ClearDevInfo();
    const auto* p = reinterpret_cast<const uint8_t*>(t.m_DevInfo.data());
    for (size_t i = 0; i < sizeof(DEV_INFO) * kMaxDrives; ++i) ASSERT_EQ(p[i], 0) << i;
    EXPECT_EQ(FieldText(Drive(std::string(40, 'M'), "R").szModel, 40), std::string(40, 'M'));  // full width, no terminator
}
