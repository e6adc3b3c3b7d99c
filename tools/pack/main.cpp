// kestrel-pack: fills the package block of a template executable from a manifest, shows what a
// packed executable holds, and makes firmware images for the simulated drives.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

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

int LocateBlock(const std::vector<uint8_t>& file, const std::string& name, pack::BlockLocation& at) {
    const std::vector<pack::BlockLocation> found = pack::LocateBlocks(file);
    if (found.size() != 1)
        return Fail(found.empty() ? "'" + name + "': no package block found (not a Kestrel template)"
                                  : "'" + name + "': " + std::to_string(found.size()) + " package blocks found, expected exactly one");
    at = found[0];
    return 0;
}

int Build(const std::string& templ, const std::string& manifestPath, const std::string& outPath, bool force, bool stripSignature) {
    // The template first: its program slots decide which programs fit.
    std::vector<uint8_t> file;
    if (!ReadAll(templ, file)) return Fail("cannot read template '" + templ + "'");
    // Filling the block changes the signed bytes: the signature would no longer verify, and Windows
    // would show the package as tampered with. Sign the packed file instead.
    bool stripped = false;
    if (const auto sig = pack::FindSignature(file)) {
        if (!stripSignature)
            return Fail("'" + templ + "' carries an Authenticode signature, which packing would break; "
                        "pack an unsigned template (or give --strip-signature) and sign the packed file");
        std::string why;
        if (!pack::StripSignature(file, *sig, why)) return Fail("cannot strip the signature of '" + templ + "': " + why);
        stripped = true;
    }
    pack::BlockLocation at;
    if (int rc = LocateBlock(file, templ, at)) return rc;
    std::vector<std::string> errors;
    const auto manifest = pack::LoadManifest(manifestPath, errors, at.slotSize);
    if (!manifest) {
        for (const std::string& e : errors) std::fprintf(stderr, "kestrel-pack: %s\n", e.c_str());
        return Fail("manifest refused; nothing written");
    }
    const std::span<uint8_t> block(file.data() + at.offset, at.size());
    if (pack::IsPacked(PackageView(block, at.slotSize)) && !force)
        return Fail("'" + templ + "' is already packed (use --force to pack it again)");
    pack::FillBlock(block, *manifest, at.slotSize);
    std::string why;
    const fs::path tp(templ);
    if (!WriteAtomically(outPath, file, &tp, why)) return Fail(why);
    if (stripped)
        std::fprintf(stderr, "kestrel-pack: '%s': Authenticode signature removed; sign '%s' after packing\n", templ.c_str(),
                     outPath.c_str());
    std::printf("kestrel-pack: %s: %zu image(s) packed at file offset 0x%zX (program slots of %zu bytes)\n", outPath.c_str(),
                manifest->images.size(), at.offset, at.slotSize);
    return 0;
}

int Show(const std::string& exe, bool asJson) {
    std::vector<uint8_t> file;
    if (!ReadAll(exe, file)) return Fail("cannot read '" + exe + "'");
    pack::BlockLocation at;
    if (int rc = LocateBlock(file, exe, at)) return rc;
    const PackageView v(std::span<const uint8_t>(file.data() + at.offset, at.size()), at.slotSize);
    if (asJson) std::cout << pack::DescribeJson(v).dump(2) << "\n";
    else std::cout << "file offset of the block: 0x" << std::hex << at.offset << std::dec << "\n" << pack::DescribeText(v);
    return 0;
}

