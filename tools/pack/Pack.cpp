#include "tools/pack/Pack.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "package/AesCipher.h"
#include "package/RevisionRules.h"
#include "support/Format.h"
#include "tools/pack/Sha256.h"

namespace kestrel::pack {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kBannerHead = "[Programmed by ";
constexpr const char* kTemplateBanner = "[Programmed by ----]";  // what the template block holds
constexpr size_t kImageAlignment = 512;

constexpr OptionSpec kOptions[] = {
    {"bUseFWExt", 2, true},      {"bReBoot", 4, true},         {"bAutoMode", 5, true},   {"bShutdownAfter", 6, true},
    {"iNoticeStyle", 7, false},  {"bHiddenDrives", 10, true},  {"bRebootAfter", 12, true}, {"bNFlashAuto", 15, true},
    {"bBootcode", 19, true},     {"bDeployMode", 20, true},    {"bPreformat", 22, true}, {"bBeforePreformat", 23, true},
    {"bFOld", 24, true},         {"bUnattended", 25, true},    {"iCloseMsgSeconds", 26, false}, {"bWindowsFlash", 27, true},
};

// A text key of the manifest and the width of its NUL-terminated field.
struct TextKey {
    const char* name;
    std::string Manifest::*member;
    size_t maxChars;
};
const TextKey kTextKeys[] = {
    {"builder", &Manifest::builder, 21 - 15 - 2},  // "[Programmed by " + name + "]" + NUL in 21 bytes
    {"version", &Manifest::version, 12},
    {"phone", &Manifest::phone, 14},
    {"title", &Manifest::title, 63},
    {"build_date", &Manifest::build_date, 11},
    {"model", &Manifest::model, 64},
};
const char* kHeaderKeys[] = {"iVisualStyle", "iLanguage", "iFlashMode"};

class Errors {
public:
    explicit Errors(std::vector<std::string>& out) : out_(out) {}
    void Add(const std::string& field, const std::string& why) { out_.push_back(field + ": " + why); }
    bool Any() const { return !out_.empty(); }

private:
    std::vector<std::string>& out_;
};

void UnknownKeys(const json& obj, std::initializer_list<const char*> known, const std::string& prefix, Errors& e) {
    for (auto it = obj.begin(); it != obj.end(); ++it) {
        if (std::none_of(known.begin(), known.end(), [&](const char* k) { return it.key() == k; }))
            e.Add(prefix + it.key(), "unknown key");
    }
}

// A text value: a JSON string of 8-bit characters within width.
bool Text(const json& obj, const char* key, const std::string& field, size_t maxChars, bool required, std::string& out, Errors& e) {
    const auto it = obj.find(key);
    if (it == obj.end()) {
        if (required) e.Add(field, "missing");
        return !required;
    }
    if (!it->is_string()) {
        e.Add(field, "must be a string");
        return false;
    }
    if (!Utf8ToBytes(it->get_ref<const std::string&>(), out)) {
        e.Add(field, "holds a character that is not 8-bit ASCII (printable, one byte)");
        return false;
    }
    if (out.size() > maxChars) {
        e.Add(field, Fmt("%zu characters, longer than its field (at most %zu)", out.size(), maxChars));
        return false;
    }
    return true;
}

std::optional<std::vector<uint8_t>> ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    if (!f) return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (f.bad()) return std::nullopt;
    return bytes;
}

std::optional<std::vector<uint8_t>> ReadSmallFile(const fs::path& p, size_t limit, uint64_t& size) {
    std::error_code ec;
    size = fs::file_size(p, ec);
    if (ec || !fs::is_regular_file(p, ec)) return std::nullopt;
    if (size > limit) return std::vector<uint8_t>{};
    return ReadFile(p);
}

void Put(std::span<uint8_t> block, size_t offset, size_t width, std::string_view bytes, char pad = '\0') {
    // Validation has bounded every value; a value past its width is cut, never written over the next field.
    const size_t n = std::min(width, bytes.size());
    std::memcpy(block.data() + offset, bytes.data(), n);
    std::memset(block.data() + offset + n, static_cast<unsigned char>(pad), width - n);
}

