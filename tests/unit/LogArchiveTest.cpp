// The password-protected log archive: where it goes, what it holds, and three independent readers
// (Python's zipfile, Info-ZIP unzip, 7-Zip) opening what the program wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "app/Entry.h"
#include "app/KestrelMain.h"
#include "sim/SimMachine.h"
#include "support/SimFixture.h"
#include "support/ZipReader.h"
#include "support/DebugLog.h"
#include "support/ResultRecords.h"
#include "support/ZipArchive.h"

using namespace kestrel;
using namespace kestrel::sim;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int code = -1;
    std::string out;
};

// Runs a shell command; its stdout, its exit status.
ToolRun RunTool(const std::string& cmd) {
    ToolRun r;
    FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!p) return r;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

bool HaveTool(const std::string& name) { return RunTool("command -v " + name).code == 0; }

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

// Each reader: the command that writes the entry's bytes to stdout with the given password.
struct Reader {
    const char* name;
    const char* tool;
    std::string (*command)(const fs::path& zip, const std::string& password);
};

const Reader kReaders[] = {
    {"python zipfile", "python3",
     [](const fs::path& zip, const std::string& pw) {
         return "python3 -c \"import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); i=z.infolist(); "
                "assert [e.filename for e in i]==['KestrelLog.txt'] and i[0].flag_bits&1 and i[0].compress_type==8 and i[0].extra==b''; "
                "sys.stdout.buffer.write(z.read('KestrelLog.txt', pwd=sys.argv[2].encode()))\" " +
                Quote(zip) + " '" + pw + "'";
     }},
    {"unzip", "unzip", [](const fs::path& zip, const std::string& pw) { return "unzip -p -P '" + pw + "' " + Quote(zip) + " KestrelLog.txt"; }},
    {"7-Zip", "7z", [](const fs::path& zip, const std::string& pw) { return "7z e -so -p'" + pw + "' " + Quote(zip) + " KestrelLog.txt"; }},
};

std::string RandomText(size_t bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(bytes);
    while (s.size() < bytes) {
        const char c = static_cast<char>(' ' + rng() % 95);
        s += (rng() % 70 == 0) ? '\n' : c;
    }
    return s;
}

struct ArchiveFixture : ::testing::Test {
    fs::path state;
    std::unique_ptr<SimMachine> m;
    std::string temp, logFile, zipPath;

    void SetUp() override {
        state = fs::temp_directory_path() / ("kestrel-archive-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(state);
        SimOptions o;
        o.stateDir = state;
        m = std::make_unique<SimMachine>(SimMachine::ParseDescription(DefaultMachineJson()), o);
        temp = m->files().GetTempPath();
        logFile = temp + kDebugLogName;
        zipPath = LogArchivePath(logFile);
    }
    void TearDown() override {
        m.reset();
        fs::remove_all(state);
    }
    fs::path HostZip() const { return *m->files().HostPath(zipPath); }
    ArchiveResult Archive() { return ArchiveLog(m->files(), m->clock(), logFile); }
};

}  // namespace

TEST(LogArchivePath, BeforeFirstTempOrDriveRoot) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\Users\\u\\AppData\\Local\\Temp\\KestrelLog.txt", "C:\\Users\\u\\AppData\\Local\\\\KestrelLog.zip"},
        // Wine 8's temporary directory for the prefix's user.
        {"C:\\users\\root\\Temp\\KestrelLog.txt", "C:\\users\\root\\\\KestrelLog.zip"},
        {"D:\\Logs\\KestrelLog.txt", "\\KestrelLog.zip"},
        // The comparison is case-sensitive: the system account's C:\WINDOWS\TEMP\ has no "Temp".
        {"C:\\WINDOWS\\TEMP\\KestrelLog.txt", "\\KestrelLog.zip"},
        {"C:\\Temp\\KestrelLog.txt", "C:\\\\KestrelLog.zip"},
        {"Temp\\KestrelLog.txt", "\\KestrelLog.zip"},
    };
    for (const auto& [log, zip] : cases) EXPECT_EQ(LogArchivePath(log), zip) << log;
}

TEST_F(ArchiveFixture, ReadersOpenArchiveAndRefuseWrongPassword) {
    const std::pair<const char*, std::string> logs[] = {
        {"empty", ""},
        {"few lines", "[12/10/2026 9:30:00 AM] : GetModelName : gModelName=[K7] \n[12/10/2026 9:30:00 AM] : Init Vars done, OS: A00h\n"},
        {"4 MiB random", RandomText(4u << 20, 7)},
    };
    for (const Reader& r : kReaders)
        if (!HaveTool(r.tool)) GTEST_SKIP() << r.tool << " is not installed (./dev test installs it)";

    for (const auto& [what, text] : logs) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(m->files().WriteWholeFile(logFile, text));
        ASSERT_EQ(Archive(), ArchiveResult::kArchived);
        EXPECT_FALSE(m->files().FileExists(logFile));
        for (const Reader& r : kReaders) {
            SCOPED_TRACE(r.name);
            const ToolRun good = RunTool(r.command(HostZip(), kLogArchivePassword));
            EXPECT_EQ(good.code, 0);
            EXPECT_TRUE(good.out == text) << "read back " << good.out.size() << " of " << text.size() << " bytes";
            const ToolRun bad = RunTool(r.command(HostZip(), "MOSSGATF"));
            EXPECT_NE(bad.code, 0);
            if (!text.empty()) {
                EXPECT_NE(bad.out, text);
            }
        }
    }
}

