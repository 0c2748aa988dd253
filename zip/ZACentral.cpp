#include "zip/ZACentral.h"

#include <algorithm>

#include "platform/CentralSearch.h"
#include "platform/ZipRecords.h"
#include "zip/ZAMatch.h"
#include "zip/ZAXcpt.h"

using namespace zrec;

// ---- name hash -------------------------------------------------------------------------

std::uint32_t NameHashOf(std::string_view name) {
    std::uint32_t h = 0;
    for (const char c : name) {
        auto b = static_cast<std::uint8_t>(c);
        if (b >= 'a' && b <= 'z') {
            b = static_cast<std::uint8_t>(b - 32);
        } else if (b == '\\') {
            b = '/';
        }
        h = (h << 4) + b;
        const std::uint32_t g = h & 0xF0000000u;
        if (g != 0) {
            h = (h ^ (g >> 24)) & 0x0FFFFFFFu;
        }
    }
    return h;
}

std::uint32_t EntryNameHash(TZAZRec& entry) {
    return NameHashOf(entry.FileName());
}

// ---- TZACentral ---------------------------------------------------------------------------

TZACentral::TZACentral(TZAHost& host, TZAWorkBin* owner) : TZAEOC(host, owner) {}

TZACentral::~TZACentral() = default;

void TZACentral::Notify(int code, int argument) {
    if (notifier_ != nullptr) {
        notifier_->DirChanged(*this, argument, code);
    }
}

void TZACentral::Clear() {
    entries_.clear();
    entries_.shrink_to_fit();
    capacity_ = 0;
    selectedCount_ = 0;
}

std::unique_ptr<TZAZRec> TZACentral::CloneEntry(const TZAZRec& entry) {
    auto copy = std::make_unique<TZAZRec>(*this);
    copy->AssignFrom(entry);
    return copy;
}

void TZACentral::SetCapacity(std::int32_t n) {
    const std::int32_t wanted = (std::max(n, 0) | 15) + 1;
    if (wanted > capacity_) {
        capacity_ = wanted;
        // Growing one step at a time must not copy the table each time.
        if (static_cast<std::size_t>(wanted) > entries_.capacity()) {
            entries_.reserve(std::max(static_cast<std::size_t>(wanted), entries_.capacity() * 2));
        }
    }
}

std::int32_t TZACentral::Add(std::unique_ptr<TZAZRec> entry) {
    if (Count() >= capacity_) {
        SetCapacity(Count() + 64);
    }
    if (entry->TestStatus(esSelected)) {
        ++selectedCount_;
    }
    entries_.push_back(std::move(entry));
    return Count() - 1;
}

void TZACentral::ClearCachedNames() {
    for (auto& e : entries_) {
        e->ClearCachedName();
    }
}

TZAZRec* TZACentral::FindName(std::string_view name, std::int32_t& index, bool hasWildcards) {
    if (name.empty()) {
        index = kNoIndex;
        return nullptr;
    }
    const std::uint32_t h = hasWildcards ? 0 : NameHashOf(name);
    for (std::int32_t i = std::max(index + 1, 0); i < Count(); ++i) {
        TZAZRec& e = *entries_[static_cast<std::size_t>(i)];
        if (e.TestStatus(esSearchSkip)) {
            continue;
        }
        if (!hasWildcards) {
            if (EntryNameHash(e) != h || SameFileName(name, e.FileName()) != 0) {
                continue;
            }
        } else if (!FileNameMatch(name, e.FileName())) {
            continue;
        }
        index = i;
        return &e;
    }
    index = kNoIndex;
    return nullptr;
}

std::int32_t TZACentral::FindDuplicate(TZAZRec& entry) {
    const bool wasSkipped = entry.SetStatus(esSearchSkip);
    std::int32_t index = -1;
    const std::string name = entry.FileName();
    TZAZRec* found = nullptr;
    do {
        found = TZACentral::FindName(name, index, false);
    } while (found != nullptr && found->TestStatus(esDeleted));
    if (!wasSkipped) {
        entry.ClearStatus(esSearchSkip);
    }
    if (found == nullptr) {
        return -1;
    }
    ReportTrace("Duplicate FileName: " + name);
    return index;
}

std::int32_t TZACentral::FindLiveDuplicate(const std::string& name, const TZAZRec& self) {
    std::int32_t index = -1;
    while (TZAZRec* hit = TZACentral::FindName(name, index, false)) {
        if (hit != &self && !hit->TestStatus(esDeleted)) {
            return index;
        }
    }
    return -1;
}

std::int32_t TZACentral::TruncateFrom(std::int32_t index) {
    index = std::max(index, 0);
    std::int32_t removed = 0;
    while (Count() > index) {
        if (entries_.back()->TestStatus(esSelected)) {
            --selectedCount_;
        }
        entries_.pop_back();
        ++removed;
    }
    return removed;
}

