#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "package/AesCipher.h"
#include "package/RevisionRules.h"
#include "support/SimFixture.h"
#include "tools/pack/Pack.h"
#include "tools/pack/Sha256.h"

using namespace kestrel;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

std::string OpenSslSha256(const std::vector<uint8_t>& d) {
    uint8_t md[SHA256_DIGEST_LENGTH];
    SHA256(d.data(), d.size(), md);
    std::string out;
    char hex[3];
    for (uint8_t b : md) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        out += hex;
    }
    return out;
}

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// A folder with two image files and a small program, removed afterwards.
struct Files : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("kestrel-pack-test-" + std::to_string(::getpid()));
    std::vector<uint8_t> fw1 = Random(1000, 1), fw2 = Random(70000, 2);
    void SetUp() override {
        fs::create_directories(dir);
        Write("fw1.bin", fw1);
        Write("fw2.bin", fw2);
        Write("flasher.exe", {'M', 'Z', 1, 2, 3});
    }
    void TearDown() override { fs::remove_all(dir); }
    void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    json Manifest(bool windowsFlash) const {
        return json::parse(R"({
          "builder": "QA", "version": "v1.0.0.1", "phone": "555-0100", "title": "Kestrel SSD Update",
          "build_date": "2026/12/10", "model": "KESTREL SSD", "iVisualStyle": -3, "iLanguage": 1, "iFlashMode": 2,
          "options": { "bUseFWExt": true, "bReBoot": true, "iNoticeStyle": 2, "bNFlashAuto": true, "bFOld": true,
                       "iCloseMsgSeconds": 7, "bWindowsFlash": false },
          "images": [ { "file": "fw1.bin", "NEW_FW": "R1.1.0", "FW_EXT": "KV31502",
                        "constraints": [ { "CMODEL": "KESTREL SSD 512GB", "START": "R1.0", "END": "R1.1" },
                                         { "CMODEL": "KESTREL SSD 1TB" } ] },
                      { "file": "fw2.bin", "NEW_FW": "T2.0", "FW_EXT": "TX2000A" } ],
          "programs": { "EXE_WIN7_X64": "flasher.exe" } })")
            .patch(json::parse(windowsFlash ? R"([{"op":"replace","path":"/options/bWindowsFlash","value":true}])" : "[]"));
    }
};

}  // namespace

TEST(Sha256, AgreesWithOpenSsl) {
    for (size_t n : {0, 1, 55, 56, 63, 64, 65, 1000, 1 << 20}) {
        const auto d = Random(n, static_cast<uint32_t>(n));
        EXPECT_EQ(pack::Sha256Hex(d), OpenSslSha256(d)) << n;
        // Fed in uneven pieces.
        pack::Sha256 s;
        for (size_t at = 0; at < n;) {
            const size_t step = std::min<size_t>(n - at, 1 + at % 97);
            s.Update(std::span<const uint8_t>(d.data() + at, step));
            at += step;
        }
        const auto md = s.Final();
        uint8_t ref[32];
        SHA256(d.data(), d.size(), ref);
        EXPECT_EQ(0, std::memcmp(md.data(), ref, 32)) << n;
    }
}

