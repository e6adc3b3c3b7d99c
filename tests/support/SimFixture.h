#pragma once
// Small helpers for tests over the simulated machine.
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "package/FwPackage.h"
#include "sim/SimMachine.h"

namespace kestrel::test {

// The embedded default machine with a JSON merge patch applied.
inline std::unique_ptr<sim::SimMachine> MakeMachine(const nlohmann::json& patch = nlohmann::json::object(),
                                                    sim::SimOptions options = {}) {
    nlohmann::json desc = sim::SimMachine::ParseDescription(sim::DefaultMachineJson());
    desc.merge_patch(patch);
    return std::make_unique<sim::SimMachine>(desc, std::move(options));
}

// The REG_MULTI_SZ bytes of a list, written out by hand.
inline std::vector<uint8_t> MultiSz(std::initializer_list<const char*> strings) {
    std::vector<uint8_t> out;
    for (const char* s : strings) {
        out.insert(out.end(), s, s + std::strlen(s));
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

// A copy of the program's own template block (or of its first `size` bytes), to edit freely.
inline std::vector<uint8_t> TemplateBlock(size_t size = pkg::kBlockSize) {
    const auto own = OwnPackageBlock();
    return std::vector<uint8_t>(own.begin(), own.begin() + static_cast<std::ptrdiff_t>(std::min(size, own.size())));
}

inline void PutText(std::vector<uint8_t>& block, size_t offset, const std::string& text) {
    std::copy(text.begin(), text.end(), block.begin() + static_cast<std::ptrdiff_t>(offset));
}

// The option digits after the count byte (positions 2..29).
inline void PutOptions(std::vector<uint8_t>& block, uint8_t imageCount, const std::string& digits) {
    block[pkg::kOptionString] = imageCount;
    PutText(block, pkg::kOptionString + 1, digits);
}

}  // namespace kestrel::test