void PutNumber(std::span<uint8_t> block, size_t offset, uint64_t v) {
    const std::string digits = Fmt("%010llu", static_cast<unsigned long long>(v % 10000000000ull));
    Put(block, offset, 11, digits);
}

}  // namespace

std::span<const OptionSpec> Options() { return kOptions; }

std::string BytesToUtf8(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool Utf8ToBytes(std::string_view s, std::string& out) {
    out.clear();
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        if (c < 0x80) {
            cp = c;
            i += 1;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            i += 2;
        } else {
            return false;  // three- and four-byte characters are beyond one byte anyway
        }
        const bool printable = (cp >= 0x20 && cp <= 0x7E) || (cp >= 0xA0 && cp <= 0xFF);
        if (!printable) return false;
        out += static_cast<char>(cp);
    }
    return true;
}

size_t StoredSize(size_t plainSize, bool enciphered) {
    return enciphered ? (plainSize + kImageAlignment - 1) / kImageAlignment * kImageAlignment : plainSize;
}

std::optional<std::vector<size_t>> LayoutImages(const std::vector<size_t>& sizes, size_t regionSize) {
    std::vector<size_t> offsets;
    size_t at = 0;
    for (size_t s : sizes) {
        at = (at + kImageAlignment - 1) / kImageAlignment * kImageAlignment;
        if (at > regionSize || s > regionSize - at) return std::nullopt;
        offsets.push_back(at);
        at += s;
    }
    return offsets;
}