TEST_F(Files, FilledBlockReadsBackAsTheManifest) {
    for (bool windowsFlash : {true, false}) {
        SCOPED_TRACE(windowsFlash ? "plain" : "enciphered");
        const json doc = Manifest(windowsFlash);
        std::vector<std::string> errors;
        const auto m = pack::ReadManifest(doc, dir, errors);
        ASSERT_TRUE(m) << (errors.empty() ? "" : errors[0]);
        auto block = test::TemplateBlock();
        ASSERT_FALSE(pack::IsPacked(PackageView(block)));
        pack::FillBlock(block, *m);
        const PackageView v(block);
        EXPECT_TRUE(pack::IsPacked(v));

        // What the program reads.
        EXPECT_EQ(v.sTitle(), "Kestrel SSD Update");
        EXPECT_EQ(v.iVisualStyle(), -3);
        EXPECT_EQ(v.iImageCount(), 2);
        EXPECT_EQ(v.Raw(pkg::kOptionString + 1, 29),
                  std::string(windowsFlash ? "1010020000000100000000107100" : "1010020000000100000000107000") + '\0');
        EXPECT_EQ(v.Raw(pkg::kBinSize + 22, 11), "BIN_SIZE2B=");
        EXPECT_EQ(v.Raw(pkg::kBinSize + 22 * 2, 11), "BIN_SIZE3 =");
        EXPECT_EQ(v.NewFwRaw(0), std::string("R1.1.0\0\0", 8));
        EXPECT_EQ(v.NewFwRaw(2), "N/A     ");
        EXPECT_EQ(v.Raw(pkg::kRecords, 16), "R1.0!!!!R1.1~~~~");
        EXPECT_EQ(v.Raw(pkg::kRecords + 76 + 16, 40), std::string("KESTREL SSD 1TB") + std::string(25, ' '));
        EXPECT_EQ(v.Raw(pkg::kRecords + 76, 1), std::string(1, '\0')) << "an empty bound stays empty";
        EXPECT_EQ(v.Raw(pkg::kRecords + 2 * 76, 8), std::string("#FLSH13\0", 8));
        EXPECT_EQ(v.ProgramSize(9), 5u);
        EXPECT_EQ(v.Raw(pkg::kProgramSlotStart, 10), "EXE_XP_X86");

        // Each image loads and, deciphered where it is stored enciphered, is the file again.
        std::vector<uint8_t> buf(kImageBufferSize);
        ImageCipherContext cipher;
        for (size_t k = 0; k < 2; ++k) {
            const auto& plain = k == 0 ? fw1 : fw2;
            uint32_t padded = 0;
            ASSERT_EQ(v.LoadImage(k, buf, padded), ImageLoadResult::Ok);
            EXPECT_EQ(v.BIN_START(k) % 512, 0u);
            if (windowsFlash) {
                EXPECT_EQ(v.BIN_SIZE(k), plain.size());
            } else {
                EXPECT_EQ(v.BIN_SIZE(k) % 512, 0u);
                EXPECT_NE(0, std::memcmp(buf.data(), plain.data(), 16));
                ImageCipherDecipher(cipher, buf.data(), padded);
                for (size_t i = plain.size(); i < padded; ++i) ASSERT_EQ(buf[i], 0) << "the padding deciphers to zeros";
            }
            EXPECT_EQ(0, std::memcmp(buf.data(), plain.data(), plain.size()));
        }

        // show --json gives the manifest's values back.
        json shown = pack::DescribeJson(v);
        for (const char* k : {"builder", "version", "phone", "title", "build_date", "model", "iVisualStyle", "iLanguage", "iFlashMode"})
            EXPECT_EQ(shown[k], doc[k]) << k;
        for (const pack::OptionSpec& o : pack::Options()) {
            const json expected = doc["options"].contains(o.name) ? doc["options"][o.name] : (o.isFlag ? json(false) : json(0));
            EXPECT_EQ(shown["options"][o.name], expected) << o.name;
        }
        ASSERT_EQ(shown["images"].size(), 2u);
        // Enciphered images are stored padded with zeros to 512 bytes (the program deciphers the
        // padded length); size and digest are of that padded plain image.
        const auto padTo = [&](std::vector<uint8_t> d) {
            if (!windowsFlash) d.resize(pack::StoredSize(d.size(), true), 0);
            return d;
        };
        EXPECT_EQ(shown["images"][0]["sha256"], OpenSslSha256(padTo(fw1)));
        EXPECT_EQ(shown["images"][1]["sha256"], OpenSslSha256(padTo(fw2)));
        EXPECT_EQ(shown["images"][1]["size"], padTo(fw2).size());
        EXPECT_EQ(shown["images"][0]["NEW_FW"], "R1.1.0");
        EXPECT_EQ(shown["images"][1]["FW_EXT"], "TX2000A");
        EXPECT_EQ(shown["images"][0]["constraints"],
                  json::parse(R"([{"CMODEL":"KESTREL SSD 512GB","START":"R1.0!!!!","END":"R1.1~~~~"},{"CMODEL":"KESTREL SSD 1TB","START":"","END":""}])"));
        EXPECT_EQ(shown["images"][1]["constraints"], json::array());
        EXPECT_EQ(shown["programs"]["EXE_WIN7_X64"]["size"], 5);

        // Packing again with fewer images puts the freed slots back into their template form.
        json smaller = doc;
        smaller["images"].erase(1);
        smaller.erase("programs");
        const auto m2 = pack::ReadManifest(smaller, dir, errors);
        ASSERT_TRUE(m2);
        pack::FillBlock(block, *m2);
        EXPECT_EQ(v.Raw(pkg::kBinSize + 22, 22), std::string("BIN_SIZE2 =0000000000\0", 22));
        EXPECT_EQ(v.NewFwRaw(1), "N/A     ");
        EXPECT_EQ(v.Raw(pkg::kProgramSlotStart + 32 * 9, 13), std::string("EXE_WIN7_X64\0", 13));
        EXPECT_EQ(v.ProgramSize(9), 0u);
    }
}

