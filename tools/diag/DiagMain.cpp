// kestrel-diag: what the updater's device discovery sees on this machine.
//   kestrel-diag disks [--json]
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "tools/diag/DiagPlatform.h"
#include "tools/diag/DiskReport.h"

namespace {
int Usage() {
    std::fputs("usage: kestrel-diag disks [--json]\n", stderr);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "disks") != 0) return Usage();
    bool json = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) json = true;
        else return Usage();
    }
    try {
        std::unique_ptr<kestrel::diag::DiagPlatform> host = kestrel::diag::MakeDiagPlatform();
        const std::string report = kestrel::diag::DisksReport(host->platform(), json);
        std::fwrite(report.data(), 1, report.size(), stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrel-diag: %s\n", e.what());
        return 1;
    }
}