std::optional<Manifest> ReadManifest(const json& doc, const fs::path& base, std::vector<std::string>& errors, size_t slotSize) {
    Errors e(errors);
    if (!doc.is_object()) {
        e.Add("manifest", "must be a JSON object");
        return std::nullopt;
    }
    Manifest m;
    UnknownKeys(doc, {"builder", "version", "phone", "title", "build_date", "model", "iVisualStyle", "iLanguage", "iFlashMode",
                      "options", "images", "programs"},
                "", e);
    for (const TextKey& k : kTextKeys) Text(doc, k.name, k.name, k.maxChars, false, m.*(k.member), e);

    int* header[] = {&m.iVisualStyle, &m.iLanguage, &m.iFlashMode};
    for (size_t i = 0; i < 3; ++i) {
        const auto it = doc.find(kHeaderKeys[i]);
        if (it == doc.end()) continue;
        if (!it->is_number_integer() || it->get<int64_t>() < -128 || it->get<int64_t>() > 127)
            e.Add(kHeaderKeys[i], "must be an integer from -128 to 127 (one signed byte)");
        else
            *header[i] = static_cast<int>(it->get<int64_t>());
    }

    std::memset(m.digits, '0', sizeof m.digits);
    if (const auto it = doc.find("options"); it != doc.end()) {
        if (!it->is_object()) {
            e.Add("options", "must be an object");
        } else {
            for (auto o = it->begin(); o != it->end(); ++o) {
                const std::string field = "options." + o.key();
                const auto spec = std::find_if(std::begin(kOptions), std::end(kOptions), [&](const OptionSpec& s) { return o.key() == s.name; });
                if (spec == std::end(kOptions)) {
                    e.Add(field, "unknown key");
                } else if (spec->isFlag) {
                    if (!o->is_boolean()) e.Add(field, "must be true or false");
                    else m.digits[spec->position - 2] = o->get<bool>() ? '1' : '0';
                } else {
                    if (!o->is_number_integer() || o->get<int64_t>() < 0 || o->get<int64_t>() > 9)
                        e.Add(field, "must be an integer from 0 to 9 (one option digit)");
                    else
                        m.digits[spec->position - 2] = static_cast<char>('0' + o->get<int64_t>());
                }
            }
        }
    }
    // Left out, the flag would read "0": the boot-time road, the more invasive one. It is never
    // taken by default.
    if (const auto it = doc.find("options"); it == doc.end() || !it->is_object() || !it->contains("bWindowsFlash"))
        e.Add("options.bWindowsFlash",
              "missing: say true (flash from Windows now) or false (images stored enciphered, flashed at the next boot)");
    const bool enciphered = !m.windowsFlash();
    const bool useFwExt = m.digits[2 - 2] != '0';

    if (const auto it = doc.find("images"); it != doc.end()) {
        if (!it->is_array()) {
            e.Add("images", "must be an array");
        } else if (it->size() > kImageSlots) {
            e.Add("images", Fmt("%zu images, more than the %zu the package holds", it->size(), kImageSlots));
        } else {
            for (size_t i = 0; i < it->size(); ++i) {
                const json& jm = (*it)[i];
                const std::string f = Fmt("images[%zu]", i);
                if (!jm.is_object()) {
                    e.Add(f, "must be an object");
                    continue;
                }
                UnknownKeys(jm, {"file", "NEW_FW", "FW_EXT", "constraints"}, f + ".", e);
                Image img;
                // The program reads both revisions trimmed of blanks: one of blanks only is none.
                if (Text(jm, "NEW_FW", f + ".NEW_FW", 8, true, img.NEW_FW, e) && TrimText(img.NEW_FW).empty())
                    e.Add(f + ".NEW_FW", "holds no revision (empty or blanks only): the program reads the target revision from it");
                if (Text(jm, "FW_EXT", f + ".FW_EXT", 8, false, img.FW_EXT, e) && useFwExt && TrimText(img.FW_EXT).empty())
                    e.Add(f + ".FW_EXT",
                          "holds no revision (missing, empty or blanks only) while options.bUseFWExt is true: every drive "
                          "would read as up to date");
                if (!jm.contains("file")) {
                    e.Add(f + ".file", "missing");
                } else if (!jm["file"].is_string()) {
                    e.Add(f + ".file", "must be a string (a file name)");
                } else {
                    img.file = jm["file"].get<std::string>();
                    const fs::path p = base / fs::path(img.file);
                    uint64_t size = 0;
                    auto bytes = ReadSmallFile(p, kImageBufferSize, size);
                    if (!bytes) e.Add(f + ".file", Fmt("cannot read '%s'", p.string().c_str()));
                    else if (size > kImageBufferSize)
                        e.Add(f + ".file", Fmt("'%s' is %llu bytes, larger than the %zu-byte image buffer", p.string().c_str(),
                                               static_cast<unsigned long long>(size), kImageBufferSize));
                    else if (bytes->empty()) e.Add(f + ".file", Fmt("'%s' is empty", p.string().c_str()));
                    else img.bytes = std::move(*bytes);
                }
                if (const auto c = jm.find("constraints"); c != jm.end()) {
                    if (!c->is_array()) {
                        e.Add(f + ".constraints", "must be an array");
                    } else if (c->size() > kRecordsPerImage) {
                        e.Add(f + ".constraints", Fmt("%zu records, more than the %zu an image has", c->size(), kRecordsPerImage));
                    } else {
                        for (size_t j = 0; j < c->size(); ++j) {
                            const json& jc = (*c)[j];
                            const std::string cf = Fmt("%s.constraints[%zu]", f.c_str(), j);
                            if (!jc.is_object()) {
                                e.Add(cf, "must be an object");
                                continue;
                            }
                            UnknownKeys(jc, {"CMODEL", "START", "END"}, cf + ".", e);
                            Constraint r;
                            Text(jc, "CMODEL", cf + ".CMODEL", 40, false, r.CMODEL, e);
                            Text(jc, "START", cf + ".START", 8, false, r.START, e);
                            Text(jc, "END", cf + ".END", 8, false, r.END, e);
                            img.constraints.push_back(r);
                        }
                    }
                }
                m.images.push_back(std::move(img));
            }
            std::vector<size_t> sizes;
            for (const Image& img : m.images) sizes.push_back(StoredSize(img.bytes.size(), enciphered));
            if (!LayoutImages(sizes, kImageRegionSize)) {
                size_t total = 0;
                for (size_t s : sizes) total += s;
                e.Add("images", Fmt("%zu bytes in all do not fit the %zu-byte image region", total, kImageRegionSize));
            }
        }
    }

    m.programs.assign(kProgramSlots, {});
    if (const auto it = doc.find("programs"); it != doc.end()) {
        if (!it->is_object()) {
            e.Add("programs", "must be an object");
        } else {
            for (auto p = it->begin(); p != it->end(); ++p) {
                const std::string field = "programs." + p.key();
                size_t slot = kProgramSlots;
                for (size_t n = 0; n < kProgramSlots; ++n)
                    if (p.key() == pkg::kProgramSlotNames[n]) slot = n;
                if (slot == kProgramSlots) {
                    e.Add(field, "unknown key");
                    continue;
                }
                if (!p->is_string()) {
                    e.Add(field, "must be a string (a file name)");
                    continue;
                }
                const fs::path path = base / fs::path(p->get<std::string>());
                uint64_t size = 0;
                auto bytes = ReadSmallFile(path, slotSize, size);
                if (!bytes) e.Add(field, Fmt("cannot read '%s'", path.string().c_str()));
                else if (size > slotSize)
                    e.Add(field, Fmt("'%s' is %llu bytes, larger than its %zu-byte slot", path.string().c_str(),
                                     static_cast<unsigned long long>(size), slotSize));
                else if (bytes->empty()) e.Add(field, Fmt("'%s' is empty", path.string().c_str()));
                else m.programs[slot] = std::move(*bytes);
            }
        }
    }
    if (e.Any()) return std::nullopt;
    return m;
}

