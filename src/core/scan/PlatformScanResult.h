#pragma once

#include "scan/ScanStatus.h"
#include "scan/ScannedFile.h"

#include <string>
#include <vector>

namespace quorral::scan {

// One tool's row in a coordinated scan.
struct PlatformScanResult {
    std::string id;
    std::string name;
    ScanStatus status = ScanStatus::waiting();
    std::vector<ScannedFile> files;

    friend bool operator==(const PlatformScanResult &, const PlatformScanResult &) = default;
};

} // namespace quorral::scan
