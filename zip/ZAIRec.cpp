#include "zip/ZAIRec.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/DosTime.h"
#include "platform/ZipRecords.h"
#include "zip/ZAUTF8.h"
#include "zip/ZAWZip.h"
#include "zip/ZAXcpt.h"

using namespace zrec;

namespace {

constexpr std::uint64_t kMaxSigned64 = static_cast<std::uint64_t>(INT64_MAX);
constexpr std::size_t kMaxNameLength = 260;

std::uint8_t LowByte(std::uint16_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}

const std::string kEmptyText;

}  // namespace

// A loaded directory holds one record per entry: with the allocator's header
// it stays within 128 bytes where a string takes 32.
static_assert(sizeof(std::string) != 32 || sizeof(TZAZRec) <= 120);

// ---- TZAIRec ------------------------------------------------------------------------

TZAIRec::Texts& TZAIRec::MutableTexts() {
    if (!texts_) {
        texts_ = std::make_unique<Texts>();
    }
    return *texts_;
}

const std::string& TZAIRec::TextOrEmpty(std::string Texts::*field) const {
    return texts_ ? (*texts_).*field : kEmptyText;
}

const std::string& TZAIRec::SelectionArgs() const {
    return TextOrEmpty(&Texts::selectionArgs);
}

void TZAIRec::SetSelectionArgs(const std::string& args) {
    if (texts_ || !args.empty()) {
        MutableTexts().selectionArgs = args;
    }
}

const std::string& TZAIRec::AuxText() const {
    return TextOrEmpty(&Texts::auxText);
}

void TZAIRec::SetAuxText(const std::string& text) {
    if (texts_ || !text.empty()) {
        MutableTexts().auxText = text;
    }
}

std::string TZAIRec::ExtraFieldData(std::uint16_t tag) const {
    const std::string& extra = ExtraField();
    if (extra.size() <= 3) {
        return {};
    }
    return std::string(ExtraData(extra, tag));
}

std::uint16_t TZAIRec::StoredNameLength() const {
    return static_cast<std::uint16_t>(StoredName().size());
}

std::int32_t TZAIRec::SetExternalAttributes(std::uint32_t value) {
    if (value != externalAttributes_) {
        externalAttributes_ = value;
        entryStatus_ |= esChanged;
    }
    return 0;
}

bool TZAIRec::SetStatus(std::uint32_t bits) {
    const bool was = (entryStatus_ & bits) != 0;
    entryStatus_ |= bits;
    return was;
}

bool TZAIRec::ClearStatus(std::uint32_t bits) {
    const bool was = (entryStatus_ & bits) != 0;
    entryStatus_ &= ~bits;
    return was;
}

bool TZAIRec::Select(int mode) {
    if (mode == 0) {
        entryStatus_ &= ~esSelected;
        SetSelectionArgs({});
    } else if (mode == 1) {
        entryStatus_ |= esSelected;
    } else {
        entryStatus_ ^= esSelected;
        if ((entryStatus_ & esSelected) == 0) {
            SetSelectionArgs({});
        }
    }
    return (entryStatus_ & esSelected) != 0;
}

void TZAIRec::AssignFrom(const TZADirRec& other) {
    compressionMethod_ = other.CompressionMethod();
    compressedSize_ = other.CompressedSize();
    crc32_ = other.Crc32();
    externalAttributes_ = other.ExternalAttributes();
    internalAttributes_ = other.InternalAttributes();
    dosDateTime_ = other.DosDateTime();
    localHeaderOffset_ = other.LocalHeaderOffset();
    entryStatus_ = other.EntryStatus();
    uncompressedSize_ = other.UncompressedSize();
    versionNeeded_ = other.VersionNeeded();
    startDisk_ = other.StartDisk();
    if (const auto* o = dynamic_cast<const TZAIRec*>(&other)) {
        startDisk_ = o->startDisk_;
        SetSelectionArgs(o->SelectionArgs());
        SetAuxText(o->AuxText());
    }
}

// ---- TZAZRec: fields and interface -------------------------------------------------------

bool TZAZRec::IsEncrypted() const {
    return (generalFlags_ & kFlagEncrypted) != 0;
}

const std::string& TZAZRec::ExtraField() const {
    return extraField_ ? *extraField_ : kEmptyText;
}

std::uint16_t TZAZRec::ExtraFieldLength() const {
    return static_cast<std::uint16_t>(ExtraField().size());
}

std::uint16_t TZAZRec::StoredCommentLength() const {
    return static_cast<std::uint16_t>(StoredComment().size());
}