TEST_F(ArchiveFixture, SevenZipSeesTraditionalEncryption) {
    if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
    m->files().WriteWholeFile(logFile, "one line\n");
    ASSERT_EQ(Archive(), ArchiveResult::kArchived);
    const ToolRun list = RunTool("7z l -slt -pMOSSGATE " + Quote(HostZip()));
    EXPECT_NE(list.out.find("Method = ZipCrypto Deflate"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("Encrypted = +"), std::string::npos);
    EXPECT_NE(list.out.find("Modified = 2026-12-10 09:30:00"), std::string::npos);
}

TEST_F(ArchiveFixture, ArchiveIsPlacedBesideTheTemporaryFolder) {
    m->files().WriteWholeFile(logFile, "x\n");
    ASSERT_EQ(Archive(), ArchiveResult::kArchived);
    EXPECT_TRUE(fs::exists(state / "files/C/Users/Operator/AppData/Local/KestrelLog.zip"));
    EXPECT_FALSE(fs::exists(state / "files/C/Users/Operator/AppData/Local/Temp/KestrelLog.txt"));
}

TEST_F(ArchiveFixture, ExistingArchiveIsReplacedWithCurrentLogOnly) {
    // A run killed before its end left its later lines in the text log; the next start packs them
    // with its own first lines, and the old archive's entry does not survive.
    const std::string leftover = "killed run line\n";
    m->files().WriteWholeFile(logFile, leftover);
    ASSERT_EQ(Archive(), ArchiveResult::kArchived);
    const std::string now = leftover + "new run line\n";
    m->files().WriteWholeFile(logFile, now);
    ASSERT_EQ(Archive(), ArchiveResult::kArchived);
    if (!HaveTool("python3")) GTEST_SKIP();
    const ToolRun r = RunTool(kReaders[0].command(HostZip(), kLogArchivePassword));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, now);
}

TEST_F(ArchiveFixture, LogIsKeptWhenArchiveCannotBeWritten) {
    const std::string text = "the only copy\n";
    m->files().WriteWholeFile(logFile, text);
    m->files().SetWriteProtected(zipPath);
    EXPECT_EQ(Archive(), ArchiveResult::kArchiveFailed);
    EXPECT_EQ(m->files().ReadWholeFile(logFile), std::optional<std::string>(text));
    EXPECT_FALSE(m->files().FileExists(zipPath));
    // The next step, with the archive writable again, packs everything.
    m->files().AppendToFile(logFile, "later\n");
    SimOptions o;
    o.stateDir = state;
    m = std::make_unique<SimMachine>(SimMachine::ParseDescription(DefaultMachineJson()), o);
    EXPECT_EQ(Archive(), ArchiveResult::kArchived);
    EXPECT_FALSE(m->files().FileExists(logFile));
}

TEST_F(ArchiveFixture, MissingLogLeavesNoArchive) {
    m->files().WriteWholeFile(zipPath, "an earlier archive");
    EXPECT_EQ(Archive(), ArchiveResult::kNoLog);
    EXPECT_FALSE(m->files().FileExists(zipPath));
}

TEST(LogArchive, TemporaryFolderWithoutTempGoesToCurrentDriveRoot) {
    nlohmann::json d = SimMachine::ParseDescription(DefaultMachineJson());
    d["windows"]["directories"]["temp"] = "D:\\Scratch\\";
    d["windows"]["directories"]["current"] = "E:\\Work";
    SimMachine m(d, SimOptions{});
    const std::string log = "D:\\Scratch\\KestrelLog.txt";
    m.files().WriteWholeFile(log, "line\n");
    EXPECT_EQ(ArchiveLog(m.files(), m.clock(), log), ArchiveResult::kArchived);
    EXPECT_TRUE(m.files().FileExists("E:\\KestrelLog.zip"));
    EXPECT_FALSE(m.files().FileExists(log));
}