TZAZRec& TZACentral::Entry(std::int32_t index) const {
    RangeCheck(index, Count());
    return *entries_[static_cast<std::size_t>(index)];
}

void TZACentral::Replace(std::int32_t index, std::unique_ptr<TZAZRec> entry) {
    RangeCheck(index, Count());
    auto& slot = entries_[static_cast<std::size_t>(index)];
    selectedCount_ +=
        (entry->TestStatus(esSelected) ? 1 : 0) - (slot->TestStatus(esSelected) ? 1 : 0);
    slot = std::move(entry);
}

std::int32_t TZACentral::NextSelected(std::int32_t after) const {
    if (after < -1) {
        return kNoIndex;
    }
    const std::uint32_t unwanted = UseDirOnlyEntries() ? esExcluded : (esExcluded | esDirectory);
    for (std::int32_t i = after + 1; i < Count(); ++i) {
        const TZAZRec& e = *entries_[static_cast<std::size_t>(i)];
        if (e.TestStatus(esSelected) && !e.TestStatus(unwanted)) {
            return i;
        }
    }
    return kNoIndex;
}

void TZACentral::DeselectAll() {
    for (auto& e : entries_) {
        e->Select(0);
    }
    selectedCount_ = 0;
}

std::int32_t TZACentral::Select(TZAZRec& entry, int mode) {
    const bool was = entry.TestStatus(esSelected);
    const bool now = entry.Select(mode);
    if (was != now) {
        selectedCount_ += now ? 1 : -1;
    }
    return now ? 1 : 0;
}

namespace {
bool SelectsAll(const std::string& spec) {
    return spec.empty() || (!HasNoWildcards(spec) && (spec == "*.*" || spec == "*"));
}
}  // namespace

std::int32_t TZACentral::SelectMatching(const std::string& spec, int mode) {
    std::int32_t selected = 0;
    if (!SelectsAll(spec)) {
        const bool wild = !HasNoWildcards(spec);
        std::int32_t index = -1;
        while (TZAZRec* hit = FindName(spec, index, wild)) {
            selected += Select(*hit, mode);
            if (!wild) {
                break;
            }
        }
        return selected;
    }
    for (auto& e : entries_) {
        selected += Select(*e, mode);
    }
    return selected;
}

std::int32_t TZACentral::SelectWithExcludes(const std::string& spec, const std::string& excludes,
                                            int mode) {
    std::int32_t applied = 0;
    auto apply = [&](TZAZRec& e) {
        if (!excludes.empty() && FileNameMatch(excludes, e.FileName())) {
            return;
        }
        Select(e, mode);
        ++applied;
    };
    if (!SelectsAll(spec)) {
        const bool wild = !HasNoWildcards(spec);
        std::int32_t index = -1;
        while (TZAZRec* hit = FindName(spec, index, wild)) {
            apply(*hit);
            if (!wild) {
                break;
            }
        }
        return applied;
    }
    for (auto& e : entries_) {
        apply(*e);
    }
    return applied;
}

TZAZRec* TZACentral::FindExactName(std::string_view name) {
    TZAZRec* first = nullptr;
    std::int32_t index = -1;
    while (TZAZRec* hit = FindName(name, index, false)) {
        if (hit->FileName() == name) {
            return hit;
        }
        if (first == nullptr) {
            first = hit;
        }
    }
    return first;
}

std::int32_t TZACentral::SelectFiles(const std::vector<std::string>& specs,
                                     const std::vector<std::string>& excludeSpecs,
                                     std::vector<std::string>* skipped, bool exact) {
    DeselectAll();
    if (specs.empty() || Count() == 0) {
        return 0;
    }
    if (exact) {
        std::int32_t total = 0;
        for (const auto& name : specs) {
            TZAZRec* hit = FindExactName(name);
            const bool excluded =
                hit != nullptr &&
                std::any_of(excludeSpecs.begin(), excludeSpecs.end(),
                            [&](const std::string& x) { return FindExactName(x) == hit; });
            if (hit == nullptr || excluded) {
                ReportTrace("Skipped entry " + name);
                if (skipped != nullptr) {
                    skipped->push_back(name);
                }
                continue;
            }
            Select(*hit, 1);
            ++total;
        }
        return total;
    }
    std::string excludes;
    for (const auto& x : excludeSpecs) {
        if (!excludes.empty()) {
            excludes += '|';
        }
        excludes += x;
    }
    std::int32_t total = 0;
    for (const auto& spec : specs) {
        const std::int32_t n = SelectWithExcludes(spec, excludes, 1);
        if (n < 1) {
            ReportTrace("Skipped filespec " + spec);
            if (skipped != nullptr) {
                skipped->push_back(spec);
            }
            continue;
        }
        total += n;
        if (n >= Count()) {
            break;
        }
    }
    return total;
}