std::optional<Manifest> LoadManifest(const fs::path& path, std::vector<std::string>& errors, size_t slotSize) {
    const auto bytes = ReadFile(path);
    if (!bytes) {
        errors.push_back(Fmt("manifest: cannot read '%s'", path.string().c_str()));
        return std::nullopt;
    }
    json doc;
    try {
        doc = json::parse(bytes->begin(), bytes->end());
    } catch (const json::exception& ex) {
        errors.push_back(Fmt("manifest: not valid JSON (%s)", ex.what()));
        return std::nullopt;
    }
    return ReadManifest(doc, path.parent_path(), errors, slotSize);
}

namespace {

// The slot size of the block at start, from its program slots and size entries; 0 when they are
// not there. The size entries follow the last slot, so the first place after the slots where all
// fourteen keys stand in their order fixes the slot size; every slot must then agree with it.
size_t ProgramSlotSizeAt(std::string_view all, size_t start) {
    const std::string_view first = pkg::kProgramSizeKeys[0];
    const size_t slotsAt = start + pkg::kProgramSlotStart;
    for (size_t pos = all.find(first, slotsAt + kProgramSlots * pkg::kDefaultProgramSlotSize); pos != std::string_view::npos;
         pos = all.find(first, pos + 1)) {
        if ((pos - slotsAt) % kProgramSlots != 0) continue;
        const size_t slotSize = (pos - slotsAt) / kProgramSlots;
        if (start + pkg::BlockSize(slotSize) > all.size()) return 0;
        const bool keys = [&] {
            for (size_t n = 0; n < kProgramSlots; ++n) {
                const std::string_view key = pkg::kProgramSizeKeys[n];
                if (all.compare(start + pkg::ProgramSizeValue(n, slotSize) - key.size(), key.size(), key) != 0) return false;
            }
            return true;
        }();
        if (!keys) continue;
        const PackageView v(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(all.data()) + start, pkg::BlockSize(slotSize)),
                            slotSize);
        for (size_t n = 0; n < kProgramSlots; ++n) {
            const uint64_t size = v.ProgramSize(n);
            const std::string_view name = pkg::kProgramSlotNames[n];
            if (size > slotSize) return 0;
            if (size == 0 && all.compare(start + pkg::ProgramSlotOffset(n, slotSize), name.size(), name) != 0) return 0;
        }
        return slotSize;
    }
    return 0;
}

}  // namespace