const std::string& TZAZRec::LastStoredName() const {
    return texts_ && texts_->lastStoredName ? *texts_->lastStoredName : storedName_;
}

const std::string& TZAZRec::FileName() {
    // Most names are printable ASCII without a backslash and without a
    // Unicode path record: every encoding reads them as their stored bytes,
    // so no decoded copy is made to find that out (a loaded directory of
    // millions of entries asks for every name once).
    if (nameState_ == NameState::Unknown && !NeedsEncoding(storedName_) &&
        storedName_.find('\\') == std::string::npos && !FindExtra(ExtraField(), kTagUnicodePath)) {
        if (owner_->Encoding() == zeoAuto) {
            NameEncoding();  // detected and kept in the status, as decoding does
        }
        nameState_ = NameState::Stored;
        if (texts_) {
            texts_->decodedName.clear();
        }
    }
    if (nameState_ == NameState::Unknown) {
        std::string text = DecodeStoredText(false);
        if (text == storedName_) {
            nameState_ = NameState::Stored;
            if (texts_) {
                texts_->decodedName.clear();
            }
        } else {
            MutableTexts().decodedName = std::move(text);
            nameState_ = NameState::Decoded;
        }
    }
    return nameState_ == NameState::Stored ? storedName_ : texts_->decodedName;
}

void TZAZRec::StoreExtra(std::string bytes) {
    if (bytes.empty()) {
        extraField_.reset();
    } else if (extraField_) {
        *extraField_ = std::move(bytes);
    } else {
        extraField_ = std::make_unique<std::string>(std::move(bytes));
    }
}

void TZAZRec::StoreName(std::string bytes) {
    if (!(texts_ && texts_->lastStoredName) && bytes != storedName_) {
        MutableTexts().lastStoredName = storedName_;
    }
    storedName_ = std::move(bytes);
}

void TZAZRec::NameWritten() {
    if (texts_) {
        texts_->lastStoredName.reset();
    }
}

void TZAZRec::SetStoredComment(const std::string& bytes) {
    if (texts_ || !bytes.empty()) {
        MutableTexts().storedComment = bytes;
    }
}

void TZAZRec::SetStoredName(const std::string& bytes) {
    StoreName(bytes);
    ClearCachedName();
}

void TZAZRec::ClearCachedName() {
    nameState_ = NameState::Unknown;
    if (texts_) {
        texts_->decodedName.clear();
    }
    entryStatus_ &= ~(esHashValid | esEncodingMask);
}

void TZAZRec::AssignFrom(const TZADirRec& other) {
    TZAIRec::AssignFrom(other);
    StoreExtra(other.ExtraField());
    generalFlags_ = other.GeneralFlags();
    storedName_ = other.StoredName();
    versionMadeBy_ = other.VersionMadeBy();
    // The status bits (and with them the detected encoding) came with the
    // other fields; only the decoded name is taken again below.
    nameState_ = NameState::Unknown;
    if (texts_) {
        texts_->decodedName.clear();
    }
    if (const auto* o = dynamic_cast<const TZAZRec*>(&other)) {
        SetStoredComment(o->StoredComment());
        if (texts_ || !o->LocalExtraField().empty()) {
            MutableTexts().localExtraField = o->LocalExtraField();
        }
        if (o->texts_ && o->texts_->lastStoredName) {
            MutableTexts().lastStoredName = o->texts_->lastStoredName;
        } else {
            NameWritten();
        }
        nameState_ = o->nameState_;
        if (nameState_ == NameState::Decoded) {
            MutableTexts().decodedName = o->texts_->decodedName;
        }
    } else {
        NameWritten();
    }
}

// ---- encodings ---------------------------------------------------------------------------

std::optional<std::string_view> TZAZRec::UnicodeText(bool comment) const {
    const auto rec = FindExtra(ExtraField(), comment ? kTagUnicodeComment : kTagUnicodePath);
    if (!rec) {
        return std::nullopt;
    }
    return ValidUnicodeText(rec->data, comment ? StoredComment() : storedName_);
}

TZAEncodingOpts TZAZRec::DetectEncoding() const {
    if ((generalFlags_ & kFlagUtf8) != 0) {
        return zeoUTF8;
    }
    if (UnicodeText(false) || UnicodeText(true)) {
        return zeoUPath;
    }
    return HostEncoding(storedName_);
}