void TZACentral::AssignFrom(const TZAWorkFile& other) {
    TZAEOC::AssignFrom(other);
    const auto* src = dynamic_cast<const TZACentral*>(&other);
    if (src == nullptr) {
        return;
    }
    Clear();
    stamp_ = NextStamp();
    notifier_ = src->notifier_;
    FirstLocalOffset = src->FirstLocalOffset;
    CentralPosition = src->CentralPosition;
    SetCapacity(src->Count());
    for (const auto& e : src->entries_) {
        if (e->TestStatus(esDropped | esDeleted)) {
            continue;
        }
        Add(CloneEntry(*e));
    }
}

// ---- loading ----------------------------------------------------------------------------

bool TZACentral::ReadHeaders(std::int64_t centralEnd, bool singlePart, bool countMayWrap) {
    const std::int64_t announced = std::max<std::int32_t>(TotalEntries, 0);
    auto readOne = [&]() {
        auto rec = std::make_unique<TZAZRec>(*this);
        const std::int32_t r = rec->ReadCentralHeader();
        if (r < 0) {
            throw EZipArchiver(r == -1 ? ZA_CODE(164) : ZAAbsCode(r));
        }
        if (r > 0) {
            HasZip64 = true;
        }
        const std::int64_t offset = rec->LocalHeaderOffset();
        const std::int32_t index = Add(std::move(rec));
        Notify(cnEntryAdded, index);
        FirstLocalOffset = std::min(FirstLocalOffset, offset);
        ReportProgress(2, 0, 1, {});
        CheckCancelAndRaise();
    };
    if (!singlePart) {
        for (std::int64_t i = 0; i < announced; ++i) {
            readOne();
        }
        return false;
    }
    // In a single part the directory's own bytes say how many headers there
    // are, as other readers take them: read the announced ones while headers
    // follow, and on while headers lie inside the directory's bytes. A count
    // that disagrees is reported once; a classic (16-bit) count of a
    // directory with 65536 or more entries wraps and agrees modulo 65536.
    const std::int64_t fileEnd = LogicalSize;
    std::uint8_t sig[4];
    for (;;) {
        const std::int64_t pos = Position();
        const std::int64_t limit = Count() < announced ? fileEnd : centralEnd;
        if (pos < 0 || pos + static_cast<std::int64_t>(central::kSize) > limit) {
            break;
        }
        const bool more = ReadPlain(sig, 4) == 4 && GetU32(sig) == kCentralHeaderSig;
        SetPosition(pos);
        if (!more) {
            break;
        }
        readOne();
    }
    if (Count() == 0 && announced > 0) {
        // Not a single header where entries were announced: no directory.
        throw EZipArchiver(ZA_CODE(119));
    }
    const std::int64_t difference = Count() - announced;
    return difference != 0 && !(countMayWrap && difference % 65536 == 0);
}

bool TZACentral::CentralHeaderAt(std::int64_t position) {
    std::uint8_t sig[4];
    return position >= 0 && position + static_cast<std::int64_t>(central::kSize) <= LogicalSize &&
           Seek(kSeekBegin, position) == position && ReadPlain(sig, 4) == 4 &&
           GetU32(sig) == kCentralHeaderSig;
}

std::int64_t TZACentral::SearchCentralStart(std::int64_t end) {
    // The search itself is the platform's, shared with the engine; here it
    // reads through the work file and can be cancelled between its chunks.
    const auto found = FindCentralStart(
        [this](std::uint64_t offset, std::span<std::uint8_t> out) {
            CheckCancelAndRaise();
            const auto at = static_cast<std::int64_t>(offset);
            const auto length = static_cast<std::int32_t>(out.size());
            return Seek(kSeekBegin, at) == at && ReadPlain(out.data(), length) == length;
        },
        static_cast<std::uint64_t>(std::max<std::int64_t>(end, 0)));
    return found ? static_cast<std::int64_t>(*found) : -1;
}