std::vector<BlockLocation> LocateBlocks(std::span<const uint8_t> file) {
    struct Marker {
        size_t offset;
        std::string_view text;
    };
    // Markers that a filled block keeps, before the program slots (whose size varies by template).
    static const Marker kMarkers[] = {{pkg::kParaOpt, "PARA_OPT="},   {pkg::kBinStart, "BIN_START1="},
                                      {pkg::kBinSize, "BIN_SIZE1"},   {pkg::kNewFw, "NEW_FW1="},
                                      {pkg::kFwExt, "FW_EXT1="},      {pkg::kAesBuf, "AES_BUF_HERE"}};
    static constexpr std::string_view kAnchor = "BOOT_CODE_HERE";
    std::vector<BlockLocation> found;
    if (file.size() < pkg::kBlockSize) return found;
    const auto* begin = reinterpret_cast<const char*>(file.data());
    const std::string_view all(begin, file.size());
    for (size_t pos = all.find(kAnchor); pos != std::string_view::npos; pos = all.find(kAnchor, pos + 1)) {
        if (pos < pkg::kBootCode) continue;
        const size_t start = pos - pkg::kBootCode;
        if (start > file.size() - pkg::kBlockSize) continue;
        const bool all_there = std::all_of(std::begin(kMarkers), std::end(kMarkers), [&](const Marker& mk) {
            return all.compare(start + mk.offset, mk.text.size(), mk.text) == 0;
        });
        if (!all_there) continue;
        if (const size_t slotSize = ProgramSlotSizeAt(all, start)) found.push_back({start, slotSize});
    }
    return found;
}

namespace {

uint32_t Le(std::span<const uint8_t> f, size_t at, size_t width) {
    uint32_t v = 0;
    for (size_t i = 0; i < width; ++i) v |= static_cast<uint32_t>(f[at + i]) << (8 * i);
    return v;
}

}  // namespace

std::optional<PeSignature> FindSignature(std::span<const uint8_t> f) {
    constexpr size_t kSecurityEntry = 4;
    if (f.size() < 0x40 || f[0] != 'M' || f[1] != 'Z') return std::nullopt;
    const size_t pe = Le(f, 0x3C, 4);
    const size_t opt = pe + 4 + 20;  // signature, then the file header
    if (pe > f.size() || f.size() - pe < 4 + 20 + 2 || Le(f, pe, 4) != 0x00004550) return std::nullopt;
    const uint32_t magic = Le(f, opt, 2);
    size_t countAt = 0;
    if (magic == 0x10B) countAt = opt + 92;  // PE32
    else if (magic == 0x20B) countAt = opt + 108;  // PE32+
    else return std::nullopt;
    if (countAt + 4 > f.size()) return std::nullopt;
    const uint32_t count = Le(f, countAt, 4);
    const size_t entry = countAt + 4 + kSecurityEntry * 8;
    if (count <= kSecurityEntry || entry + 8 > f.size()) return std::nullopt;
    PeSignature sig;
    sig.entryOffset = entry;
    sig.tableOffset = Le(f, entry, 4);
    sig.tableSize = Le(f, entry + 4, 4);
    if (sig.tableOffset == 0 && sig.tableSize == 0) return std::nullopt;
    return sig;
}

bool StripSignature(std::vector<uint8_t>& file, const PeSignature& sig, std::string& why) {
    const uint64_t end = static_cast<uint64_t>(sig.tableOffset) + sig.tableSize;
    // The table is 8-byte aligned at the end of the file; anything after it would be lost.
    if (sig.tableOffset == 0 || sig.tableOffset > file.size() || end > file.size() || file.size() - end >= 8) {
        why = "its certificate table (offset " + std::to_string(sig.tableOffset) + ", " + std::to_string(sig.tableSize) +
              " bytes) does not end the file";
        return false;
    }
    for (size_t i = 0; i < 8; ++i) file[sig.entryOffset + i] = 0;
    file.resize(sig.tableOffset);
    return true;
}