TEST_F(Files, TextsAreEightBitCharacters) {
    json doc = Manifest(true);
    doc["title"] = "Kestrel \xC3\xA9tude";  // U+00E9: one byte in the block
    std::vector<std::string> errors;
    const auto m = pack::ReadManifest(doc, dir, errors);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->title, "Kestrel \xE9tude");
    auto block = test::TemplateBlock(pkg::kBlockSize);
    pack::FillBlock(block, *m);
    EXPECT_EQ(pack::DescribeJson(PackageView(block))["title"], doc["title"]);
    for (const char* bad : {"\xE2\x82\xAC", "tab\there", "\xC2\x85"}) {
        doc["title"] = bad;
        errors.clear();
        EXPECT_FALSE(pack::ReadManifest(doc, dir, errors));
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind("title: ", 0), 0u) << errors[0];
    }
}

// Manifests whose packages could not work are refused, naming the field: a target revision of
// blanks (the program trims it to nothing), an image without an extended revision when the drives
// are compared by it, and a package that does not say which road it takes.
TEST_F(Files, ManifestsThatCannotWorkAreRefused) {
    struct Case {
        const char* patch;
        const char* error;  // null: accepted
    } cases[] = {
        {R"([{"op":"replace","path":"/images/0/NEW_FW","value":"        "}])", "images[0].NEW_FW: "},
        {R"([{"op":"replace","path":"/images/1/NEW_FW","value":" "}])", "images[1].NEW_FW: "},
        {R"([{"op":"replace","path":"/images/1/NEW_FW","value":""}])", "images[1].NEW_FW: "},
        {R"([{"op":"remove","path":"/images/1/FW_EXT"}])", "images[1].FW_EXT: "},
        {R"([{"op":"replace","path":"/images/0/FW_EXT","value":"   "}])", "images[0].FW_EXT: "},
        {R"([{"op":"remove","path":"/images/1/FW_EXT"},{"op":"replace","path":"/options/bUseFWExt","value":false}])", nullptr},
        {R"([{"op":"remove","path":"/options/bWindowsFlash"}])", "options.bWindowsFlash: missing"},
        {R"([{"op":"remove","path":"/options"}])", "options.bWindowsFlash: missing"},
        {R"([{"op":"replace","path":"/images/1/NEW_FW","value":" T2 "}])", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.patch);
        const json doc = Manifest(false).patch(json::parse(c.patch));
        std::vector<std::string> errors;
        const auto m = pack::ReadManifest(doc, dir, errors);
        if (c.error == nullptr) {
            EXPECT_TRUE(m) << (errors.empty() ? "" : errors[0]);
            continue;
        }
        EXPECT_FALSE(m);
        ASSERT_EQ(errors.size(), 1u) << (errors.empty() ? "" : errors[0]);
        EXPECT_EQ(errors[0].rfind(c.error, 0), 0u) << errors[0];
    }
}