std::int32_t TZACentral::LoadCentralDirectory() {
    if (!IsOpen()) {
        return -ZA_CODE(164);
    }
    if ((Info & ziLoadRequested) == 0) {
        return -ZA_CODE(1);
    }
    Clear();
    stamp_ = NextStamp();
    Notify(cnCleared, stamp_);

    std::int64_t expected = CentralOffset;
    bool ok = false;
    std::int32_t result = 0;
    const bool zip64Used = Zip64RecordOffset >= 0;
    bool warned = false;
    auto warnOnce = [&] {
        if (!warned) {
            warned = true;
            ReportLoadWarning(ZA_CODE(20));
        }
    };
    try {
        // Where the directory ends when it lies on this part: at the Zip64
        // end record, or at the end record.
        std::int64_t end = -1;
        if (CentralStartDisk != DiskNumber) {
            OpenPartForReading(CentralStartDisk);
            LogicalSize = FileSize();
        } else {
            end = zip64Used ? Zip64RecordOffset
                            : LogicalSize - (static_cast<std::int64_t>(ArchiveComment.size()) +
                                             static_cast<std::int64_t>(eocd::kSize));
            expected = end - CentralSize;
        }
        CentralPosition = expected;
        FirstLocalOffset = expected >= 0 && expected < (std::int64_t{1} << 32) ? expected : 0;
        if (LogicalSize == static_cast<std::int64_t>(eocd::kSize)) {
            FirstLocalOffset = 0;
        }
        if (CentralOffset != expected) {
            // Data in front whose offsets were not adjusted, or a directory
            // that is not where its size and offset say.
            warnOnce();
            if (CentralHeaderAt(CentralOffset)) {
                CentralPosition = CentralOffset;
            } else if (end > 0 && !CentralHeaderAt(expected)) {
                // Neither place holds a header: search for the directory's
                // first one, as other readers do (a shifted or cut archive).
                const std::int64_t found = SearchCentralStart(end);
                if (found >= 0) {
                    CentralPosition = found;
                    CentralSize = end - found;
                }
            }
        }
        if (CentralPosition < 0 || CentralPosition > LogicalSize) {
            throw EZipArchiver(ZA_CODE(152));
        }
        SeekOrRaise(kSeekBegin, ZA_CODE(204), CentralPosition);
        ReportProgress(1, 0, TotalEntries, MessageText(41));
        // Sized by what the directory's bytes can hold, not by the claim.
        const auto plausible = static_cast<std::int32_t>(PlausibleEntryCount());
        SetCapacity(plausible);
        Notify(cnCapacity, plausible);

        const bool single = !IsMultiPart && DiskCount <= 1;
        std::int64_t centralEnd = CentralPosition + CentralSize;
        if (EndRecordOffset > 0) {
            centralEnd = std::min(centralEnd, EndRecordOffset);
        }
        if (ReadHeaders(centralEnd, single, !zip64Used)) {
            warnOnce();
        }
        Info |= ziLoaded;
        ok = true;
    } catch (const EZAException& e) {
        result = -e.FullCode;
    } catch (...) {
        ReportProgress(1, 0, -1, {});
        Clear();
        SetFileName({});
        FirstLocalOffset = 0;
        Close();
        Notify(cnCleared, stamp_);
        Notify(cnLoaded, Count());
        throw;
    }
    ReportProgress(1, 0, -1, {});
    if (ok) {
        // Offsets in the headers count from the archive's own start; when the
        // directory sat elsewhere, data starts that much later (a stub or
        // junk in front whose offsets were not adjusted).
        const std::int64_t shift = CentralPosition - CentralOffset;
        CentralOffset = CentralPosition;
        FirstLocalOffset = std::max<std::int64_t>(0, FirstLocalOffset + shift);
        if (Count() == 0) {
            FirstLocalOffset = std::max<std::int64_t>(0, CentralPosition);
        }
    } else {
        Clear();
        SetFileName({});
        FirstLocalOffset = 0;
        Close();
        Notify(cnCleared, stamp_);  // the view drops what it bound meanwhile
    }
    Notify(cnLoaded, Count());
    return result;
}

// ---- writing -------------------------------------------------------------------------------

std::int64_t TZACentral::WriteCentralDirectory() {
    CentralOffset = Position();
    CentralStartDisk = DiskNumber;
    TotalEntries = 0;
    CentralEntriesOnDisk = 0;
    CentralSize = 0;
    ReportProgress(6, 39 - 32, Count(), {});
    std::int64_t bytes = 0;
    for (std::int32_t i = 0; i < Count(); ++i) {
        TZAZRec& e = *entries_[static_cast<std::size_t>(i)];
        if (e.TestStatus(esDropped | esDeleted)) {
            if (TraceLevel() > 1) {
                ReportTrace("skipped Writing central [" + std::to_string(i) + "] " + e.FileName());
            }
            continue;
        }
        if (TraceLevel() > 1) {
            ReportTrace("Writing central [" + std::to_string(i) + "] " + e.FileName());
        }
        const std::int32_t r = e.WriteCentralHeader();
        if (r < 0) {
            return r;
        }
        if (Position() <= r) {
            CentralEntriesOnDisk = 0;  // the header started a new part
        }
        CentralSize += r;
        bytes += r;
        ++TotalEntries;
        ++CentralEntriesOnDisk;
        ReportProgress(7, 0, 1, {});
    }
    const std::int32_t end = WriteEndRecords();
    if (end < 0) {
        return end;
    }
    if (TraceLevel() > 1) {
        ReportTrace("  finished ok");
    }
    return bytes + end;
}
