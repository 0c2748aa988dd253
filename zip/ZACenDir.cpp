#include "zip/ZACenDir.h"

#include <algorithm>
#include <array>

#include "zip/ZALister.h"
#include "zip/ZAMatch.h"
#include "zip/ZAZipFile.h"

// ---- TZADirHashList ---------------------------------------------------------------------

namespace {
// The bucket of a name hash. The hash of similar names (numbered files in
// numbered folders) clusters badly modulo 65537 = 2^16 + 1; a multiplicative
// mix first spreads such names over the buckets.
std::size_t BucketOf(std::uint32_t h, std::size_t buckets) {
    return static_cast<std::uint32_t>(h * 0x9E3779B1u) % buckets;
}

constexpr std::array<std::int32_t, 30> kBucketCounts = {
    61,    131,   257,   389,   521,   641,   769,   1031,  1283,  1543,
    2053,  2579,  3593,  4099,  5147,  6151,  7177,  8209,  10243, 12289,
    14341, 16411, 18433, 20483, 22521, 24593, 28687, 32771, 40961, 65537};
}  // namespace

std::int32_t TZADirHashList::BucketCountFor(std::int32_t n) {
    std::int32_t chosen = kBucketCounts.back();
    if (n < 12000) {
        for (const std::int32_t b : kBucketCounts) {
            if (b >= n) {
                chosen = b;
                break;
            }
        }
    } else {
        chosen = kBucketCounts.front();
        for (auto it = kBucketCounts.rbegin(); it != kBucketCounts.rend(); ++it) {
            if (*it < n) {
                chosen = *it;
                break;
            }
        }
    }
    return std::clamp(chosen, kBucketCounts.front(), kBucketCounts.back());
}

void TZADirHashList::SizeFor(std::int32_t n) {
    heads_.assign(static_cast<std::size_t>(BucketCountFor(n)), kEnd);
    links_.clear();
}

void TZADirHashList::Clear() {
    heads_.clear();
    heads_.shrink_to_fit();
    links_.clear();
    links_.shrink_to_fit();
}

TZAZRec* TZADirHashList::Insert(std::int32_t index, bool allowDuplicate) {
    if (heads_.empty()) {
        SizeFor(1283);
    }
    TZAZRec& entry = owner_.Entry(index);
    const std::uint32_t h = EntryNameHash(entry);
    std::uint32_t* link = &heads_[BucketOf(h, heads_.size())];
    TZAZRec* duplicate = nullptr;
    while (*link != kEnd) {
        Link& l = links_[*link];
        if (l.hash == h) {
            TZAZRec& other = owner_.Entry(static_cast<std::int32_t>(l.index));
            if (SameFileName(entry.FileName(), other.FileName()) == 0) {
                duplicate = &other;
                if (!allowDuplicate) {
                    return duplicate;
                }
            }
        }
        link = &l.next;
    }
    *link = static_cast<std::uint32_t>(links_.size());
    links_.push_back({static_cast<std::uint32_t>(index), h, kEnd});
    return duplicate;
}

std::int32_t TZADirHashList::Find(std::string_view name, bool includeDeleted) const {
    if (heads_.empty()) {
        return -1;
    }
    const std::uint32_t h = NameHashOf(name);
    for (std::uint32_t at = heads_[BucketOf(h, heads_.size())]; at != kEnd; at = links_[at].next) {
        const Link& l = links_[at];
        const auto index = static_cast<std::int32_t>(l.index);
        if (l.hash != h || index < 0 || index >= owner_.Count()) {
            continue;
        }
        TZAZRec& e = owner_.Entry(index);
        if (SameFileName(name, e.FileName()) == 0 && (includeDeleted || !e.TestStatus(esDeleted))) {
            return index;
        }
    }
    return -1;
}

// ---- TZACentralEntry ---------------------------------------------------------------------

// A handle as the application holds it, together with the link it reads
// through.
struct TZACenDir::HandleBox {
    HandleBox(std::shared_ptr<TZAViewLink> l, std::int32_t index, std::int32_t stamp)
        : link(std::move(l)), handle(*link, index) {
        handle.Bind(index, stamp);
    }
    std::shared_ptr<TZAViewLink> link;
    TZACentralEntry handle;
};

TZAZRec* TZACentralEntry::Resolve() const {
    const TZACenDir* view = link_ ? link_->view : nullptr;
    if (view == nullptr) {
        return nullptr;
    }
    const TZAZipFile* zip = view->AttachedZip();
    if (zip == nullptr || zip->Stamp() != stamp_) {
        return nullptr;
    }
    // The entry shown at the handle's place now: after the view changes
    // (folders shown or hidden) the handle reads the entry that took it.
    return view->VisibleEntry(index_);
}

