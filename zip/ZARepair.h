// TZARepair: the operation that rescues a damaged archive. It reads the
// damaged file (with the other parts of its split set, when it is a part of
// one), finds the entries whose data survived whole (ScanLocalHeaders)
// and writes them as a new archive beside it; the damaged file is never
// changed. Every entry it has to leave behind, and every missing part, is
// reported as a message of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/ZACore.h"

struct TZARepairOutcome {
    std::string target;  // the archive written
    int recovered = 0;
    int lost = 0;
    std::vector<std::string> messages;  // one per lost entry or missing part
};

class TZARepair : public TZACore {
public:
    explicit TZARepair(TZAHost& host) : TZACore(host) {}

    // The name of the set a part belongs to: name.zip for name.z01 ... name.z99,
    // otherwise `damaged` itself.
    static std::string SetName(const std::string& damaged);
    // The default target: the set's name with "-repariert.zip".
    static std::string DefaultTarget(const std::string& damaged);
    // The files to read for `damaged`, in order: the parts name.z01, name.z02,
    // ... and name.zip, those that exist (the others, also a lost last part,
    // are listed in `missing`). Empty when there is nothing to read.
    static std::vector<std::string> PartsOf(const std::string& damaged,
                                            std::vector<std::string>& missing);

    // Rescues `damaged` into `target` (DefaultTarget when empty). Raises
    // EZipArchiver when nothing could be read or written, or when no entry
    // survived (336); the outcome tells what was recovered and lost.
    void Run(const std::string& damaged, const std::string& target, TZARepairOutcome& outcome);
};
