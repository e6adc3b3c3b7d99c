// Result registry keys, the result log and the version file over the simulated machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/SimMachine.h"
#include "support/ResultRecords.h"

using namespace kestrel;
using namespace kestrel::sim;

namespace {

// A registry that refuses to create the keys it is told to, and passes everything else on.
class RefusingRegistry : public IRegistry {
public:
    explicit RefusingRegistry(IRegistry& inner) : inner_(inner) {}
    std::set<std::string> refuse;
    uint32_t code = 5;

    uint32_t CreateKey(const std::string& path, uint32_t access, RegKey& key) override {
        if (refuse.count(path)) return code;
        return inner_.CreateKey(path, access, key);
    }
    uint32_t OpenKey(const std::string& path, uint32_t access, RegKey& key) override { return inner_.OpenKey(path, access, key); }
    uint32_t QueryValue(RegKey key, const std::string& name, size_t capacity, RegValue& value) override {
        return inner_.QueryValue(key, name, capacity, value);
    }
    uint32_t SetValue(RegKey key, const std::string& name, const RegValue& value) override {
        return inner_.SetValue(key, name, value);
    }
    uint32_t DeleteValue(RegKey key, const std::string& name) override { return inner_.DeleteValue(key, name); }
    void CloseKey(RegKey key) override { inner_.CloseKey(key); }

private:
    IRegistry& inner_;
};

struct RecordsFixture : ::testing::Test {
    SimRegistry reg{std::nullopt};
    std::vector<std::string> lines;
    LogSink log = [this](std::string_view t) { lines.emplace_back(t); };
};

RegValue Sz(const std::string& s) {
    RegValue v;
    v.type = REG_SZ_TYPE;
    v.data.assign(s.begin(), s.end());
    v.data.push_back(0);
    return v;
}

const std::string H = "SOFTWARE\\WOW6432Node\\Halvard\\";
const std::string C = "SOFTWARE\\WOW6432Node\\Halvard\\Corvane\\";
const std::string T = "SOFTWARE\\WOW6432Node\\Halvard\\Corvane\\TargetDevice\\";
const std::string N = "SOFTWARE\\WOW6432Node\\Halvard\\Corvane\\NoTargetDevice\\";

}  // namespace