namespace {
const std::string kEmpty;
}  // namespace

std::int64_t TZACentralEntry::CompressedSize() const {
    const TZAZRec* e = Resolve();
    return e ? e->CompressedSize() : 0;
}
std::uint16_t TZACentralEntry::CompressionMethod() const {
    const TZAZRec* e = Resolve();
    return e ? e->CompressionMethod() : 0;
}
std::uint32_t TZACentralEntry::Crc32() const {
    const TZAZRec* e = Resolve();
    return e ? e->Crc32() : 0;
}
std::uint32_t TZACentralEntry::DosDateTime() const {
    const TZAZRec* e = Resolve();
    return e ? e->DosDateTime() : 0;
}
TZAEncodingOpts TZACentralEntry::NameEncoding() {
    TZAZRec* e = Resolve();
    return e ? e->NameEncoding() : zeoOEM;
}
bool TZACentralEntry::IsEncrypted() const {
    const TZAZRec* e = Resolve();
    return e ? e->IsEncrypted() : false;
}
std::uint32_t TZACentralEntry::ExternalAttributes() const {
    const TZAZRec* e = Resolve();
    return e ? e->ExternalAttributes() : 0;
}
std::string TZACentralEntry::ExtraFieldData(std::uint16_t tag) const {
    const TZAZRec* e = Resolve();
    return e ? e->ExtraFieldData(tag) : std::string();
}
const std::string& TZACentralEntry::ExtraField() const {
    const TZAZRec* e = Resolve();
    return e ? e->ExtraField() : kEmpty;
}
std::uint16_t TZACentralEntry::ExtraFieldLength() const {
    const TZAZRec* e = Resolve();
    return e ? e->ExtraFieldLength() : 0;
}
std::string TZACentralEntry::FileComment() {
    TZAZRec* e = Resolve();
    return e ? e->FileComment() : std::string();
}
std::uint16_t TZACentralEntry::StoredCommentLength() const {
    const TZAZRec* e = Resolve();
    return e ? e->StoredCommentLength() : 0;
}
const std::string& TZACentralEntry::FileName() {
    TZAZRec* e = Resolve();
    return e ? e->FileName() : kEmpty;
}
std::uint16_t TZACentralEntry::StoredNameLength() const {
    const TZAZRec* e = Resolve();
    return e ? e->StoredNameLength() : 0;
}
std::uint16_t TZACentralEntry::GeneralFlags() const {
    const TZAZRec* e = Resolve();
    return e ? e->GeneralFlags() : 0;
}
const std::string& TZACentralEntry::StoredName() const {
    const TZAZRec* e = Resolve();
    return e ? e->StoredName() : kEmpty;
}
std::uint16_t TZACentralEntry::InternalAttributes() const {
    const TZAZRec* e = Resolve();
    return e ? e->InternalAttributes() : 0;
}
std::int64_t TZACentralEntry::LocalHeaderOffset() const {
    const TZAZRec* e = Resolve();
    return e ? e->LocalHeaderOffset() : 0;
}
std::uint16_t TZACentralEntry::StartDisk() const {
    const TZAZRec* e = Resolve();
    return e ? e->StartDisk() : 0;
}
std::uint32_t TZACentralEntry::EntryStatus() const {
    const TZAZRec* e = Resolve();
    return e ? e->EntryStatus() : 0;
}
std::int64_t TZACentralEntry::UncompressedSize() const {
    const TZAZRec* e = Resolve();
    return e ? e->UncompressedSize() : 0;
}
std::uint16_t TZACentralEntry::VersionMadeBy() const {
    const TZAZRec* e = Resolve();
    return e ? e->VersionMadeBy() : 0;
}
std::uint16_t TZACentralEntry::VersionNeeded() const {
    const TZAZRec* e = Resolve();
    return e ? e->VersionNeeded() : 0;
}

// ---- TZACenDir -----------------------------------------------------------------------------

TZACenDir::TZACenDir(TZALister& lister)
    : includeDirectories_(lister.UseDirOnlyEntries()),
      lister_(lister),
      link_(std::make_shared<TZAViewLink>()) {
    link_->view = this;
}

TZACenDir::~TZACenDir() {
    link_->view = nullptr;
    if (zip_) {
        zip_->SetNotifier(nullptr);
    }
}