std::vector<size_t> FindBlocks(std::span<const uint8_t> file) {
    std::vector<size_t> out;
    for (const BlockLocation& b : LocateBlocks(file)) out.push_back(b.offset);
    return out;
}

bool IsPacked(const PackageView& v) { return v.iImageCount() != 0 || v.Banner() != kTemplateBanner; }

void FillBlock(std::span<uint8_t> b, const Manifest& m, size_t slotSize) {
    Put(b, pkg::kBanner, 21, std::string(kBannerHead) + m.builder + "]");
    Put(b, pkg::kVersion, 13, m.version);
    Put(b, pkg::kPhone, 15, m.phone);
    Put(b, pkg::kTitle, 64, m.title);
    Put(b, pkg::kBuildDate, 12, m.build_date);
    Put(b, pkg::kPkgModel, 65, m.model);

    for (size_t k = 0; k < kImageSlots; ++k) {
        const char x = kImageDigits[k];
        const Image* img = k < m.images.size() ? &m.images[k] : nullptr;
        for (size_t j = 0; j < kRecordsPerImage; ++j) {
            const size_t at = pkg::kRecords + k * pkg::kRecordGroupSize + j * pkg::kRecordSize;
            if (img && j < img->constraints.size()) {
                const Constraint& c = img->constraints[j];
                // An empty bound stays empty (NUL): padding it would make it a real bound.
                Put(b, at + 0, 8, c.START, c.START.empty() ? '\0' : '!');
                Put(b, at + 8, 8, c.END, c.END.empty() ? '\0' : '~');
                Put(b, at + 16, 40, c.CMODEL, c.CMODEL.empty() ? '\0' : ' ');
                Put(b, at + 56, 20, "");
            } else {
                Put(b, at + 0, 8, std::string("#FLSH") + x + static_cast<char>('1' + j));
                Put(b, at + 8, 8, "#");
                Put(b, at + 16, 40, "#");
                Put(b, at + 56, 20, "#");
            }
        }
    }

    Put(b, pkg::kParaOpt, 9, "PARA_OPT=");
    b[pkg::kVisualStyle] = static_cast<uint8_t>(static_cast<int8_t>(m.iVisualStyle));
    b[pkg::kLanguage] = static_cast<uint8_t>(static_cast<int8_t>(m.iLanguage));
    b[pkg::kFlashMode] = static_cast<uint8_t>(static_cast<int8_t>(m.iFlashMode));
    b[pkg::kOptionString] = static_cast<uint8_t>(m.images.size());
    Put(b, pkg::kOptionString + 1, pkg::kOptionStringSize - 1, std::string_view(m.digits, sizeof m.digits));

    const bool enciphered = !m.windowsFlash();
    std::vector<size_t> sizes;
    for (const Image& img : m.images) sizes.push_back(StoredSize(img.bytes.size(), enciphered));
    const std::vector<size_t> offsets = LayoutImages(sizes, kImageRegionSize).value_or(std::vector<size_t>{});
    std::memset(b.data() + pkg::kImageRegion, 0, kImageRegionSize);
    ImageCipherContext cipher;
    ImageCipherPrepare(cipher);
    for (size_t k = 0; k < kImageSlots; ++k) {
        const char x = kImageDigits[k];
        const bool used = k < m.images.size() && k < offsets.size();
        Put(b, pkg::kBinStart + 22 * k, 11, std::string("BIN_START") + x + "=");
        Put(b, pkg::kBinSize + 22 * k, 11, std::string("BIN_SIZE") + x + (used ? "B=" : " ="));
        Put(b, pkg::kNewFw + 17 * k, 8, std::string("NEW_FW") + x + "=");
        Put(b, pkg::kFwExt + 17 * k, 8, std::string("FW_EXT") + x + "=");
        if (!used) {
            PutNumber(b, pkg::kBinStart + 22 * k + 11, 0);
            PutNumber(b, pkg::kBinSize + 22 * k + 11, 0);
            Put(b, pkg::kNewFw + 17 * k + 8, 9, "N/A     ");
            Put(b, pkg::kFwExt + 17 * k + 8, 9, "N/A     ");
            continue;
        }
        const Image& img = m.images[k];
        uint8_t* dst = b.data() + pkg::kImageRegion + offsets[k];
        std::memcpy(dst, img.bytes.data(), img.bytes.size());
        if (enciphered) ImageCipherEncipher(cipher, dst, sizes[k]);
        PutNumber(b, pkg::kBinStart + 22 * k + 11, offsets[k]);
        PutNumber(b, pkg::kBinSize + 22 * k + 11, sizes[k]);
        Put(b, pkg::kNewFw + 17 * k + 8, 9, img.NEW_FW);
        Put(b, pkg::kFwExt + 17 * k + 8, 9, img.FW_EXT);
    }

    for (size_t n = 0; n < kProgramSlots; ++n) {
        const size_t at = pkg::ProgramSlotOffset(n, slotSize);
        const auto& prog = m.programs.size() > n ? m.programs[n] : std::vector<uint8_t>{};
        if (prog.empty()) Put(b, at, slotSize, pkg::kProgramSlotNames[n]);
        else Put(b, at, slotSize, std::string_view(reinterpret_cast<const char*>(prog.data()), prog.size()));
        PutNumber(b, pkg::ProgramSizeValue(n, slotSize), std::min(prog.size(), slotSize));
    }
}