TEST_F(RecordsFixture, ResultKeysStoreTrimmedRevisionWithItsZero) {
    struct Case {
        int32_t kind;
        std::string fw;
        std::string stored;
    };
    const Case cases[] = {
        {3, "  SVN139B ", "SVN139B"},
        {2, "1.2.3", "1.2.3"},
        {2, "", ""},  // the extended-revision comparison records an empty text
        {3, std::string("\tX1\r\n", 5), "X1"},
        {3, std::string("AB\0CD", 5), "AB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored + " kind " + std::to_string(c.kind));
        SimRegistry r(std::nullopt);
        lines.clear();
        WriteResultKeys(r, log, c.kind, c.fw);
        const auto v = r.Get(T, "FWVersion");
        ASSERT_TRUE(v.has_value());
        EXPECT_EQ(v->type, REG_SZ_TYPE);
        EXPECT_EQ(v->data, Sz(c.stored).data);
        EXPECT_TRUE(r.KeyExists(H));
        EXPECT_TRUE(r.KeyExists(C));
        EXPECT_FALSE(r.KeyExists(N));
        EXPECT_EQ(r.OpenHandles(), 0u);
        ASSERT_EQ(r.Requests().size(), 3u);
        EXPECT_EQ(r.Requests()[0], std::make_pair(H, 0x2001Fu));
        EXPECT_EQ(r.Requests()[1], std::make_pair(C, 0x2001Fu));
        EXPECT_EQ(r.Requests()[2], std::make_pair(T, 0x2001Fu));
    }
}

TEST_F(RecordsFixture, ResultKeysLogLines) {
    WriteResultKeys(reg, log, 3, " 0102 ");
    const std::vector<std::string> want = {
        "sRegKey: " + H,
        H + "  RegCreateKeyEx Success",
        "RegCreateKeyEx Result: 0",
        C + "  RegCreateKeyEx Success",
        "RegCreateKeyEx Result: 0",
        "RegCreateKeyEx Result: 0",
        T + "  RegCreateKeyEx Success",
        "RegSetValueEx Result: 0",
        T,
    };
    EXPECT_EQ(lines, want);
}

TEST_F(RecordsFixture, RefusedKeysAreLoggedAndNothingIsSet) {
    RefusingRegistry r(reg);
    r.refuse = {C, T};
    WriteResultKeys(r, log, 2, "X");
    const std::vector<std::string> want = {
        "sRegKey: " + H,
        H + "  RegCreateKeyEx Success",
        "RegCreateKeyEx Result: 0",
        C + "  RegCreateKeyEx Fail",
        "RegCreateKeyEx Result: 5",
        "RegCreateKeyEx Result: 5",
        T + "  RegCreateKeyEx Fail",
        "RegSetValueEx Result: 6",
        T,
    };
    EXPECT_EQ(lines, want);
    EXPECT_FALSE(reg.KeyExists(T));
    EXPECT_EQ(reg.OpenHandles(), 0u);
}

TEST_F(RecordsFixture, KindOneCreatesNoTargetKey) {
    WriteResultKeys(reg, log, 1, "ignored");
    EXPECT_TRUE(reg.KeyExists(N));
    EXPECT_FALSE(reg.KeyExists(T));
    EXPECT_EQ(lines.back(), N);
    EXPECT_EQ(reg.OpenHandles(), 0u);
}

TEST_F(RecordsFixture, NoTargetKeysAndTheirLines) {
    // An earlier run's TargetDevice key stays: keys are only ever created.
    reg.Put(T, "FWVersion", Sz("OLD"));
    WriteNoTargetKeys(reg, log);
    EXPECT_TRUE(reg.KeyExists(N));
    EXPECT_TRUE(reg.Get(T, "FWVersion").has_value());
    EXPECT_FALSE(reg.Get(N, "FWVersion").has_value());
    const std::vector<std::string> want = {
        H + "  RegCreateKeyEx Success (no matched device)",
        "RegCreateKeyEx Result: 0",
        C + "  RegCreateKeyEx Success",
        "RegCreateKeyEx Result: 0",
        N + "  RegCreateKeyEx Success",
        "RegCreateKeyEx Result: 0",
        N,
    };
    EXPECT_EQ(lines, want);
    for (const auto& [path, access] : std::vector(reg.Requests().begin() + 1, reg.Requests().end())) EXPECT_EQ(access, 0x2001Fu) << path;
    EXPECT_EQ(reg.OpenHandles(), 0u);
}

TEST_F(RecordsFixture, NoTargetKeysWhenRegistryRefuses) {
    RefusingRegistry r(reg);
    r.refuse = {H};
    WriteNoTargetKeys(r, log);
    EXPECT_EQ(lines[0], H + "  RegCreateKeyEx Fail (no matched device)");
    EXPECT_EQ(lines[1], "RegCreateKeyEx Result: 5");
}

namespace {

struct MachineFixture : ::testing::Test {
    std::unique_ptr<SimMachine> m;
    void Make(const std::function<void(nlohmann::json&)>& edit = {}) {
        nlohmann::json d = SimMachine::ParseDescription(DefaultMachineJson());
        if (edit) edit(d);
        m = std::make_unique<SimMachine>(d, SimOptions{});
    }
    void SetUp() override { Make(); }
};

// The version the build stamps into the resource (the project's version).
std::string ProjectVersion() {
    std::ifstream in(std::filesystem::path(KESTREL_TEST_FIXTURES).parent_path().parent_path() / "CMakeLists.txt");
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    const std::string key = "project(Kestrel VERSION ";
    const size_t at = text.find(key);
    if (at == std::string::npos) return "?";
    const size_t from = at + key.size();
    return text.substr(from, text.find_first_not_of("0123456789.", from) - from);
}

}  // namespace

TEST_F(MachineFixture, ResultLogReplacesOrAppends) {
    IFiles& f = *m->platform().files;
    const std::string path = "C:\\Kestrel\\FwUpdate_K7.log";
    EXPECT_EQ(DefaultResultLogPath(f, "K7"), "C:\\Kestrel\\\\FwUpdate_K7.log");
    WriteResultLog(f, "K7", "old", false, "");
    WriteResultLog(f, "K7", " ", true, "  ");
    EXPECT_EQ(f.ReadWholeFile(path), std::optional<std::string>(" \r\n"));
    WriteResultLog(f, "K7", "two", false, "");
    EXPECT_EQ(f.ReadWholeFile(path), std::optional<std::string>(" \r\ntwo\r\n"));
    WriteResultLog(f, "K7", "elsewhere", true, "C:\\Users\\r.log");
    EXPECT_EQ(f.ReadWholeFile("C:\\Users\\r.log"), std::optional<std::string>("elsewhere\r\n"));
    m->files().SetWriteProtected(path);
    WriteResultLog(f, "K7", "dropped", true, "");
    EXPECT_EQ(f.ReadWholeFile(path), std::optional<std::string>(" \r\ntwo\r\n"));
}

TEST_F(MachineFixture, VersionIniBesideExecutable) {
    EXPECT_EQ(VersionIniPath(*m->platform().files), "C:\\Kestrel\\kestrel.INI");
    m->files().WriteWholeFile("C:\\Kestrel\\kestrel.INI", "stale contents that are longer than the new ones\r\n");
    SaveVersionIni(*m->platform().files, *m->platform().system, "SVN139A", "N/A");
    EXPECT_EQ(m->files().ReadWholeFile("C:\\Kestrel\\kestrel.INI"),
              std::optional<std::string>("EXE_VERSION = " + ProjectVersion() + "\r\nCURRENT_FW = SVN139A\r\nTARGET_FW = N/A\r\n"));
}

TEST_F(MachineFixture, VersionIniNamesAndVersions) {
    struct Case {
        std::string module;
        nlohmann::json version;
        std::string ini;
        std::string firstLine;
    };
    const Case cases[] = {
        {"D:\\Tools\\FwUpd_K7.exe", "3.14.0.159", "D:\\Tools\\FwUpd_K7.INI", "EXE_VERSION = 3.14.0.159\r\n"},
        {"C:\\x.exe", "0.0.0.0", "C:\\x.INI", "EXE_VERSION = 0.0.0.0\r\n"},
        // No readable version resource: the key stays, its value is empty.
        {"C:\\Kestrel\\kestrel.exe", nullptr, "C:\\Kestrel\\kestrel.INI", "EXE_VERSION = \r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.module);
        Make([&](nlohmann::json& d) {
            d["windows"]["directories"]["module"] = c.module;
            d["windows"]["file_version"] = c.version;
        });
        SaveVersionIni(*m->platform().files, *m->platform().system, "A", "B");
        const auto ini = m->files().ReadWholeFile(c.ini);
        ASSERT_TRUE(ini.has_value());
        EXPECT_EQ(*ini, c.firstLine + "CURRENT_FW = A\r\nTARGET_FW = B\r\n");
    }
}

TEST_F(MachineFixture, VersionIniWriteFailureIsIgnored) {
    m->files().SetWriteProtected("C:\\Kestrel\\kestrel.INI");
    SaveVersionIni(*m->platform().files, *m->platform().system, "A", "B");
    EXPECT_FALSE(m->files().FileExists("C:\\Kestrel\\kestrel.INI"));
}