// show describes an image's records as the program's constraint check takes them: "no constraint
// records" exactly when a drive that no filled record admits may take the image.
TEST(PackShow, ConstraintsAsTheProgramReadsThem) {
    struct Case {
        const char* name;
        std::vector<std::pair<size_t, std::string>> puts;  // offsets within image 1's records
        bool open;
    } cases[] = {
        {"template", {}, true},
        {"first record filled", {{16, "KESTREL SSD 512GB"}, {0, "R1.0!!!!"}, {8, "R1.0~~~~"}}, false},
        // Unfilled first record, a filled second one: the first record already admits every drive.
        {"second record filled", {{76 + 0, "R1.0!!!!"}, {76 + 8, "R1.0~~~~"}, {76 + 16, std::string("KESTREL SSD 512GB") + std::string(23, ' ')}}, true},
        // The check reads the fields trimmed: blanks before the template's marks change nothing.
        {"unfilled with blanks", {{0, " #FLSH11"}, {8, " #\0\0\0\0\0\0"}, {16, "  #"}}, true},
        {"unfilled but a model", {{16, "KESTREL SSD 512GB"}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto b = test::TemplateBlock(0x391A);
        b[pkg::kOptionString] = 1;
        for (const auto& [at, text] : c.puts) test::PutText(b, pkg::kRecords + at, text);
        const PackageView v(b);
        const json shown = pack::DescribeJson(v)["images"][0]["constraints"];

        DriveTable t;
        t.gCount = 1;
        DEV_INFO& d = t.m_DevInfo[0];
        d.bExisted = 1;
        std::memcpy(d.szCheckModel, "SOME OTHER SSD", 14);
        std::memcpy(d.szFwRev, "Z9.9", 4);
        PackageOptions o;
        o.iImageCount = 1;
        ChkConstraint(t, v, o, [](std::string_view) {});

        EXPECT_EQ(d.bEnabled == 1, c.open);
        EXPECT_EQ(shown.empty(), c.open) << shown.dump();
    }
}

TEST(PackLayout, ImagesAlignAndMustFitTheRegion) {
    EXPECT_EQ(pack::LayoutImages({1000, 512, 1}, 4096), (std::vector<size_t>{0, 1024, 1536}));
    EXPECT_FALSE(pack::LayoutImages({2048, 2049}, 4096));
    EXPECT_TRUE(pack::LayoutImages({2048, 2048}, 4096));
    // The most the manifest rules allow always fits the real region.
    EXPECT_TRUE(pack::LayoutImages(std::vector<size_t>(kImageSlots, kImageBufferSize), kImageRegionSize));
    EXPECT_EQ(pack::StoredSize(1000, true), 1024u);
    EXPECT_EQ(pack::StoredSize(1000, false), 1000u);
}

TEST(PackLayout, BlockIsFoundByItsMarkersExactlyOnce) {
    const auto block = test::TemplateBlock();
    std::vector<uint8_t> file(100, 0x90);
    file.insert(file.end(), block.begin(), block.end());
    file.insert(file.end(), {'B', 'O', 'O', 'T', '_', 'C', 'O', 'D', 'E', '_', 'H', 'E', 'R', 'E'});  // a stray marker
    EXPECT_EQ(pack::FindBlocks(file), std::vector<size_t>{100});
    auto twice = file;
    twice.insert(twice.end(), block.begin(), block.end());
    EXPECT_EQ(pack::FindBlocks(twice).size(), 2u);
    auto broken = file;
    broken[100 + pkg::kAesBuf] = 'x';
    EXPECT_TRUE(pack::FindBlocks(broken).empty());
    EXPECT_TRUE(pack::FindBlocks(std::vector<uint8_t>(block.begin(), block.end() - 1)).empty());
}

namespace {

// A skeleton PE file: DOS header pointing at 0x80, the PE signature, a file header, an optional
// header of the given magic with 16 data directories, and the security entry filled.
std::vector<uint8_t> SkeletonPe(uint16_t magic, uint32_t tableOffset, uint32_t tableSize, size_t fileSize) {
    std::vector<uint8_t> f(fileSize, 0);
    auto put = [&](size_t at, uint32_t v, size_t n) {
        for (size_t i = 0; i < n; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    f[0] = 'M';
    f[1] = 'Z';
    put(0x3C, 0x80, 4);
    put(0x80, 0x4550, 4);
    const size_t opt = 0x80 + 24;
    put(opt, magic, 2);
    put(opt + 64, 0x12345678, 4);  // CheckSum
    const size_t count = opt + (magic == 0x20B ? 108 : 92);
    put(count, 16, 4);
    put(count + 4 + 4 * 8, tableOffset, 4);
    put(count + 4 + 4 * 8 + 4, tableSize, 4);
    return f;
}

}  // namespace

TEST(PackSignature, SecurityEntryIsFoundForBothWidthsAndStrippedOnlyAtTheEnd) {
    struct Case {
        const char* name;
        uint16_t magic;
        uint32_t offset, size;
        size_t fileSize;
        bool found, strips;
    } cases[] = {
        {"PE32 signed", 0x10B, 0x400, 0x100, 0x500, true, true},
        {"PE32+ signed", 0x20B, 0x400, 0x100, 0x500, true, true},
        {"PE32+ unsigned", 0x20B, 0, 0, 0x500, false, false},
        {"table in the middle", 0x20B, 0x200, 0x100, 0x500, true, false},
        {"table past the end", 0x10B, 0x400, 0x200, 0x500, true, false},
        {"unknown magic", 0x107, 0x400, 0x100, 0x500, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> f = SkeletonPe(c.magic, c.offset, c.size, c.fileSize);
        const auto sig = pack::FindSignature(f);
        ASSERT_EQ(sig.has_value(), c.found);
        if (!sig) continue;
        EXPECT_EQ(sig->tableOffset, c.offset);
        EXPECT_EQ(sig->tableSize, c.size);
        std::string why;
        const std::vector<uint8_t> before = f;
        ASSERT_EQ(pack::StripSignature(f, *sig, why), c.strips) << why;
        if (!c.strips) {
            EXPECT_EQ(f, before) << "a refused strip leaves the file alone";
            EXPECT_NE(why.find("does not end the file"), std::string::npos) << why;
            continue;
        }
        EXPECT_EQ(f.size(), c.offset);
        EXPECT_FALSE(pack::FindSignature(f).has_value());
        EXPECT_EQ(f[0x80 + 24 + 64], 0x78) << "the checksum is signing's business";
    }
}

TEST(PackSignature, TruncatedHeadersAreNotReadPastTheEnd) {
    const std::vector<uint8_t> whole = SkeletonPe(0x20B, 0x400, 0x100, 0x500);
    for (size_t n : {size_t{0}, size_t{2}, size_t{0x3F}, size_t{0x84}, size_t{0x80 + 24 + 100}, size_t{0x80 + 24 + 140}}) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(pack::FindSignature(cut).has_value()) << n;
    }
    std::vector<uint8_t> far = whole;
    far[0x3C] = 0xF0;
    far[0x3D] = 0xFF;  // e_lfanew beyond the file
    EXPECT_FALSE(pack::FindSignature(far).has_value());
}

TEST(PackLayout, ProgramSlotsAreFoundByTheirMarkersAndSizeEntries) {
    const auto block = test::TemplateBlock();
    EXPECT_EQ(pack::LocateBlocks(block), (std::vector<pack::BlockLocation>{{0, 32}}));
    struct Case {
        const char* name;
        size_t offset;
        std::string bytes;
        bool found;
    };
    const Case cases[] = {
        {"an empty slot without its name", pkg::kProgramSlotStart + 32 * 3, "XXX", false},
        {"a filled slot (its size entry says so)", pkg::kProgramSizeValue[3], "0000000032", true},
        {"a size entry larger than the slot", pkg::kProgramSizeValue[3], "0000000033", false},
        {"a size key out of order", pkg::kProgramSizeStart + 23, "XP_X86_SIZE=", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto b = block;
        test::PutText(b, c.offset, c.bytes);
        EXPECT_EQ(pack::LocateBlocks(b).size(), c.found ? 1u : 0u);
    }
    // The program reads no further than its slot, whatever its size entry claims.
    auto b = block;
    test::PutText(b, pkg::kProgramSizeValue[3], "0000000100");
    const auto program = PackageView(b).Program(3);
    EXPECT_EQ(program.size(), 32u);
    EXPECT_EQ(program.data(), PackageView(b).Bytes().data() + pkg::kProgramSlotStart + 3 * 32);
}