TZAEncodingOpts TZAZRec::HostEncoding(std::string_view stored) const {
    // The rule every reader of names shares: OEM or ANSI by the made-by value
    // for DOS and Windows hosts, UTF-8 when valid for every other host.
    const unsigned codePage = platform::EntryTextCodePage(generalFlags_, versionMadeBy_, stored, 0);
    return codePage == platform::kCodePageOem    ? zeoOEM
           : codePage == platform::kCodePageUtf8 ? zeoUTF8
                                                 : zeoNone;
}

TZAEncodingOpts TZAZRec::NameEncoding() {
    std::uint32_t cached = (entryStatus_ & esEncodingMask) >> esEncodingShift;
    if (cached == 0 || cached > zeoUPath) {
        cached = DetectEncoding();
        entryStatus_ = (entryStatus_ & ~esEncodingMask) | (cached << esEncodingShift);
    }
    return static_cast<TZAEncodingOpts>(cached);
}

std::string TZAZRec::DecodeStoredText(bool comment) {
    const std::string& stored = comment ? StoredComment() : storedName_;
    const TZAEncodingOpts option = owner_->Encoding();
    TZAEncodingOpts encoding = option != zeoAuto ? option : NameEncoding();
    if (option == zeoAuto && comment && encoding != zeoUPath) {
        // A comment is read by its own bytes: from a Unix host it may be
        // UTF-8 while the name is plain ASCII, or the other way round.
        encoding = HostEncoding(stored);
    }
    const bool utf8 = GetUseUTF8();
    std::string text;
    if (encoding == zeoUPath) {
        if (const auto u = UnicodeText(comment); u && !u->empty()) {
            text = Utf8ToComponent(*u, utf8);
        } else {
            // No valid Unicode record for this text: the stored bytes are
            // read as without one (from our writer: the OEM form beside it).
            encoding = option == zeoAuto ? HostEncoding(stored) : zeoOEM;
        }
    }
    if (text.empty() && NeedsEncoding(stored)) {
        switch (encoding) {
            case zeoNone:
                text = CodePageToComponent(stored, owner_->NameCodePage(), utf8);
                break;
            case zeoUTF8:
                text = Utf8ToComponent(stored, utf8);
                break;
            case zeoUPath:
            case zeoOEM:
            default:
                text = CodePageToComponent(stored, platform::kCodePageOem, utf8);
                break;
        }
    }
    if (text.empty()) {
        text = stored;
    }
    if (!comment) {
        // Names read from archives take "\" as a separator too; shown with "/".
        for (char& c : text) {
            if (c == '\\') {
                c = '/';
            }
        }
    }
    return text;
}

std::string TZAZRec::EscapeStoredName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\\') {
            out.push_back('/');
        } else if (b < 32 || std::strchr("'*:<>?|", c) != nullptr) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "#$%02X", b);
            out += hex;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

TZAStoredForm TZAZRec::ChooseStoredForm(const std::string& name, const std::string& comment,
                                        TZAEncodingOpts writeEncoding, bool useUtf8,
                                        std::string_view extraField) {
    TZAStoredForm form;
    const std::string escaped = EscapeStoredName(name);
    form.name = ComponentToOem(escaped, useUtf8);
    form.comment = ComponentToOem(comment, useUtf8);
    const bool needName = NeedsEncoding(name);
    const bool needComment = NeedsEncoding(comment);
    std::optional<std::string> utf8Name;
    std::optional<std::string> utf8Comment;
    if (needName || needComment) {
        TZAEncodingOpts enc = writeEncoding;
        if (enc == zeoAuto) {
            enc = needName && needComment ? zeoUTF8 : zeoUPath;
        }
        switch (enc) {
            case zeoUTF8:
                form.name = ComponentToUtf8(escaped, useUtf8);
                form.comment = ComponentToUtf8(comment, useUtf8);
                form.utf8Flag = true;
                break;
            case zeoUPath:
                if (needName) {
                    utf8Name = ComponentToUtf8(escaped, useUtf8);
                }
                if (needComment) {
                    utf8Comment = ComponentToUtf8(comment, useUtf8);
                }
                break;
            case zeoNone:
                form.name = ComponentToAnsi(escaped, useUtf8);
                form.comment = ComponentToAnsi(comment, useUtf8);
                if (NeedsEncoding(form.name) || NeedsEncoding(form.comment)) {
                    form.madeBy = kMadeByAnsi;
                }
                break;
            default:  // zeoOEM: the OEM forms stay
                break;
        }
    }
    std::string extra = DropExtraTags(extraField, {kTagUnicodePath, kTagUnicodeComment});
    bool added = false;
    auto append = [&](std::uint16_t tag, const std::string& stored, const std::string& utf8) {
        std::string data = BuildUnicodeData(stored, utf8);
        std::string rec;
        AppendU16(rec, tag);
        // A size that does not fit 16 bits makes the field too long; the
        // caller's length check refuses it.
        AppendU16(rec, static_cast<std::uint16_t>(std::min<std::size_t>(data.size(), 0xFFFF)));
        extra += rec + data;
        added = true;
    };
    if (utf8Name) {
        append(kTagUnicodePath, form.name, *utf8Name);
    }
    if (utf8Comment) {
        append(kTagUnicodeComment, form.comment, *utf8Comment);
    }
    form.extraChanged = added || extra.size() != extraField.size();
    form.extra = std::move(extra);
    return form;
}

