// Changing an archive without the compression engine: a new archive is
// written with copies of the entries to keep (TZAZipCopy, one TZACopyRec per
// entry) and then put in place of the old one in one step. Changing only the
// archive comment is done in place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/ZAFileOpr.h"
#include "zip/ZAZipFile.h"

// One entry of a copy: the central data of its source entry, whose local
// header and data it copies into the new archive.
class TZACopyRec : public TZAZRec {
public:
    TZACopyRec(TZAWorkZip& owner, TZAZRec& source) : TZAZRec(owner), Source(&source) {}

    void AssignFrom(const TZADirRec& other) override;
    // Writes the local header, the data and a data descriptor: bytes or a code.
    std::int64_t CopyEntryData() override;
    // Local header + compressed size (+ 16 with a data descriptor).
    std::int64_t CopySizeEstimate() override;

    TZAZRec* Source;
};

// An output archive filled with copies of another archive's entries.
class TZAZipCopy : public TZAZipFile {
public:
    explicit TZAZipCopy(TZAHost& host, TZAWorkBin* owner = nullptr);

    std::unique_ptr<TZAZRec> CloneEntry(const TZAZRec& entry) override;
    // Adds a copy of `source`: its index, or message 104 for a name already present.
    std::int32_t AddCopy(TZAZRec& source);
    // Copies every entry (or the selected ones) of `source` and writes the
    // whole archive: the number of entries, or a negative code.
    std::int32_t CopyEntries(TZAZipFile& source, bool copyAll);
};

class TZAModOpr : public TZAFileOpr {
public:
    explicit TZAModOpr(TZAHost& host);
    ~TZAModOpr() override;

    // Writes the kept entries (all, or the selected ones) of `archive` into a
    // new file that replaces it: the number of entries written. Raises.
    std::int32_t RewriteArchive(TZAZipFile& archive, std::int32_t expectedCount, bool copyAll);
    // Puts the finished copy in place of the old archive: 0 or a code.
    std::int32_t ReplaceOldArchive(TZAZipCopy& copy, TZAZipFile& old);
    // Rewrites the comment of the archive named by ZipFileName in place.
    void ChangeComment(const std::string& text);

    // The archive is to keep its self-extractor stub (an ".exe").
    bool KeepSFX = false;

private:
    // Writes the copy as a multi-part set under the old archive's name.
    std::int32_t Recreate(TZAZipCopy& copy, TZAZipFile& old);
    // The stub and block of a spanned set's program: its bytes before the
    // central directory; empty when they cannot be read.
    std::vector<std::uint8_t> ProgramStub(const std::string& program);
    // Replaces the archive (or the last part of a set) by a copy whose end
    // record at `at` carries `comment`. Raises.
    void ReplaceEnd(const std::string& archive, std::int64_t at, const std::string& comment);

    // The program of the self-extracting set being rewritten.
    std::string setProgram_;
};
