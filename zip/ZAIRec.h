// The entry records of a loaded archive and their on-disk routines.
//
//   TZADirEntry  read-only entry interface (what the application sees)
//   TZADirRec    adds the mutating operations
//   TZAIRec      the fields shared by every entry record
//   TZAZRec      a central directory entry: stored name, comment and extra
//                field, and the routines that read and write its central
//                header, local header and data descriptor through the
//                owning archive object (a TZAWorkZip).
//
// Names and comments are kept as stored bytes; FileName and FileComment
// decode them for display (OEM = CP850, ANSI = Windows-1252, UTF-8 by flag
// bit 11 or by a valid Info-ZIP Unicode record) into the component's string
// form, with "/" as the separator. New names are stored by the rules of
// ChooseStoredForm.
//
// Record routines return a signed 32-bit result: a count or success value
// when not negative, a negative packed error code otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "zip/ZATypes.h"

class TZAWorkZip;

// EntryStatus bits.
inline constexpr std::uint32_t esChanged = 0x1;
inline constexpr std::uint32_t esSelected = 0x2;
inline constexpr std::uint32_t esExcluded = 0x4;  // skipped by NextSelected and hash rebuilds
inline constexpr std::uint32_t esSearchSkip = 0x8;
inline constexpr std::uint32_t esDirectory = 0x10;
inline constexpr std::uint32_t esIncomplete = 0x20;
inline constexpr std::uint32_t esDropped = 0x40;
inline constexpr std::uint32_t esDeleted = 0x80;
inline constexpr std::uint32_t esHashValid = 0x100;  // no longer set: hashes live in the name index
inline constexpr std::uint32_t esLocalExtraBuilt = 0x200;
inline constexpr std::uint32_t esLocalZip64 = 0x400;
// The detected NameEncoding (1-4) cached in bits 16-18; 0 = not yet detected.
inline constexpr std::uint32_t esEncodingMask = 0x70000;
inline constexpr int esEncodingShift = 16;

// Made-by values the stored-form rules produce: host 0 (MS-DOS) version
// 3.0, and host 11 (NTFS) version 3.0 for ANSI names.
inline constexpr std::uint16_t kMadeByDos30 = 30;
inline constexpr std::uint16_t kMadeByAnsi = 0x0B1E;

class TZADirEntry {
public:
    virtual ~TZADirEntry() = default;
    virtual std::int64_t CompressedSize() const = 0;
    virtual std::uint16_t CompressionMethod() const = 0;
    virtual std::uint32_t Crc32() const = 0;
    virtual std::uint32_t DosDateTime() const = 0;
    virtual TZAEncodingOpts NameEncoding() = 0;
    virtual bool IsEncrypted() const = 0;
    virtual std::uint32_t ExternalAttributes() const = 0;
    // The data of the first extra record with `tag` (empty when absent).
    virtual std::string ExtraFieldData(std::uint16_t tag) const = 0;
    virtual const std::string& ExtraField() const = 0;
    virtual std::uint16_t ExtraFieldLength() const = 0;
    virtual std::string FileComment() = 0;
    virtual std::uint16_t StoredCommentLength() const = 0;
    virtual const std::string& FileName() = 0;
    virtual std::uint16_t StoredNameLength() const = 0;
    virtual std::uint16_t GeneralFlags() const = 0;
    virtual const std::string& StoredName() const = 0;
    virtual std::uint16_t InternalAttributes() const = 0;
    virtual std::int64_t LocalHeaderOffset() const = 0;
    virtual std::uint16_t StartDisk() const = 0;
    virtual std::uint32_t EntryStatus() const = 0;
    virtual std::int64_t UncompressedSize() const = 0;
    virtual std::uint16_t VersionMadeBy() const = 0;
    virtual std::uint16_t VersionNeeded() const = 0;
};

class TZADirRec : public TZADirEntry {
public:
    virtual std::int32_t SetExternalAttributes(std::uint32_t value) = 0;
    virtual std::int32_t SetFileComment(const std::string& text) = 0;
    virtual std::int32_t SetExtraField(const std::string& bytes) = 0;
    virtual std::int32_t SetDosDateTime(std::uint32_t value) = 0;
    virtual std::int32_t Reencode() = 0;
    virtual std::int32_t SetFileName(const std::string& name) = 0;
    virtual std::int32_t WriteDataDescriptor() = 0;
    virtual void AssignFrom(const TZADirRec& other) = 0;
    virtual std::int64_t CopyEntryData() = 0;
    virtual std::int64_t CopySizeEstimate() = 0;
    virtual std::int32_t CheckLocalHeader() = 0;
};