std::int32_t TZAZRec::EncodeNameAndComment(const std::string& name, const std::string& comment) {
    const bool hadSkip = SetStatus(esSearchSkip);
    const std::int32_t dup = owner_->FindLiveDuplicate(name, *this);
    if (!hadSkip) {
        ClearStatus(esSearchSkip);
    }
    if (dup >= 0) {
        return -ZA_CODE(104);
    }
    const TZAStoredForm form =
        ChooseStoredForm(name, comment, static_cast<TZAEncodingOpts>(owner_->WriteEncoding()),
                         GetUseUTF8(), ExtraField());
    // Each variable field has a 16-bit length, and together with the fixed
    // header they must stay below 64 KiB. The new comment counts, not the old.
    if (form.comment.size() + form.name.size() + form.extra.size() >= 0xFFFF) {
        return -ZA_CODE(112);
    }
    StoreName(form.name);
    SetStoredComment(form.comment);
    if (form.extraChanged) {
        StoreExtra(form.extra);
    }
    generalFlags_ = static_cast<std::uint16_t>(form.utf8Flag ? (generalFlags_ | kFlagUtf8)
                                                             : (generalFlags_ & ~kFlagUtf8));
    versionMadeBy_ = form.madeBy;
    ClearCachedName();
    UpdateVersions(static_cast<std::uint64_t>(uncompressedSize_) >= kSentinel32 ||
                   static_cast<std::uint64_t>(compressedSize_) >= kSentinel32);
    entryStatus_ |= esChanged;
    return 0;
}

// ---- mutators --------------------------------------------------------------------------

std::int32_t TZAZRec::SetFileComment(const std::string& text) {
    if (text == FileComment()) {
        return 0;
    }
    const std::string name = FileName();
    return EncodeNameAndComment(name, text);
}

std::int32_t TZAZRec::Reencode() {
    const std::string name = FileName();
    return EncodeNameAndComment(name, FileComment());
}

std::int32_t TZAZRec::SetExtraField(const std::string& bytes) {
    if (bytes == ExtraField()) {
        return 0;
    }
    std::string kept =
        KeepExtraTags(ExtraField(), {kTagZip64, kTagUnicodePath, kTagUnicodeComment});
    const std::string added =
        DropExtraTags(bytes, {kTagZip64, kTagUnicodePath, kTagUnicodeComment});
    if (FileComment().size() + FileName().size() + kept.size() + added.size() > 65534) {
        return -ZA_CODE(112);
    }
    StoreExtra(kept + added);
    entryStatus_ |= esChanged;
    return 0;
}

std::int32_t TZAZRec::SetDosDateTime(std::uint32_t value) {
    if (IsEncrypted()) {
        return -ZA_CODE(114);
    }
    if (!platform::IsValidDosDateTime(value)) {
        owner_->ReportTrace("Invalid date " + FileName());
        return -ZA_CODE(135);
    }
    if (value != dosDateTime_) {
        dosDateTime_ = value;
        entryStatus_ |= esChanged;
    }
    return 0;
}