#ifndef _WIN32
// Runs the program with the arguments and waits: its exit code (128 + signal when it was killed).
int RunAndWait(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
#endif

// Takes the package block out of a packed executable (kestrel.exe of either width, or a packed
// kestrel-sim), puts the same bytes into a copy of the sim template of the same layout and runs it
// on the described machine: the exact package, tried on a simulated copy of a real machine.
// The rehearsal's own refusals: a code the program never returns, so a script can tell them apart
// from the rehearsed run's exit code.
constexpr int kRehearsalRefused = 125;
int RehearseFail(const std::string& what) {
    Fail(what);
    return kRehearsalRefused;
}

int Rehearse(const std::string& packagePath, const std::string& machine, std::string stateDir, std::string simPath,
             const std::vector<std::string>& args) {
#ifdef _WIN32
    (void)packagePath, (void)machine, (void)stateDir, (void)simPath, (void)args;
    return RehearseFail("rehearse runs the simulated machine, which is built for Linux (build/linux/kestrel-pack)");
#else
    std::vector<uint8_t> pkgFile;
    if (!ReadAll(packagePath, pkgFile)) return RehearseFail("cannot read package '" + packagePath + "'");
    pack::BlockLocation from;
    if (LocateBlock(pkgFile, packagePath, from) != 0)
        return RehearseFail("'" + packagePath + "' holds no package block of this Kestrel build's layout (not a package, or one made from another build)");

    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (simPath.empty()) {
        // The sim template of the package's layout, built beside this tool.
        const char* name = from.slotSize == pkg::kDefaultProgramSlotSize ? "kestrel-sim" : "kestrel-sim-largeslots";
        simPath = (self.parent_path() / name).string();
    }
    std::vector<uint8_t> sim;
    if (!ReadAll(simPath, sim)) return RehearseFail("cannot read the sim template '" + simPath + "' (give --sim)");
    pack::BlockLocation to;
    if (LocateBlock(sim, simPath, to) != 0) return RehearseFail("'" + simPath + "' is not a sim template of this build");
    if (to.slotSize != from.slotSize)
        return RehearseFail("'" + packagePath + "' holds a block with program slots of " + std::to_string(from.slotSize) +
                    " bytes, the sim template '" + simPath + "' one with slots of " + std::to_string(to.slotSize) +
                    " bytes: a block of another layout cannot be rehearsed on it (build the matching template)");
    if (pack::IsPacked(PackageView(std::span<const uint8_t>(sim.data() + to.offset, to.size()), to.slotSize)))
        return RehearseFail("the sim template '" + simPath + "' is itself packed; give an unpacked kestrel-sim with --sim");
    std::copy(pkgFile.begin() + static_cast<std::ptrdiff_t>(from.offset),
              pkgFile.begin() + static_cast<std::ptrdiff_t>(from.offset + from.size()),
              sim.begin() + static_cast<std::ptrdiff_t>(to.offset));

    char tmpl[] = "/tmp/kestrel-rehearse-XXXXXX";
    if (!mkdtemp(tmpl)) return RehearseFail("cannot make a temporary folder");
    const fs::path work(tmpl);
    const fs::path exe = work / "rehearsal-sim";
    std::string why;
    const fs::path simTemplate(simPath);
    if (!WriteAtomically(exe, sim, &simTemplate, why)) {
        fs::remove_all(work, ec);
        return RehearseFail(why);
    }
    if (stateDir.empty()) {
        stateDir = (work / "state").string();
        fs::create_directories(stateDir, ec);
    } else {
        fs::create_directories(stateDir, ec);
        if (!fs::is_directory(stateDir)) {
            fs::remove_all(work, ec);
            return RehearseFail("cannot use the state folder '" + stateDir + "'");
        }
    }
    ::setenv("KESTREL_SIM_MACHINE", fs::absolute(machine).c_str(), 1);
    ::setenv("KESTREL_SIM_STATE", fs::absolute(stateDir).c_str(), 1);
    std::fprintf(stderr, "kestrel-pack: rehearsing '%s' (block at 0x%zX, program slots of %zu bytes) on '%s', state in '%s'\n",
                 packagePath.c_str(), from.offset, from.slotSize, machine.c_str(), stateDir.c_str());
    std::fflush(stderr);
    const int code = RunAndWait(exe.string(), args);
    if (code < 0) {
        fs::remove_all(work, ec);
        return RehearseFail("cannot run the rehearsal");
    }
    // The copy goes; the state stays for a look at the log, the registry and the drives.
    if (stateDir == (work / "state").string())
        fs::remove(exe, ec);
    else
        fs::remove_all(work, ec);
    std::fprintf(stderr, "kestrel-pack: the rehearsal ended with exit code %d (state in '%s')\n", code, stateDir.c_str());
    return code;
#endif
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

    std::string rehearsePackage, rehearseMachine, rehearseState, rehearseSim;
    std::vector<std::string> rehearseArgs;
    CLI::App* rehearse = app.add_subcommand("rehearse", "run a packed package's block in the sim template on a described machine");
    rehearse->add_option("--package", rehearsePackage, "the packed kestrel.exe (either width) or kestrel-sim")
        ->required()
        ->check(CLI::ExistingFile);
    rehearse->add_option("--machine", rehearseMachine, "the machine description (JSON, docs/sim-machine.md)")
        ->required()
        ->check(CLI::ExistingFile);
    rehearse->add_option("--state", rehearseState, "a state folder to keep (a later rehearsal sees what this one left)");
    rehearse->add_option("--sim", rehearseSim, "the sim template (default: kestrel-sim of the package's layout beside this tool)");
    rehearse->add_option("args", rehearseArgs, "the program's command line, after --");

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
    if (*rehearse) return Rehearse(rehearsePackage, rehearseMachine, rehearseState, rehearseSim, rehearseArgs);
    return SimImage(spec, imageOut);
}