class TZAIRec : public TZADirRec {
public:
    std::int64_t CompressedSize() const override { return compressedSize_; }
    std::uint16_t CompressionMethod() const override { return compressionMethod_; }
    std::uint32_t Crc32() const override { return crc32_; }
    std::uint32_t DosDateTime() const override { return dosDateTime_; }
    std::uint32_t ExternalAttributes() const override { return externalAttributes_; }
    std::string ExtraFieldData(std::uint16_t tag) const override;
    std::uint16_t StoredNameLength() const override;
    std::uint16_t InternalAttributes() const override { return internalAttributes_; }
    std::int64_t LocalHeaderOffset() const override { return localHeaderOffset_; }
    std::uint16_t StartDisk() const override { return static_cast<std::uint16_t>(startDisk_); }
    std::uint32_t EntryStatus() const override { return entryStatus_; }
    std::int64_t UncompressedSize() const override { return uncompressedSize_; }
    std::uint16_t VersionNeeded() const override { return versionNeeded_; }

    std::int32_t SetExternalAttributes(std::uint32_t value) override;
    void AssignFrom(const TZADirRec& other) override;
    std::int64_t CopyEntryData() override { return 0; }
    std::int64_t CopySizeEstimate() override { return 0; }

    // The previous state of `bits` (all of them set / any of them set).
    bool SetStatus(std::uint32_t bits);
    bool ClearStatus(std::uint32_t bits);
    bool TestStatus(std::uint32_t bits) const { return (entryStatus_ & bits) != 0; }
    // 0 deselects (and clears SelectionArgs), 1 selects, other values
    // toggle; returns the new state.
    bool Select(int mode);

    // The whole disk number (the interface's StartDisk is 16 bits).
    std::uint32_t StartDiskNumber() const { return startDisk_; }
    const std::string& SelectionArgs() const;
    void SetSelectionArgs(const std::string& args);
    // A free text of the operations (copied by AssignFrom).
    const std::string& AuxText() const;
    void SetAuxText(const std::string& text);

    // Plain setters for writers that fill an entry (no status change).
    void SetCompressedSize(std::int64_t v) { compressedSize_ = v; }
    void SetUncompressedSize(std::int64_t v) { uncompressedSize_ = v; }
    void SetCompressionMethod(std::uint16_t v) { compressionMethod_ = v; }
    void SetCrc32(std::uint32_t v) { crc32_ = v; }
    void SetStartDisk(std::uint32_t v) { startDisk_ = v; }
    void SetInternalAttributes(std::uint16_t v) { internalAttributes_ = v; }
    void SetLocalHeaderOffset(std::int64_t v) { localHeaderOffset_ = v; }
    void SetVersionNeeded(std::uint16_t v) { versionNeeded_ = v; }
    void SetEntryStatus(std::uint32_t v) { entryStatus_ = v; }

protected:
    // The texts an entry rarely has. A loaded archive holds one record per
    // entry, so they live apart and exist only once one of them is set.
    struct Texts {
        std::string selectionArgs;
        std::string auxText;
        std::string storedComment;
        std::string localExtraField;
        // The name the archive holds on disk, while it differs from the
        // stored name (a rename not yet written).
        std::optional<std::string> lastStoredName;
        // The display name, when it differs from the stored bytes.
        std::string decodedName;
    };
    Texts& MutableTexts();
    // A text of `texts_`, or the empty text while there are none.
    const std::string& TextOrEmpty(std::string Texts::*field) const;

    std::unique_ptr<Texts> texts_;
    std::int64_t compressedSize_ = 0;
    std::int64_t uncompressedSize_ = 0;
    std::int64_t localHeaderOffset_ = 0;
    std::uint32_t crc32_ = 0;
    std::uint32_t startDisk_ = 0;
    std::uint32_t externalAttributes_ = 0;
    std::uint32_t dosDateTime_ = 0;
    std::uint32_t entryStatus_ = 0;
    std::uint16_t compressionMethod_ = 0;
    std::uint16_t internalAttributes_ = 0;
    std::uint16_t versionNeeded_ = 0;
};

// The stored form of a new name and comment (ChooseStoredForm).
struct TZAStoredForm {
    std::string name;           // stored name bytes
    std::string comment;        // stored comment bytes
    std::string extra;          // the new central extra field
    bool extraChanged = false;  // its length changed or a Unicode record was added
    bool utf8Flag = false;      // general-purpose bit 11
    std::uint16_t madeBy = kMadeByDos30;
};

class TZAZRec : public TZAIRec {
public:
    explicit TZAZRec(TZAWorkZip& owner) : owner_(&owner) {}