std::int32_t TZAZRec::SetFileName(const std::string& name) {
    // Clean: one separator ("/"), no drive, no network share, no "./".
    std::string n = name;
    for (char& c : n) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (n.size() >= 2 && n[1] == ':' &&
        ((n[0] >= 'A' && n[0] <= 'Z') || (n[0] >= 'a' && n[0] <= 'z'))) {
        n.erase(0, n.size() >= 3 && n[2] == '/' ? 3 : 2);
    }
    if (n.rfind("//", 0) == 0) {
        const auto server = n.find('/', 2);
        const auto share = server == std::string::npos ? server : n.find('/', server + 1);
        if (share == std::string::npos) {
            owner_->ReportTrace("Invalid filespec: " + name);
            n.clear();
        } else {
            n.erase(0, share + 1);
        }
    }
    if (n.rfind("./", 0) == 0) {
        n.erase(0, 2);
    }
    if (n.size() > kMaxNameLength) {
        n.resize(kMaxNameLength);
    }
    // Validity.
    bool bad =
        n.empty() || n.size() > 255 || n[0] == '/' || n[0] == '.' || n[0] == ' ' || n.back() == ' ';
    for (std::size_t i = 0; !bad && i < n.size(); ++i) {
        const auto b = static_cast<unsigned char>(n[i]);
        bad = b < 32 || std::strchr("*:<>?|", n[i]) != nullptr ||
              (n[i] == '.' && (i + 1 == n.size() || n[i + 1] == '/'));
    }
    if (bad) {
        return -ZA_CODE(103);
    }
    const bool storedIsDir =
        !storedName_.empty() && (storedName_.back() == '/' || storedName_.back() == '\\');
    if (storedIsDir != (n.back() == '/')) {
        return -ZA_CODE(113);
    }
    if (n == FileName()) {
        return 0;
    }
    return EncodeNameAndComment(n, FileComment());
}

// ---- versions and the local extra field ------------------------------------------------------

void TZAZRec::UpdateVersions(bool zip64) {
    if (LowByte(versionMadeBy_) > kVersionZip64 || LowByte(versionNeeded_) > kVersionZip64) {
        return;
    }
    std::uint16_t madeBy = versionMadeBy_ & 0xFF00;
    if (zip64) {
        madeBy |= kVersionZip64;
    } else {
        const std::uint8_t low = LowByte(versionMadeBy_);
        madeBy |= low == kVersionZip64 ? 30 : low;
    }
    versionMadeBy_ = madeBy == 0x0B32 ? 0x001E : madeBy;

    std::uint8_t need;
    if (compressionMethod_ == 0) {
        need = 10;
    } else if (compressionMethod_ <= 8) {
        need = 20;
    } else if (compressionMethod_ == 9) {
        need = 21;
    } else if (compressionMethod_ == 10) {
        need = 25;
    } else if (compressionMethod_ == 12) {
        need = 46;
    } else {
        need = 45;
    }
    if ((generalFlags_ & kFlagPatched) != 0 && need < 27) {
        need = 27;
    }
    if (zip64 && need < kVersionZip64) {
        need = kVersionZip64;
    }
    versionNeeded_ = static_cast<std::uint16_t>((versionNeeded_ & 0xFF00) | need);
}

void TZAZRec::BuildLocalExtra() {
    std::string local;
    entryStatus_ &= ~esLocalZip64;
    const bool zip64 = static_cast<std::uint64_t>(uncompressedSize_) >= kSentinel32 ||
                       static_cast<std::uint64_t>(compressedSize_) >= kSentinel32;
    UpdateVersions(zip64);
    if (zip64) {
        entryStatus_ |= esLocalZip64;
        TZAZip64Values v;
        v.uncompressedSize = static_cast<std::uint64_t>(uncompressedSize_);
        v.compressedSize = static_cast<std::uint64_t>(compressedSize_);
        local = *MakeExtraRecord(kTagZip64, BuildZip64Data(v));
    }
    if (extraField_) {
        local += DropExtraTags(*extraField_, {kTagZip64, kTagNtfs, kTagUnicodeComment});
    }
    if (texts_ || !local.empty()) {
        MutableTexts().localExtraField = std::move(local);
    }
    entryStatus_ |= esLocalExtraBuilt;
}

std::int64_t TZAZRec::LocalHeaderSize() {
    if ((entryStatus_ & esLocalExtraBuilt) == 0) {
        BuildLocalExtra();
    }
    return static_cast<std::int64_t>(local::kSize + storedName_.size() + LocalExtraField().size());
}

// ---- reading ------------------------------------------------------------------------------

