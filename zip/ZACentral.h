// TZACentral: the entry table of an archive's central directory. It owns
// one TZAZRec per central header, loads them from the archive (after the
// end-record search of TZAEOC), selects entries by file specification,
// finds names (linearly; TZAZipFile adds the hash index) and writes the
// central directory of a new archive.
//
// Every count and offset read from the file is untrusted: the table is
// sized from what the central directory's bytes can hold, not from the
// count the end record claims, and every header is read through the
// bounds-checked record routines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zip/ZAEOC.h"
#include "zip/ZAIRec.h"

class TZACentral;

// Change notifications sent to the directory view while a directory is
// (re)loaded; the argument is given with each code.
inline constexpr int cnCleared = 1;     // the stamp of the new generation
inline constexpr int cnCapacity = 2;    // the number of entries to expect
inline constexpr int cnEntryAdded = 3;  // the index of the new entry
inline constexpr int cnLoaded = 6;      // the entry count
inline constexpr int cnRenumber = 7;

class TZAChangeNotifier {
public:
    virtual ~TZAChangeNotifier() = default;
    virtual void DirChanged(TZACentral& sender, int argument, int code) = 0;
};

// "No entry" for index results.
inline constexpr std::int32_t kNoIndex = -2147483647;

// The hash of a name for lookups: the bytes upper-cased for a-z only, "\"
// taken as "/", then the classic ELF (PJW) hash.
std::uint32_t NameHashOf(std::string_view name);
// The hash of the entry's FileName.
std::uint32_t EntryNameHash(TZAZRec& entry);

class TZACentral : public TZAEOC {
public:
    explicit TZACentral(TZAHost& host, TZAWorkBin* owner = nullptr);
    ~TZACentral() override;

    // ---- virtual operations ------------------------------------------------------
    virtual void Clear();
    virtual std::unique_ptr<TZAZRec> CloneEntry(const TZAZRec& entry);
    virtual void SetCapacity(std::int32_t n);
    // Takes the entry; returns its index.
    virtual std::int32_t Add(std::unique_ptr<TZAZRec> entry);
    virtual void ClearCachedNames();
    // Searches from index + 1 (pass -1 to start); a plain name must equal a
    // FileName, a spec with wildcards is matched with FileNameMatch. On a
    // hit `index` is its index; otherwise kNoIndex and nullptr.
    virtual TZAZRec* FindName(std::string_view name, std::int32_t& index, bool hasWildcards);
    // Index of another live entry with the same name, or a negative value.
    virtual std::int32_t FindDuplicate(TZAZRec& entry);
    // Removes and frees the entries from `index` on; returns how many.
    virtual std::int32_t TruncateFrom(std::int32_t index);
    void AssignFrom(const TZAWorkFile& other) override;
    std::int32_t FindLiveDuplicate(const std::string& name, const TZAZRec& self) override;

    // ---- non-virtual operations -----------------------------------------------------
    // Raises message 199 when out of range.
    TZAZRec& Entry(std::int32_t index) const;
    void Replace(std::int32_t index, std::unique_ptr<TZAZRec> entry);
    std::int32_t NextSelected(std::int32_t after) const;
    void DeselectAll();
    // Selects (mode 1), deselects (0) or toggles what `spec` names.
    std::int32_t Select(TZAZRec& entry, int mode);
    std::int32_t SelectMatching(const std::string& spec, int mode);
    std::int32_t SelectWithExcludes(const std::string& spec, const std::string& excludes, int mode);
    // Selects the entries that `specs` name, less those `excludeSpecs` name.
    // Specs are wildcard lists, or with `exact` entry names taken literally
    // (ExactNames). Specs that select nothing go to `skipped`.
    std::int32_t SelectFiles(const std::vector<std::string>& specs,
                             const std::vector<std::string>& excludeSpecs,
                             std::vector<std::string>* skipped, bool exact = false);
    // The entry called `name`, taken literally: the first whose name is the
    // same bytes, else the first equal to it by SameFileName; none without.
    TZAZRec* FindExactName(std::string_view name);
    // Reads every central header; 0 or a negative code; raises on seek and
    // header errors.
    std::int32_t LoadCentralDirectory();
    // Writes the central headers and end records at the current position:
    // bytes written or a negative code.
    std::int64_t WriteCentralDirectory();

    // ---- state ---------------------------------------------------------------------------
    std::int32_t Count() const { return static_cast<std::int32_t>(entries_.size()); }
    std::int32_t Capacity() const { return capacity_; }
    std::int32_t SelectedCount() const { return selectedCount_; }
    std::int32_t Stamp() const { return stamp_; }
    void SetStamp(std::int32_t s) { stamp_ = s; }
    std::int64_t FirstLocalOffset = 0;
    std::int64_t CentralPosition = 0;
    TZAChangeNotifier* Notifier() const { return notifier_; }
    void SetNotifier(TZAChangeNotifier* n) { notifier_ = n; }

    static constexpr std::uint32_t ziLoadRequested = 0x800;
    static constexpr std::uint32_t ziLoaded = 0x1000;
    static constexpr std::uint32_t ziAuxPending = 0x2000;
    static constexpr std::uint32_t ziDiscard = 0x8000;

protected:
    void Notify(int code, int argument);
    // Reads the headers the end record announced; in a single-part archive
    // the headers the directory's bytes hold instead. True when their number
    // disagrees with the end record (a classic count that wrapped at 65536
    // agrees when `countMayWrap`).
    bool ReadHeaders(std::int64_t centralEnd, bool singlePart, bool countMayWrap);
    // True when a central header signature starts at `position`.
    bool CentralHeaderAt(std::int64_t position);
    // The start of the chain of central headers that ends exactly at `end`,
    // searched backwards through the file; -1 when there is none.
    std::int64_t SearchCentralStart(std::int64_t end);

private:
    std::vector<std::unique_ptr<TZAZRec>> entries_;
    std::int32_t capacity_ = 0;
    std::int32_t stamp_ = 0;
    std::int32_t selectedCount_ = 0;
    TZAChangeNotifier* notifier_ = nullptr;
};
