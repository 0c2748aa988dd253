// TZAZippedOpr: deleting entries by rewriting the archive with the entries
// to keep, from the current archive or, when no archive is named, from the
// archives named in the file-spec lines ("a.zip >> docs/b.txt").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/ZAArgSplit.h"
#include "zip/ZAModOpr.h"

// A list of open archives, for deleting from several in one call.
class TZAZipList {
public:
    std::int32_t Add(std::unique_ptr<TZAZipFile> archive);
    // Index of the archive with that file name, or message 123.
    std::int32_t Find(const std::string& path) const;
    std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
    // nullptr when out of range.
    TZAZipFile* Item(std::int32_t index) const;
    void Clear();

private:
    std::vector<std::unique_ptr<TZAZipFile>> items_;
};

class TZAZippedOpr : public TZAModOpr {
public:
    explicit TZAZippedOpr(TZAHost& host);
    ~TZAZippedOpr() override;

    // Deletes the entries named by the working specification lists: the
    // number of entries deleted, or a negative code (shown). With `raise`
    // a failure is raised instead, so that the run frame counts the
    // operation as failed and gives the application its lists back.
    std::int32_t Delete(bool raise = false);

    std::vector<std::string> Skipped;
    TZAArgSplitter Splitter;
    TZAZipList Archives;

private:
    std::int32_t DeleteFromCurrent();
    std::int32_t DeleteFromList();
    // Deletes the selected entries of `archive`: the number deleted or a code.
    std::int32_t DeleteSelected(TZAZipFile& archive, bool select);
    // Refuses unattended floppies; an ".exe" keeps its stub.
    void PrepareArchive(TZAZipFile& archive);
    // Selects by one specification line of the multi-archive form.
    void SelectByLine(std::string& baseExclusion, TZAZipFile*& current,
                      std::int32_t& totalSelected);
};