    // ---- the interface -----------------------------------------------------------
    TZAEncodingOpts NameEncoding() override;
    bool IsEncrypted() const override;
    const std::string& ExtraField() const override;
    std::uint16_t ExtraFieldLength() const override;
    std::string FileComment() override { return DecodeStoredText(true); }
    std::uint16_t StoredCommentLength() const override;
    const std::string& FileName() override;
    std::uint16_t GeneralFlags() const override { return generalFlags_; }
    const std::string& StoredName() const override { return storedName_; }
    std::uint16_t VersionMadeBy() const override { return versionMadeBy_; }

    std::int32_t SetFileComment(const std::string& text) override;
    std::int32_t SetExtraField(const std::string& bytes) override;
    std::int32_t SetDosDateTime(std::uint32_t value) override;
    std::int32_t Reencode() override;
    std::int32_t SetFileName(const std::string& name) override;
    std::int32_t WriteDataDescriptor() override;
    void AssignFrom(const TZADirRec& other) override;
    std::int32_t CheckLocalHeader() override;

    // ---- record routines ---------------------------------------------------------
    // Reads a central header at the owner's position: 0, 1 (Zip64 values
    // taken), -1 (file not open) or an error (152, 119, 154, 204, 151, 181).
    std::int32_t ReadCentralHeader();
    // Takes the Zip64 values of the fields holding sentinels: 0, 1 or 181.
    std::int32_t ReadZip64Extra();
    // Writes the central header at the owner's position: bytes, -1 or 153.
    std::int32_t WriteCentralHeader();
    // Writes the local header with the given date-time and CRC: bytes or 166.
    std::int32_t WriteLocalHeader(std::uint32_t dosDateTime, std::uint32_t crc);
    // Sets the version numbers from the method, the flags and Zip64 use.
    void UpdateVersions(bool zip64);
    // Builds LocalExtraField from the central extra field.
    void BuildLocalExtra();
    // 30 + name + local extra (building the local extra first).
    std::int64_t LocalHeaderSize();
    // The stored name (false) or comment (true) decoded for display.
    std::string DecodeStoredText(bool comment);
    // Forgets the decoded name, the hash and the detected encoding.
    void ClearCachedName();
    // Stores a new name and comment (component string form) by the stored-form
    // rules; the owner refuses a name another live entry has (message 104).
    std::int32_t EncodeNameAndComment(const std::string& name, const std::string& comment);

    // "\" becomes "/", and bytes 0-31, ' * : < > ? | become "#$" + two
    // upper-case hex digits.
    static std::string EscapeStoredName(std::string_view name);
    // The stored form of `name` and `comment` (component string form, UTF-8
    // when `useUtf8`) under the write encoding, given the current extra field.
    static TZAStoredForm ChooseStoredForm(const std::string& name, const std::string& comment,
                                          TZAEncodingOpts writeEncoding, bool useUtf8,
                                          std::string_view extraField);

    // ---- fields ---------------------------------------------------------------------
    const std::string& StoredComment() const { return TextOrEmpty(&Texts::storedComment); }
    // The name as the archive holds it on disk (the stored name until a
    // rename is written).
    const std::string& LastStoredName() const;
    const std::string& LocalExtraField() const { return TextOrEmpty(&Texts::localExtraField); }
    TZAWorkZip& Owner() const { return *owner_; }
    void SetOwner(TZAWorkZip& owner) { owner_ = &owner; }
    // Raw setters (no re-encoding, no status change) for writers and tests.
    void SetStoredName(const std::string& bytes);
    void SetStoredComment(const std::string& bytes);
    void SetExtraFieldRaw(const std::string& bytes) { StoreExtra(bytes); }
    void SetGeneralFlags(std::uint16_t v) { generalFlags_ = v; }
    void SetVersionMadeBy(std::uint16_t v) { versionMadeBy_ = v; }

private:
    // What FileName returns: not decoded yet, the stored bytes themselves
    // (the usual case: no second copy), or the decoded text of `texts_`.
    enum class NameState : std::uint8_t { Unknown, Stored, Decoded };

    TZAEncodingOpts DetectEncoding() const;
    // The encoding of `stored` (name or comment) by the entry's flags and
    // made-by value alone, without Unicode records.
    TZAEncodingOpts HostEncoding(std::string_view stored) const;
    std::optional<std::string_view> UnicodeText(bool comment) const;
    void StoreExtra(std::string bytes);
    // Replaces the stored name, keeping the on-disk name while they differ.
    void StoreName(std::string bytes);
    // The stored name is now the name on disk as well.
    void NameWritten();

    // The small fields first: they fill the end of the base part.
    std::uint16_t generalFlags_ = 0;
    std::uint16_t versionMadeBy_ = 0;
    NameState nameState_ = NameState::Unknown;
    std::string storedName_;
    std::unique_ptr<std::string> extraField_;  // nullptr when empty
    TZAWorkZip* owner_;
};