std::int32_t TZAZRec::ReadCentralHeader() {
    TZAWorkZip& zf = *owner_;
    if (!zf.IsOpen()) {
        return -1;
    }
    entryStatus_ = esIncomplete;
    std::uint8_t fixed[central::kSize];
    const std::int32_t got = zf.ReadGather(fixed, central::kFieldWidths,
                                           static_cast<int>(central::kFieldWidths.size()) - 1);
    if (got < 0) {
        return got;
    }
    if (got != static_cast<std::int32_t>(central::kSize)) {
        return -ZA_CODE(152);
    }
    const TZACentralHeader h = TZACentralHeader::Decode(fixed);
    if (h.signature != kCentralHeaderSig) {
        return -ZA_CODE(119);
    }
    versionMadeBy_ = h.versionMadeBy;
    versionNeeded_ = h.versionNeeded;
    generalFlags_ = h.flags;
    compressionMethod_ = h.method;
    dosDateTime_ = h.dosDateTime;
    crc32_ = h.crc32;
    startDisk_ = h.diskStart;
    internalAttributes_ = h.internalAttributes;
    externalAttributes_ = h.externalAttributes;
    localHeaderOffset_ = h.localHeaderOffset;
    compressedSize_ = h.compressedSize;
    uncompressedSize_ = h.uncompressedSize;

    // The lengths are 16-bit: at most 3 x 64 KiB, whatever the header claims.
    // Most headers fit the buffer on the stack.
    const int widths[3] = {h.nameLength, h.extraLength, h.commentLength};
    const std::int32_t total = widths[0] + widths[1] + widths[2];
    char small[1024];
    std::vector<char> large;
    char* var = small;
    if (static_cast<std::size_t>(total) > sizeof small) {
        large.resize(static_cast<std::size_t>(total));
        var = large.data();
    }
    const std::int32_t n = total == 0 ? 0 : zf.ReadGather(var, widths, 2);
    if (n < 0) {
        return n;
    }
    if (n != total) {
        if (n < widths[0]) {
            return -ZA_CODE(154);
        }
        if (n < widths[0] + widths[1]) {
            return -ZA_CODE(204);
        }
        return -ZA_CODE(151);
    }
    // A string made to size: assigning into an empty one reserves twice its
    // inline capacity, and a loaded directory holds one name per entry.
    storedName_ = std::string(var, static_cast<std::size_t>(widths[0]));
    StoreExtra(std::string(var + widths[0], static_cast<std::size_t>(widths[1])));
    SetStoredComment(std::string(var + widths[0] + widths[1], static_cast<std::size_t>(widths[2])));
    NameWritten();
    ClearCachedName();
    entryStatus_ &= ~esIncomplete;
    // Archivers on DOS and Windows file systems wrote a backslash as the folder
    // separator; a name of theirs that ends in one is a folder.
    const int host = versionMadeBy_ >> 8;
    const bool backslashHost =
        host == kHostFat || host == kHostHpfs || host == kHostNtfs || host == kHostVfat;
    if (!storedName_.empty() &&
        (storedName_.back() == '/' || (backslashHost && storedName_.back() == '\\'))) {
        entryStatus_ |= esDirectory;
    }
    return ReadZip64Extra();
}

std::int32_t TZAZRec::ReadZip64Extra() {
    // The Zip64 record is read whenever a field holds its sentinel, whatever
    // version the header claims to need, as other readers do.
    const bool sentinel = static_cast<std::uint64_t>(uncompressedSize_) == kSentinel32 ||
                          static_cast<std::uint64_t>(compressedSize_) == kSentinel32 ||
                          static_cast<std::uint64_t>(localHeaderOffset_) == kSentinel32 ||
                          startDisk_ == kSentinel16;
    if (!sentinel && LowByte(versionNeeded_) < kVersionZip64) {
        return 0;
    }
    const auto rec = FindExtra(ExtraField(), kTagZip64);
    if (!rec) {
        return 0;
    }
    TZAZip64Values v;
    if (!ParseZip64Data(rec->data, static_cast<std::uint64_t>(uncompressedSize_) == kSentinel32,
                        static_cast<std::uint64_t>(compressedSize_) == kSentinel32,
                        static_cast<std::uint64_t>(localHeaderOffset_) == kSentinel32,
                        startDisk_ == kSentinel16, v)) {
        return -ZA_CODE(181);
    }
    // Sizes and offsets beyond 63 bits cannot be real and would turn negative.
    for (const auto* x : {&v.uncompressedSize, &v.compressedSize, &v.localHeaderOffset}) {
        if (*x && **x > kMaxSigned64) {
            return -ZA_CODE(181);
        }
    }
    if (v.uncompressedSize) {
        uncompressedSize_ = static_cast<std::int64_t>(*v.uncompressedSize);
    }
    if (v.compressedSize) {
        compressedSize_ = static_cast<std::int64_t>(*v.compressedSize);
    }
    if (v.localHeaderOffset) {
        localHeaderOffset_ = static_cast<std::int64_t>(*v.localHeaderOffset);
    }
    if (v.diskStart) {
        startDisk_ = *v.diskStart;
    }
    return 1;
}