TZAHost& TZACenDir::Host() const {
    return lister_.Host();
}

void TZACenDir::FireNewName(std::int32_t seqNo) {
    auto& host = Host();
    if (host.Events().OnNewName) {
        host.Events().OnNewName(host.Sender(), seqNo);
    }
}

void TZACenDir::FireDirUpdate() {
    auto& host = Host();
    if (host.Events().OnDirUpdate) {
        host.Events().OnDirUpdate(host.Sender());
    }
}

std::shared_ptr<TZACentralEntry> TZACenDir::EntryHandle(std::int32_t i) const {
    if (i < 0 || i >= visibleCount_ || !zip_) {
        return nullptr;
    }
    auto box = std::make_shared<HandleBox>(link_, i, zip_->Stamp());
    return {box, &box->handle};
}

TZAZRec* TZACenDir::VisibleEntry(std::int32_t i) const {
    if (i < 0 || i >= visibleCount_ || !zip_) {
        return nullptr;
    }
    const std::int32_t index = EntryIndex(i);
    return index < zip_->Count() ? &zip_->Entry(index) : nullptr;
}

TZAZipFile& TZACenDir::CurrentZip() {
    if (!zip_ || (zip_->Info & TZACentral::ziDiscard) != 0) {
        AttachZip(std::make_unique<TZAZipFile>(Host()));
    }
    return *zip_;
}

void TZACenDir::AttachZip(std::unique_ptr<TZAZipFile> zip) {
    if (zip && zip.get() == zip_.get()) {
        zip.release();  // the same object: it stays where it is
        return;
    }
    ForgetVisible();
    if (zip_) {
        zip_->SetNotifier(nullptr);
    }
    zip_ = std::move(zip);
    hiddenCount_ = 0;
    if (zip_) {
        zip_->SetNotifier(this);
        stamp_ = zip_->Stamp();
        const std::int32_t n = zip_->Count();
        if (n > 0) {
            for (std::int32_t i = 0; i < n; ++i) {
                if (TryAppend(i)) {
                    FireNewName(visibleCount_ - 1);
                }
            }
        }
    }
    FireDirUpdate();
}

void TZACenDir::SetIncludeDirectories(bool on) {
    if (on == includeDirectories_) {
        return;
    }
    includeDirectories_ = on;
    Rebuild();
}

std::string TZACenDir::ArchiveComment() const {
    return zip_ ? zip_->ArchiveComment : std::string();
}

bool TZACenDir::IsMultiPart() const {
    return zip_ ? zip_->IsMultiPart : false;
}

std::int32_t TZACenDir::PartCount() const {
    return zip_ ? zip_->DiskCount : 0;
}

void TZACenDir::ForgetVisible() {
    visible_.clear();
    visible_.shrink_to_fit();
    visibleCount_ = 0;
    hiddenCount_ = 0;
}

bool TZACenDir::TryAppend(std::int32_t index) {
    if (!zip_) {
        return false;
    }
    const bool hide = !includeDirectories_ && zip_->Entry(index).TestStatus(esDirectory);
    if (visible_.empty() && (hide || index != visibleCount_)) {
        // The first visible entry that is not at its own index: from here
        // on the visible entries' indexes are listed.
        visible_.reserve(static_cast<std::size_t>(zip_->Count()));
        for (std::int32_t i = 0; i < visibleCount_; ++i) {
            visible_.push_back(i);
        }
    }
    if (hide) {
        ++hiddenCount_;
        return false;
    }
    if (!visible_.empty() || index != visibleCount_) {
        visible_.push_back(index);
    }
    ++visibleCount_;
    return true;
}

void TZACenDir::Rebuild() {
    ForgetVisible();
    const std::int32_t n = zip_ ? zip_->Count() : 0;
    for (std::int32_t i = 0; i < n; ++i) {
        TryAppend(i);
    }
    visible_.shrink_to_fit();
}

void TZACenDir::DirChanged(TZACentral& sender, int argument, int code) {
    if (&sender != zip_.get()) {
        return;
    }
    switch (code) {
        case cnCleared:
            ForgetVisible();
            break;
        case cnCapacity:
            break;
        case cnEntryAdded:
            if (TryAppend(argument)) {
                FireNewName(visibleCount_ - 1);
            }
            break;
        case cnLoaded:
            if (!visible_.empty()) {
                visible_.shrink_to_fit();
            }
            if (!holdLoadedUpdate_) {
                FireDirUpdate();
            }
            break;
        case cnRenumber:
            Rebuild();
            break;
        default:
            break;
    }
}
