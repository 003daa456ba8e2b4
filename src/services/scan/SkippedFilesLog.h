#pragma once

#include "scan/ScanTracker.h"

namespace quorral::scan {

// Logs, once each, the files the scans since the last call passed over.
void logSkippedFiles(ScanTracker &tracker);

} // namespace quorral::scan