std::int32_t TZAZRec::CheckLocalHeader() {
    TZAWorkZip& zf = *owner_;
    try {
        if (!zf.IsOpen()) {
            return -ZA_CODE(164);
        }
        if ((zf.MultiPartMode() || zf.DiskCount > 1) &&
            zf.DiskNumber != static_cast<std::int32_t>(startDisk_)) {
            zf.OpenPartForReading(static_cast<int>(startDisk_));
        }
        zf.SeekOrRaise(kSeekBegin, -1, localHeaderOffset_);
        std::int32_t failure = 0;
        std::uint8_t fixed[local::kSize];
        if (zf.Read(fixed, -4) != 4 || GetU32(fixed) != kLocalHeaderSig ||
            zf.ReadGather(fixed + 4, local::kFieldWidths,
                          static_cast<int>(local::kFieldWidths.size()) - 1) !=
                static_cast<std::int32_t>(local::kSize - 4)) {
            failure = ZA_CODE(165);
        }
        TZALocalHeader h;
        if (failure == 0) {
            h = TZALocalHeader::Decode(fixed);
            if (h.nameLength != LastStoredName().size()) {
                failure = ZA_CODE(165);
            }
        }
        std::string var;
        if (failure == 0) {
            const int widths[2] = {h.nameLength, h.extraLength};
            var.resize(static_cast<std::size_t>(widths[0] + widths[1]));
            if (!var.empty() &&
                zf.ReadGather(var.data(), widths, 1) != static_cast<std::int32_t>(var.size())) {
                failure = ZA_CODE(165);
            }
        }
        if (failure != 0) {
            zf.ReportTrace("could not read local header: " + FileName());
            return -failure;
        }
        if (var.compare(0, h.nameLength, LastStoredName()) != 0) {
            return -ZA_CODE(167);
        }
        return 0;
    } catch (const EZAException& e) {
        return -e.FullCode;
    } catch (...) {
        return -ZA_CODE(1);
    }
}

// ---- writing --------------------------------------------------------------------------------

std::int32_t TZAZRec::WriteCentralHeader() {
    TZAWorkZip& zf = *owner_;
    if (!zf.IsOpen() && !zf.MultiPartMode()) {
        return -1;
    }
    NameWritten();
    TZACentralHeader h;
    h.versionMadeBy = versionMadeBy_;
    h.versionNeeded = versionNeeded_;
    h.flags = generalFlags_;
    h.method = compressionMethod_;
    h.dosDateTime = dosDateTime_;
    h.crc32 = crc32_;
    h.nameLength = static_cast<std::uint16_t>(storedName_.size());
    const std::string& storedComment = StoredComment();
    h.commentLength = static_cast<std::uint16_t>(storedComment.size());
    h.internalAttributes = internalAttributes_;
    h.externalAttributes = externalAttributes_;

    TZAZip64Values z;
    auto field32 = [](std::int64_t v, std::optional<std::uint64_t>& slot) {
        if (static_cast<std::uint64_t>(v) < kSentinel32) {
            return static_cast<std::uint32_t>(v);
        }
        slot = static_cast<std::uint64_t>(v);
        return kSentinel32;
    };
    h.uncompressedSize = field32(uncompressedSize_, z.uncompressedSize);
    h.compressedSize = field32(compressedSize_, z.compressedSize);
    h.localHeaderOffset = field32(localHeaderOffset_, z.localHeaderOffset);
    if (startDisk_ < kSentinel16) {
        h.diskStart = static_cast<std::uint16_t>(startDisk_);
    } else {
        h.diskStart = kSentinel16;
        z.diskStart = startDisk_;
    }
    const bool zip64 = z.uncompressedSize || z.compressedSize || z.localHeaderOffset || z.diskStart;
    if (zip64) {
        if (LowByte(versionNeeded_) < kVersionZip64) {
            UpdateVersions(true);
        }
        if (auto replaced = ReplaceExtra(ExtraField(), kTagZip64, BuildZip64Data(z))) {
            StoreExtra(std::move(*replaced));
        }
    } else if (extraField_) {
        StoreExtra(DropExtraTags(*extraField_, {kTagZip64}));
    }
    if ((entryStatus_ & esLocalExtraBuilt) == 0 || zip64) {
        UpdateVersions(zip64);
    }
    h.versionMadeBy = versionMadeBy_;
    h.versionNeeded = versionNeeded_;
    const std::string& extraField = ExtraField();
    h.extraLength = static_cast<std::uint16_t>(extraField.size());

    const std::size_t total =
        central::kSize + storedName_.size() + extraField.size() + storedComment.size();
    // A record longer than one write can carry (three full 64 KiB fields of a
    // damaged entry) or a field past its 16-bit length is refused whole.
    if (total > static_cast<std::size_t>(kRecordSizeMask) || storedName_.size() > 0xFFFF ||
        extraField.size() > 0xFFFF || storedComment.size() > 0xFFFF) {
        return -ZA_CODE(153);
    }
    std::string buf(total, '\0');
    h.Encode(reinterpret_cast<std::uint8_t*>(buf.data()));
    std::size_t at = central::kSize;
    for (const std::string* part : {&std::as_const(storedName_), &extraField, &storedComment}) {
        std::memcpy(buf.data() + at, part->data(), part->size());
        at += part->size();
    }
    const std::int32_t r = zf.Write(buf.data(), RecordLength(static_cast<std::int32_t>(total)));
    if (r == static_cast<std::int32_t>(total)) {
        entryStatus_ &= ~esChanged;
        return r;
    }
    return r < 0 ? r : -ZA_CODE(153);
}

