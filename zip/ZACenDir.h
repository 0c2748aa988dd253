// The directory view and the name index of a loaded archive.
//
// TZADirHashList: the hash index of a zip file object's entries: one flat
// array of chain links (entry index, name hash, next) and one array of
// chain heads, so indexing a large directory allocates twice; bucket
// counts are primes between 61 and 65537.
//
// TZACenDir: what the application sees of the loaded archive. It owns the
// current zip file object and knows which entries are shown (folder
// entries may be hidden). A handle (TZACentralEntry) for a place in the
// view is made when the application asks for it; it reads through to the
// entry record shown at that place while the archive generation it was
// made for is current, and reads as empty afterwards -- also after the
// view itself is gone, because handles are shared with the application
// and only hold a link that the view cuts when it dies. Nothing is kept
// per entry for handles: a large directory costs its records alone (and
// the list of shown entries' indexes, once an entry is hidden).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zip/ZACentral.h"
#include "zip/ZAIRec.h"

class TZAZipFile;
class TZACenDir;
class TZALister;
class TZAHost;

class TZADirHashList {
public:
    explicit TZADirHashList(TZACentral& owner) : owner_(owner) {}
    TZADirHashList(const TZADirHashList&) = delete;
    TZADirHashList& operator=(const TZADirHashList&) = delete;

    // Indexes entry `index`; returns the entry already indexed under the same
    // name (the last one met), or nullptr. Without `allowDuplicate` such a
    // name is not added again.
    TZAZRec* Insert(std::int32_t index, bool allowDuplicate);
    // The index of the entry named `name` (deleted ones only when
    // `includeDeleted`), or -1; -1 also without a table.
    std::int32_t Find(std::string_view name, bool includeDeleted) const;
    // Sizes (and empties) the table for about n names.
    void SizeFor(std::int32_t n);
    void Clear();
    bool IsEmpty() const { return heads_.empty(); }
    std::int32_t Length() const { return static_cast<std::int32_t>(heads_.size()); }
    // How many entries are indexed.
    std::int32_t Size() const { return static_cast<std::int32_t>(links_.size()); }

    // The bucket count SizeFor chooses for n names.
    static std::int32_t BucketCountFor(std::int32_t n);

private:
    static constexpr std::uint32_t kEnd = 0xFFFFFFFFu;
    struct Link {
        std::uint32_t index;
        std::uint32_t hash;  // of the name the entry had when it was indexed
        std::uint32_t next;  // position in links_, or kEnd
    };

    TZACentral& owner_;
    std::vector<std::uint32_t> heads_;  // per bucket: position in links_, or kEnd
    std::vector<Link> links_;
};

// The part of a view its handles may outlive: the view clears the pointer
// when it is destroyed.
struct TZAViewLink {
    TZACenDir* view = nullptr;
};

class TZACentralEntry : public TZADirEntry {
public:
    // `link` must outlive the handle (the box holding both sees to that);
    // `index` is the handle's place in the view.
    TZACentralEntry(const TZAViewLink& link, std::int32_t index) : link_(&link), index_(index) {}

    std::int64_t CompressedSize() const override;
    std::uint16_t CompressionMethod() const override;
    std::uint32_t Crc32() const override;
    std::uint32_t DosDateTime() const override;
    TZAEncodingOpts NameEncoding() override;
    bool IsEncrypted() const override;
    std::uint32_t ExternalAttributes() const override;
    std::string ExtraFieldData(std::uint16_t tag) const override;
    const std::string& ExtraField() const override;
    std::uint16_t ExtraFieldLength() const override;
    std::string FileComment() override;
    std::uint16_t StoredCommentLength() const override;
    const std::string& FileName() override;
    std::uint16_t StoredNameLength() const override;
    std::uint16_t GeneralFlags() const override;
    const std::string& StoredName() const override;
    std::uint16_t InternalAttributes() const override;
    std::int64_t LocalHeaderOffset() const override;
    std::uint16_t StartDisk() const override;
    std::uint32_t EntryStatus() const override;
    std::int64_t UncompressedSize() const override;
    std::uint16_t VersionMadeBy() const override;
    std::uint16_t VersionNeeded() const override;

    std::int32_t Stamp() const { return stamp_; }
    std::int32_t Index() const { return index_; }
    void Bind(std::int32_t index, std::int32_t stamp) {
        index_ = index;
        stamp_ = stamp;
    }
    // The entry record this handle reads, or nullptr when it is stale.
    TZAZRec* Resolve() const;

private:
    const TZAViewLink* link_;
    std::int32_t stamp_ = 0;
    std::int32_t index_ = 0;
};

class TZACenDir : public TZAChangeNotifier {
public:
    explicit TZACenDir(TZALister& lister);
    ~TZACenDir() override;
    TZACenDir(const TZACenDir&) = delete;
    TZACenDir& operator=(const TZACenDir&) = delete;

    std::int32_t VisibleCount() const { return visibleCount_; }
    std::int32_t HiddenCount() const { return hiddenCount_; }
    // Handle i, or nullptr when i is out of range. Each call makes a new
    // handle, bound to the entry record shown at i now.
    std::shared_ptr<TZACentralEntry> EntryHandle(std::int32_t i) const;
    // The entry record shown at i, or nullptr when i is out of range; valid
    // until the directory changes.
    TZAZRec* VisibleEntry(std::int32_t i) const;
    // The attached zip file object; a fresh one when there is none or it
    // is stale.
    TZAZipFile& CurrentZip();
    TZAZipFile* AttachedZip() const { return zip_.get(); }
    // Takes the object (nullptr detaches); always raises OnDirUpdate.
    void AttachZip(std::unique_ptr<TZAZipFile> zip);
    bool IncludeDirectories() const { return includeDirectories_; }
    void SetIncludeDirectories(bool on);
    std::string ArchiveComment() const;
    bool IsMultiPart() const;
    std::int32_t PartCount() const;
    std::int32_t Stamp() const { return stamp_; }
    // While held, a finished load does not raise OnDirUpdate: the caller
    // raises it once itself (a full list is not filled twice).
    void HoldLoadedUpdate(bool on) { holdLoadedUpdate_ = on; }
    // Tells the application that the directory changed (OnDirUpdate).
    void FireDirUpdate();

    void DirChanged(TZACentral& sender, int argument, int code) override;

private:
    struct HandleBox;

    // The index of the entry record shown at i.
    std::int32_t EntryIndex(std::int32_t i) const {
        return visible_.empty() ? i : visible_[static_cast<std::size_t>(i)];
    }
    void ForgetVisible();
    void Rebuild();
    // Shows entry `index` after the visible ones, unless it is hidden.
    bool TryAppend(std::int32_t index);
    void FireNewName(std::int32_t seqNo);
    TZAHost& Host() const;

    std::int32_t visibleCount_ = 0;
    std::unique_ptr<TZAZipFile> zip_;
    // The entry records shown, by their indexes; empty while each entry
    // shown is at its own index (no hidden entry before it).
    std::vector<std::int32_t> visible_;
    bool includeDirectories_ = false;
    bool holdLoadedUpdate_ = false;
    std::int32_t stamp_ = 0;
    std::int32_t hiddenCount_ = 0;
    TZALister& lister_;
    std::shared_ptr<TZAViewLink> link_;
};