json DescribeJson(const PackageView& v) {
    json out = json::object();
    std::string banner = v.Banner();
    const std::string head = kBannerHead;
    if (banner.size() > head.size() && banner.compare(0, head.size(), head) == 0 && banner.back() == ']')
        banner = banner.substr(head.size(), banner.size() - head.size() - 1);
    out["builder"] = BytesToUtf8(banner);
    out["version"] = BytesToUtf8(v.sVersion());
    out["phone"] = BytesToUtf8(v.Phone());
    out["title"] = BytesToUtf8(v.sTitle());
    out["build_date"] = BytesToUtf8(v.BuildDate());
    out["model"] = BytesToUtf8(v.sPkgModel());
    out["iVisualStyle"] = v.iVisualStyle();
    out["iLanguage"] = v.iLanguage();
    out["iFlashMode"] = v.iFlashMode();

    json options = json::object();
    for (const OptionSpec& o : kOptions) {
        const uint8_t c = v.OptionByte(o.position);
        if (c < '0' || c > '9') options[o.name] = nullptr;  // the program could not read it
        else if (o.isFlag) options[o.name] = c != '0';
        else options[o.name] = c - '0';
    }
    out["options"] = options;
    const bool enciphered = v.OptionByte(27) == '0';

    json images = json::array();
    const size_t count = std::min<size_t>(static_cast<size_t>(v.iImageCount()), kImageSlots);
    // A buffer as large as the largest image needs with its padding to 512 bytes (deciphered in
    // place), at most the program's 2 MiB: the loader refuses an image larger than the program's
    // buffer all the same, and describing a small package costs no 2 MiB.
    uint64_t largest = 0;
    for (size_t k = 0; k < count; ++k) largest = std::max(largest, std::min<uint64_t>(v.BIN_SIZE(k), kImageBufferSize));
    std::vector<uint8_t> buffer(static_cast<size_t>((largest + 511) / 512 * 512));
    ImageCipherContext cipher;
    ImageCipherPrepare(cipher);
    for (size_t k = 0; k < count; ++k) {
        json img = json::object();
        img["offset"] = v.BIN_START(k);
        img["size"] = v.BIN_SIZE(k);
        uint32_t padded = 0;
        const ImageLoadResult r = v.LoadImage(k, buffer, padded);
        if (r == ImageLoadResult::Ok) {
            if (enciphered) ImageCipherDecipher(cipher, buffer.data(), padded);
            img["sha256"] = Sha256Hex(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(v.BIN_SIZE(k))));
        } else {
            img["sha256"] = nullptr;
            img["error"] = r == ImageLoadResult::TooLarge        ? "larger than the image buffer"
                           : r == ImageLoadResult::OutsideRegion ? "outside the image region"
                                                                 : "not one of the package's images";
        }
        img["NEW_FW"] = BytesToUtf8(FieldText(v.NewFwRaw(k).data(), 8));
        img["FW_EXT"] = BytesToUtf8(FieldText(v.FwExtRaw(k).data(), 8));
        // Described as the program's constraint check reads the records: an unfilled first record
        // leaves the image open to every drive, whatever the records after it say; an unfilled
        // record elsewhere never matches and is not shown.
        json cons = json::array();
        for (size_t j = 0; j < kRecordsPerImage && !UnfilledRecord(v.Record(k, 0)); ++j) {
            const FLSH_RECORD rec = v.Record(k, j);
            if (UnfilledRecord(rec)) continue;
            cons.push_back({{"CMODEL", BytesToUtf8(PackageView::RecordField(rec.CMODEL, 40))},
                            {"START", BytesToUtf8(PackageView::RecordField(rec.START, 8))},
                            {"END", BytesToUtf8(PackageView::RecordField(rec.END, 8))}});
        }
        img["constraints"] = cons;
        images.push_back(img);
    }
    out["images"] = images;

    json programs = json::object();
    for (size_t n = 0; n < kProgramSlots; ++n) {
        const uint64_t size = v.ProgramSize(n);
        if (size == 0) continue;
        const auto bytes = v.Program(n);
        programs[pkg::kProgramSlotNames[n]] = {{"size", size}, {"sha256", Sha256Hex(bytes)}};
    }
    out["programs"] = programs;
    out["program_slot_size"] = v.ProgramSlotSize();
    return out;
}