std::int32_t TZAZRec::WriteLocalHeader(std::uint32_t dosDateTime, std::uint32_t crc) {
    TZAWorkZip& zf = *owner_;
    if ((entryStatus_ & esLocalExtraBuilt) == 0) {
        BuildLocalExtra();
    }
    if ((generalFlags_ & kFlagDataDescriptor) != 0 && (generalFlags_ & kFlagEncrypted) == 0) {
        generalFlags_ &= static_cast<std::uint16_t>(~kFlagDataDescriptor);
    }
    TZALocalHeader h;
    h.flags = generalFlags_;
    h.method = compressionMethod_;
    h.dosDateTime = dosDateTime;
    h.crc32 = crc;
    h.nameLength = static_cast<std::uint16_t>(storedName_.size());
    const std::string& localExtraField = LocalExtraField();
    h.extraLength = static_cast<std::uint16_t>(localExtraField.size());
    if (!localExtraField.empty() && (entryStatus_ & esLocalZip64) != 0) {
        h.compressedSize = h.uncompressedSize = kSentinel32;
    } else if ((generalFlags_ & kFlagDataDescriptor) != 0) {
        h.compressedSize = h.uncompressedSize = 0;
        if (LowByte(versionNeeded_) < kVersionZip64) {
            UpdateVersions(true);
        }
    } else {
        h.compressedSize = static_cast<std::uint32_t>(compressedSize_);
        h.uncompressedSize = static_cast<std::uint32_t>(uncompressedSize_);
    }
    h.versionNeeded = versionNeeded_;
    const std::size_t total = local::kSize + storedName_.size() + localExtraField.size();
    if (total > static_cast<std::size_t>(kRecordSizeMask) || storedName_.size() > 0xFFFF ||
        localExtraField.size() > 0xFFFF) {
        return -ZA_CODE(166);
    }
    std::string buf(total, '\0');
    h.Encode(reinterpret_cast<std::uint8_t*>(buf.data()));
    std::memcpy(buf.data() + local::kSize, storedName_.data(), storedName_.size());
    std::memcpy(buf.data() + local::kSize + storedName_.size(), localExtraField.data(),
                localExtraField.size());
    const std::int32_t r = zf.Write(buf.data(), RecordLength(static_cast<std::int32_t>(total)));
    if (r != static_cast<std::int32_t>(total)) {
        return -ZA_CODE(166);
    }
    entryStatus_ &= ~esChanged;
    return r;
}

std::int32_t TZAZRec::WriteDataDescriptor() {
    TZAWorkZip& zf = *owner_;
    if (!zf.IsOpen() && !zf.MultiPartMode()) {
        return -1;
    }
    if ((generalFlags_ & kFlagDataDescriptor) == 0) {
        return 0;
    }
    std::uint8_t buf[descriptor::kLongSize];
    const bool longForm = LowByte(versionNeeded_) >= kVersionZip64;
    const auto n = static_cast<std::int32_t>(
        EncodeDataDescriptor(buf, longForm, crc32_, static_cast<std::uint64_t>(compressedSize_),
                             static_cast<std::uint64_t>(uncompressedSize_)));
    const std::int32_t r = zf.Write(buf, RecordLength(n));
    return r == n ? r : -ZA_CODE(157);
}