// The traditional encryption against a known answer: a fixed 12-byte encryption header and a log
// line under the archive password. The cipher text was computed once with Python's zipfile reader
// (its decrypter, byte by byte), independently of this program.
TEST(ZipArchive, CipherKnownAnswerAndRefusedSizes) {
    std::vector<uint8_t> plain = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0x5D};
    const std::string line = "[12/10/2026 9:30:00 AM] : Kestrel (v0.0.0.0)\r\n";
    plain.insert(plain.end(), line.begin(), line.end());
    const char* hex =
        "edffe840de46448d81359938fc12e4af09061fd7f1077ccc5e4aa822a4104cb2657e645403503853d56fbbd431874c73005c3885bb5f3b7d9ec6";
    std::vector<uint8_t> cipher;
    for (const char* h = hex; h[0] && h[1]; h += 2) cipher.push_back(static_cast<uint8_t>(std::stoi(std::string(h, 2), nullptr, 16)));
    ASSERT_EQ(cipher.size(), plain.size());
    PkwareCipher enc(kLogArchivePassword), dec(kLogArchivePassword);
    std::vector<uint8_t> encrypted, decrypted;
    for (uint8_t b : plain) encrypted.push_back(enc.Encrypt(b));
    for (uint8_t b : cipher) decrypted.push_back(dec.Decrypt(b));
    EXPECT_EQ(encrypted, cipher);
    EXPECT_EQ(decrypted, plain);

    ZipEntrySpec e;
    e.name = "";
    e.data = "x";
    EXPECT_FALSE(BuildZipArchive(e).has_value());
}

TEST(ZipArchive, DosStamp) {
    LocalTime t;
    t.year = 2026, t.month = 12, t.day = 10, t.hour = 9, t.minute = 30, t.second = 59;
    const DosStamp s = ToDosStamp(t);
    EXPECT_EQ(s.date, ((2026 - 1980) << 9) | (12 << 5) | 10);
    EXPECT_EQ(s.time, (9 << 11) | (30 << 5) | 29);
    t.year = 1970;
    EXPECT_EQ(ToDosStamp(t).date, (1 << 5) | 1);
    EXPECT_EQ(ToDosStamp(t).time, 0);
}

TEST(LogArchive, RunLeavesArchiveFromStartupStepToExitCode) {
    auto m = test::MakeMachine();
    const std::string log = "C:\\Users\\Operator\\AppData\\Local\\Temp\\KestrelLog.txt";
    // What a killed run left: packed by the start-up, replaced at the exit.
    m->files().WriteWholeFile(log, "[12/9/2026 8:00:00 AM] : killed run\n");
    const auto block = test::TemplateBlock(0x391A);
    EXPECT_EQ(RunKestrel(m->platform(), PackageView(block), {"/S"}), 4);
    EXPECT_FALSE(m->files().FileExists(log));
    const auto zip = m->files().ReadWholeFile("C:\\Users\\Operator\\AppData\\Local\\KestrelLog.zip");
    ASSERT_TRUE(zip.has_value());
    const test::ZipRead r = test::ReadOneEntryZip(*zip, kLogArchivePassword);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.name, "KestrelLog.txt");
    EXPECT_EQ(r.data,
              "[12/10/2026 9:30:00 AM] : Check usage ...\r\n"
              "[12/10/2026 9:30:00 AM] : Kestrel (v0.0.0.0)\r\n"
              "[12/10/2026 9:30:00 AM] : EXIT_ERROR: 0x4\r\n\r\n");
    EXPECT_EQ(test::ReadOneEntryZip(*zip, "mossgate").error, "wrong password");
}

TEST(LogArchive, StartupStepPacksLeftoverAndFirstLines) {
    auto m = test::MakeMachine();
    const std::string log = "C:\\Users\\Operator\\AppData\\Local\\Temp\\KestrelLog.txt";
    m->files().WriteWholeFile(log, "[12/9/2026 8:00:00 AM] : killed run\n");
    const auto block = test::TemplateBlock(0x391A);
    TKestrelMain main(m->platform(), PackageView(block), {"/S"});
    main.StartUp();
    const test::ZipRead r =
        test::ReadOneEntryZip(m->files().ReadWholeFile("C:\\Users\\Operator\\AppData\\Local\\KestrelLog.zip").value_or(""), "MOSSGATE");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.data,
              "[12/9/2026 8:00:00 AM] : killed run\n"
              "[12/10/2026 9:30:00 AM] : GetModelName : gModelName=[Unknown] \r\n"
              "[12/10/2026 9:30:00 AM] : Init Vars done, OS: 14010000h\r\n");
    EXPECT_EQ(m->files().ReadWholeFile(log), std::optional<std::string>("[12/10/2026 9:30:00 AM] : Check usage ...\r\n"));
}

TEST(LogArchive, RunWithUnwritableArchiveKeepsWholeLog) {
    auto m = test::MakeMachine();
    m->files().SetWriteProtected("C:\\Users\\Operator\\AppData\\Local\\\\KestrelLog.zip");
    const auto block = test::TemplateBlock(0x391A);
    EXPECT_EQ(RunKestrel(m->platform(), PackageView(block), {"/S"}), 4);
    const std::string text = m->files().ReadWholeFile("C:\\Users\\Operator\\AppData\\Local\\Temp\\KestrelLog.txt").value_or("");
    EXPECT_NE(text.find("GetModelName : gModelName=[Unknown] \r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("EXIT_ERROR: 0x4\r\n"), std::string::npos) << text;
}
