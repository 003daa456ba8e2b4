#pragma once

#include "scan/ScannedFile.h"

#include <string>
#include <vector>

namespace quorral::scan {

// The priority class of a tool; it only decides the coordinator's order.
enum class ScanTier { tier1 = 1, tier2 = 2, tier3 = 3 };

// One local AI tool's scanner. Both operations do blocking file work: callers run them
// away from the main thread. `scan` never fails; what cannot be read is skipped.
class PlatformScanner {
public:
    virtual ~PlatformScanner() = default;

    virtual const std::string &id() const = 0;
    virtual const std::string &name() const = 0;
    virtual ScanTier tier() const = 0;

    virtual bool detect() const = 0;
    virtual std::vector<ScannedFile> scan() const = 0;
};

} // namespace quorral::scan
