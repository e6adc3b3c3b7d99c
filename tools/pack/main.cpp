// kestrel-pack: fills the package block of a template executable from a manifest, shows what a
// packed executable holds, and makes firmware images for the simulated drives.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>

#include "sim/SimImage.h"
#include "tools/pack/Pack.h"

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

int Fail(const std::string& what) {
    std::fprintf(stderr, "kestrel-pack: %s\n", what.c_str());
    return 1;
}

bool ReadAll(const fs::path& p, std::vector<uint8_t>& out) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(p, ec);
    if (ec) return false;
    std::ifstream f(p, std::ios::binary);
    if (!f) return false;
    out.resize(static_cast<size_t>(size));
    f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return static_cast<uintmax_t>(f.gcount()) == size;
}

// Writes beside the target and renames over it, so a failure never leaves a half-written file.
bool WriteAtomically(const fs::path& out, const std::vector<uint8_t>& bytes, const fs::path* permsFrom, std::string& why) {
    std::error_code ec;
    fs::path tmp = out;
    tmp += ".kestrel-pack.tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) {
            why = "cannot create '" + tmp.string() + "'";
            return false;
        }
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        f.close();
        if (!f) {
            why = "cannot write '" + tmp.string() + "'";
            fs::remove(tmp, ec);
            return false;
        }
    }
    if (permsFrom) fs::permissions(tmp, fs::status(*permsFrom, ec).permissions(), ec);
    fs::rename(tmp, out, ec);
    if (ec && fs::exists(out)) {  // a platform whose rename does not replace
        std::error_code ec2;
        fs::remove(out, ec2);
        ec.clear();
        fs::rename(tmp, out, ec);
    }
    if (ec) {
        why = "cannot rename '" + tmp.string() + "' to '" + out.string() + "': " + ec.message();
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

int LocateBlock(const std::vector<uint8_t>& file, const std::string& name, size_t& at) {
    const std::vector<size_t> found = pack::FindBlocks(file);
    if (found.size() != 1)
        return Fail(found.empty() ? "'" + name + "': no package block found (not a Kestrel template)"
                                  : "'" + name + "': " + std::to_string(found.size()) + " package blocks found, expected exactly one");
    at = found[0];
    return 0;
}

int Build(const std::string& templ, const std::string& manifestPath, const std::string& outPath, bool force, bool stripSignature) {
    std::vector<std::string> errors;
    const auto manifest = pack::LoadManifest(manifestPath, errors);
    if (!manifest) {
        for (const std::string& e : errors) std::fprintf(stderr, "kestrel-pack: %s\n", e.c_str());
        return Fail("manifest refused; nothing written");
    }
    std::vector<uint8_t> file;
    if (!ReadAll(templ, file)) return Fail("cannot read template '" + templ + "'");
    // Filling the block changes the signed bytes: the signature would no longer verify, and Windows
    // would show the package as tampered with. Sign the packed file instead.
    if (const auto sig = pack::FindSignature(file)) {
        if (!stripSignature)
            return Fail("'" + templ + "' carries an Authenticode signature, which packing would break; "
                        "pack an unsigned template (or give --strip-signature) and sign the packed file");
        std::string why;
        if (!pack::StripSignature(file, *sig, why)) return Fail("cannot strip the signature of '" + templ + "': " + why);
        std::fprintf(stderr, "kestrel-pack: '%s': Authenticode signature removed; sign '%s' after packing\n", templ.c_str(),
                     outPath.c_str());
    }
    size_t at = 0;
    if (int rc = LocateBlock(file, templ, at)) return rc;
    const std::span<uint8_t> block(file.data() + at, pkg::kBlockSize);
    if (pack::IsPacked(PackageView(block)) && !force)
        return Fail("'" + templ + "' is already packed (use --force to pack it again)");
    pack::FillBlock(block, *manifest);
    std::string why;
    const fs::path tp(templ);
    if (!WriteAtomically(outPath, file, &tp, why)) return Fail(why);
    std::printf("kestrel-pack: %s: %zu image(s) packed at file offset 0x%zX\n", outPath.c_str(), manifest->images.size(), at);
    return 0;
}

int Show(const std::string& exe, bool asJson) {
    std::vector<uint8_t> file;
    if (!ReadAll(exe, file)) return Fail("cannot read '" + exe + "'");
    size_t at = 0;
    if (int rc = LocateBlock(file, exe, at)) return rc;
    const PackageView v(std::span<const uint8_t>(file.data() + at, pkg::kBlockSize));
    if (asJson) std::cout << pack::DescribeJson(v).dump(2) << "\n";
    else std::cout << "file offset of the block: 0x" << std::hex << at << std::dec << "\n" << pack::DescribeText(v);
    return 0;
}

int SimImage(const sim::SimImageSpec& spec, const std::string& outPath) {
    std::string why;
    const std::vector<uint8_t> img = sim::BuildSimImage(spec, why);
    if (img.empty()) return Fail("sim-image: " + why);
    if (!WriteAtomically(outPath, img, nullptr, why)) return Fail(why);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kestrel-pack: the Kestrel packaging tool"};
    app.require_subcommand(1);

    std::string templ, manifest, out;
    bool force = false;
    CLI::App* build = app.add_subcommand("build", "fill a template's package block from a manifest");
    build->add_option("--template", templ, "kestrel.exe (either width) or kestrel-sim")->required()->check(CLI::ExistingFile);
    build->add_option("--manifest", manifest, "the manifest (JSON)")->required()->check(CLI::ExistingFile);
    build->add_option("--out", out, "the packed executable to write")->required();
    build->add_flag("--force", force, "pack a file that is already packed");
    bool stripSignature = false;
    build->add_flag("--strip-signature", stripSignature, "remove the template's Authenticode signature (sign the packed file)");

    std::string exe;
    bool asJson = false;
    CLI::App* show = app.add_subcommand("show", "show what an executable's package block holds");
    show->add_option("exe", exe, "a packed or template executable")->required()->check(CLI::ExistingFile);
    show->add_flag("--json", asJson, "print the manifest's keys as JSON");

    sim::SimImageSpec spec;
    std::string imageOut;
    CLI::App* simImage = app.add_subcommand("sim-image", "make a firmware image for the simulated drives");
    simImage->add_option("--model", spec.models, "a model the image fits (repeatable; a trailing '*' matches by prefix)")->required();
    simImage->add_option("--revision", spec.revision, "the revision it installs (1 to 8 characters)")->required();
    simImage->add_option("--ext-revision", spec.extRevision, "the extended revision it installs (at most 8 characters)");
    simImage->add_option("--payload-size", spec.payloadSize, "payload bytes after the 128-byte header")
        ->capture_default_str()
        ->check(CLI::Range(0u, static_cast<uint32_t>(kImageBufferSize - sim::kSimImageHeaderSize)));
    simImage->add_option("--seed", spec.seed, "seed of the payload's pseudo-random bytes")->capture_default_str();
    simImage->add_option("--out", imageOut, "the image file to write")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    if (*build) return Build(templ, manifest, out, force, stripSignature);
    if (*show) return Show(exe, asJson);
    return SimImage(spec, imageOut);
}
