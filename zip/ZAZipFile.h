// TZAZipFile: one archive file with its loaded central directory and the
// hash index of the entry names. Opening finds the end records and loads
// every central header; Commit writes a complete new archive (stub, the
// entries' data copied by the entry records, central directory, end
// records).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zip/ZACenDir.h"
#include "zip/ZACentral.h"

class TZAZipFile : public TZACentral {
public:
    explicit TZAZipFile(TZAHost& host, TZAWorkBin* owner = nullptr);
    ~TZAZipFile() override;

    // ---- overrides ------------------------------------------------------------------
    std::int32_t Reopen(int mode) override;
    void Clear() override;
    void SetCapacity(std::int32_t n) override;
    std::int32_t Add(std::unique_ptr<TZAZRec> entry) override;
    void ClearCachedNames() override;
    TZAZRec* FindName(std::string_view name, std::int32_t& index, bool hasWildcards) override;
    std::int32_t FindDuplicate(TZAZRec& entry) override;
    std::int32_t TruncateFrom(std::int32_t index) override;
    void AssignFrom(const TZAWorkFile& other) override;
    std::int32_t FindLiveDuplicate(const std::string& name, const TZAZRec& self) override;

    // ---- operations ------------------------------------------------------------------
    using TZACentral::Open;  // Open(mode) of the work file
    // Runs before Commit writes anything: 0 or a negative code.
    virtual std::int32_t BeforeCommit();
    // Copies an entry's data into the output; bytes or a negative code.
    std::int64_t CopyEntry(TZAZRec& entry);
    // Opens FileName and (unless `noLoad` or `noZip64`) loads the directory:
    // the end-record result, or a negative code.
    std::int32_t Open(bool noZip64, bool noLoad);
    // Writes the whole archive: number of entries or a negative code.
    std::int32_t Commit(bool stampWithNewest);
    // Central directory, end records and the end of a multi-part set:
    // bytes or a negative code.
    std::int64_t WriteDirectory();
    // 0 when the file's last-write time is unchanged, message 162 when it
    // changed, message 164 when it cannot be read.
    std::int32_t HasChanged();
    // Rebuilds the hash index; returns how many names were indexed already.
    std::int32_t RebuildHash(std::uint32_t filter, bool allowDuplicates);
    void SetHashing(bool on);
    bool Hashing() const { return hashing_; }
    // The index; entries added since the last lookup are not in it yet.
    const TZADirHashList* HashList() const { return hash_.get(); }

    // The executable stub in front of a self-extracting archive.
    const std::vector<std::uint8_t>& Stub() const { return StubBytes; }
    void SetStub(std::vector<std::uint8_t> stub) { StubBytes = std::move(stub); }
    void TakeStub(TZAZipFile& other);
    bool KeepStub = false;

    std::int32_t OpenResult() const { return openResult_; }
    std::int64_t LastWriteAtOpen() const { return lastWrite_; }

private:
    // Indexes the entries added since the last lookup.
    void IndexPending();

    std::int64_t lastWrite_ = 0;
    std::int32_t indexed_ = 0;  // entries before this one are in the index
    std::int32_t openResult_ = 0;
    std::unique_ptr<TZADirHashList> hash_;
    bool hashing_ = true;
};