std::string DescribeText(const PackageView& v) {
    const json d = DescribeJson(v);
    std::ostringstream o;
    o << "package block: " << (IsPacked(v) ? "packed" : "template (not packed)") << "\n";
    for (const char* k : {"builder", "version", "phone", "title", "build_date", "model"})
        o << "  " << k << ": \"" << d[k].get<std::string>() << "\"\n";
    o << "option header: iVisualStyle " << d["iVisualStyle"] << ", iLanguage " << d["iLanguage"] << ", iFlashMode "
      << d["iFlashMode"] << "\n";
    std::string digits;
    for (int pos = 2; pos <= 29; ++pos) {
        const uint8_t c = v.OptionByte(pos);
        digits += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    o << "option digits (positions 2..29): " << digits << "\n";
    for (const OptionSpec& s : kOptions) o << "  " << s.name << " (position " << s.position << "): " << d["options"][s.name] << "\n";
    o << "images: " << v.iImageCount() << (v.OptionByte(27) == '0' ? " (stored enciphered)" : " (stored plain)") << "\n";
    size_t k = 0;
    for (const json& img : d["images"]) {
        o << "  image " << kImageDigits[k] << ": offset " << img["offset"] << ", size " << img["size"] << ", NEW_FW \""
          << img["NEW_FW"].get<std::string>() << "\", FW_EXT \"" << img["FW_EXT"].get<std::string>() << "\"";
        if (img["sha256"].is_string()) o << ", sha256 " << img["sha256"].get<std::string>();
        if (img.contains("error")) o << ", " << img["error"].get<std::string>();
        o << "\n";
        if (img["constraints"].empty()) o << "    no constraint records: every drive may take it\n";
        for (const json& c : img["constraints"])
            o << "    CMODEL \"" << c["CMODEL"].get<std::string>() << "\" START \"" << c["START"].get<std::string>()
              << "\" END \"" << c["END"].get<std::string>() << "\"\n";
        ++k;
    }
    o << "program slots: " << v.ProgramSlotSize() << " bytes each"
      << (v.ProgramSlotSize() == pkg::kDefaultProgramSlotSize ? " (the exact layout)" : " (large-slot template)") << "\n";
    for (auto it = d["programs"].begin(); it != d["programs"].end(); ++it)
        o << "program " << it.key() << ": " << (*it)["size"] << " bytes, sha256 " << (*it)["sha256"].get<std::string>() << "\n";
    return o.str();
}

}  // namespace kestrel::pack
