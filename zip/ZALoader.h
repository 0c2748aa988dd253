// The stub of a spanned self-extracting set: a program of its own beside the
// set's parts, made of the stub with its configuration block, the set's
// central directory (every entry's part number and offset as in the set) and
// end records on a part numbered one after the set's last. Readers find the
// set itself by the program's name with ".zip".
#pragma once

#include <cstdint>
#include <vector>

#include "zip/ZAZipFile.h"

class TZALoader : public TZAZipFile {
public:
    // `parts`: the set's part count; `stub`: the stub with its block.
    TZALoader(TZAHost& host, std::int32_t parts, std::vector<std::uint8_t> stub);

    // Adds a record with the central data of `entry`; its extra data keeps
    // only the Zip64, Unicode path and (longer than 35 bytes) NTFS blocks.
    std::int32_t AddEntry(const TZAZRec& entry);
    // The set's part count, and the stub in front.
    std::int32_t BeforeCommit() override;

    // The extra blocks a detached directory keeps of `extra`, in order.
    static std::string KeptExtra(const std::string& extra);

private:
    std::int32_t parts_;
};
