// kestrel-diag: what the updater's device discovery sees on this machine.
//   kestrel-diag disks [--json]
//   kestrel-diag slots [--json]   firmware slots of every NVMe drive (inbox driver and Intel RST)
//   kestrel-diag csmi [--json]    driver information and phy table of every CSMI controller port 0-15
//   kestrel-diag scan [--json] [--kind 0|1]   the drive table as the updater's scan fills it
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "tools/diag/DiagPlatform.h"
#include "tools/diag/DiskReport.h"
#include "tools/diag/ScanReport.h"
#include "tools/diag/SlotsReport.h"

namespace {
int Usage() {
    std::fputs("usage: kestrel-diag disks|slots|csmi [--json]\n       kestrel-diag scan [--json] [--kind 0|1]\n", stderr);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command != "disks" && command != "slots" && command != "csmi" && command != "scan") return Usage();
    bool json = false;
    int kind = -1;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) json = true;
        else if (command == "scan" && std::strcmp(argv[i], "--kind") == 0 && i + 1 < argc &&
                 (std::strcmp(argv[i + 1], "0") == 0 || std::strcmp(argv[i + 1], "1") == 0))
            kind = argv[++i][0] - '0';
        else return Usage();
    }
    try {
        std::unique_ptr<kestrel::diag::DiagPlatform> host = kestrel::diag::MakeDiagPlatform();
        const std::string report = command == "disks"   ? kestrel::diag::DisksReport(host->platform(), json)
                                   : command == "slots" ? kestrel::diag::SlotsReport(host->platform(), json)
                                   : command == "scan"  ? kestrel::diag::ScanReport(host->platform(), json, kind)
                                                        : kestrel::diag::CsmiReport(host->platform(), json);
        std::fwrite(report.data(), 1, report.size(), stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrel-diag: %s\n", e.what());
        return 1;
    }
}
