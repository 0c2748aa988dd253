#include "zip/ZALister.h"

#include <optional>
#include <utility>
#include <vector>

#include <zlib.h>

#include "platform/ArchiveLock.h"
#include "platform/AtomicReplace.h"
#include "platform/ZipRecords.h"
#include "sfx/core/sfxblock.h"
#include "zip/ZASetJournal.h"
#include "zip/ZAStubIcon.h"
#include "zip/ZAUTF8.h"
#include "zip/ZAUtils.h"
#include "zip/ZAXcpt.h"
#include "zip/ZAZipFile.h"

using namespace zrec;

namespace {

// The block's signatures and the least stub size are the self-extractor's own.
constexpr std::uint32_t kStubTagA = SFX_BLOCK_SIGNATURE_OLD;
constexpr std::uint32_t kStubTagB = SFX_BLOCK_SIGNATURE;
constexpr std::size_t kMinStubSize = SFX_STUB_SIZE_ABOVE;

// The end of the executable image held in `image` (largest section raw
// offset + raw size), or nothing when it is no PE image or the tables lie
// outside the bytes.
std::optional<std::size_t> ImageEnd(std::span<const std::uint8_t> image) {
    if (image.size() < 64 || GetU16(image.data()) != kExeSig) {
        return std::nullopt;
    }
    const std::size_t pe = GetU32(image.data() + 60);
    if (pe > image.size() || image.size() - pe < 24 || image[pe] != 'P' || image[pe + 1] != 'E' ||
        image[pe + 2] != 0 || image[pe + 3] != 0) {
        return std::nullopt;
    }
    const std::size_t sections = GetU16(image.data() + pe + 6);
    const std::size_t table = pe + 248;
    std::size_t end = 0;
    for (std::size_t i = 0; i < sections; ++i) {
        const std::size_t s = table + i * 40;
        if (s > image.size() || image.size() - s < 40) {
            return std::nullopt;
        }
        const std::size_t rawSize = GetU32(image.data() + s + 16);
        const std::size_t rawOffset = GetU32(image.data() + s + 20);
        end = std::max(end, rawOffset + rawSize);
    }
    if (end == 0) {
        return std::nullopt;
    }
    return end;
}

}  // namespace

TZALister::TZALister(TZAHost& host) : TZACore(host), view_(std::make_unique<TZACenDir>(*this)) {}

TZALister::~TZALister() = default;

TZAZipFile& TZALister::CurrentZip() {
    return view_->CurrentZip();
}

bool TZALister::IsLoaded() const {
    const TZAZipFile* z = view_->AttachedZip();
    return !ZipFileName().empty() && z != nullptr && (z->Info & TZACentral::ziLoaded) != 0;
}

void TZALister::ClearCancel() {
    TZACore::ClearCancel();
    AfterAction = aaNone;
}

void TZALister::SetZipFileName(const std::string& name, int mode) {
    Internal().ZipFileName = name;
    if (mode == 1 || mode == 2) {
        Load(name, mode == 2);
    }
}

void TZALister::Reload() {
    Load(ZipFileName(), false);
}

void TZALister::ClearNames() {
    if (TZAZipFile* z = view_->AttachedZip()) {
        z->ClearCachedNames();
    }
}

void TZALister::AttachZip(std::unique_ptr<TZAZipFile> zip) {
    view_->AttachZip(std::move(zip));
}

void TZALister::SetIncludeDirectories(bool on) {
    view_->SetIncludeDirectories(on);
}

void TZALister::Load(const std::string& name, bool quiet) {
    view_->AttachZip(nullptr);
    Internal().LoadWarning = 0;
    if (!name.empty()) {
        // A set that a killed writer left half exchanged is completed
        // before it is read, unless a writer is at work on it now.
        platform::ArchiveLock lock;
        std::string journalError;
        // So is what a writer killed in its final rename left beside it.
        if (lock.Acquire(name, false) == platform::ArchiveLock::Result::Locked) {
            if (CompleteSetExchange(name, &journalError) < 0) {
                ReportTrace("Completing the set " + name + " failed: " + journalError);
            }
            platform::RemoveLeftReplacements(name);
        }
        lock.Release();
        TZAZipFile& z = view_->CurrentZip();
        z.SetFileName(name);
        z.SetRequestedName(name);
        // The view's own update at the end of the reading is held back when
        // this load raises the update itself below; a reading that raises
        // still raises it on its way out.
        view_->HoldLoadedUpdate(!quiet);
        std::int32_t r = 0;
        try {
            r = z.Open(false, false);
        } catch (...) {
            view_->HoldLoadedUpdate(false);
            if (!quiet) {
                view_->FireDirUpdate();
            }
            throw;
        }
        view_->HoldLoadedUpdate(false);
        if (r >= 0) {
            z.Close();
            Internal().ZipComment = z.ArchiveComment;
            AfterAction = aaLoaded;
        } else if (ZAMessageIdOf(r) == 123) {
            // A name that does not exist yet: the first add creates it.
            auto& in = Internal();
            in.LastFullCode = ZAAbsCode(r);
            in.ErrCode = 123;
            in.ErrMessage = MessageText(123);
        } else {
            ShowError(r, true);
        }
    }
    if (!quiet) {
        view_->FireDirUpdate();
    }
}

TZAZipFile& TZALister::PrepareZip(bool mustBeLoaded, bool confirmAfterAbort) {
    if (ZipFileName().empty()) {
        throw EZipArchiver(ZA_CODE(133));
    }
    TZAZipFile& z = CurrentZip();
    if (mustBeLoaded && (z.Info & TZACentral::ziLoaded) == 0) {
        throw EZipArchiver(ZA_CODE(127));
    }
    if (confirmAfterAbort && (z.Info & TZAWorkZip::ziDiskAborted) != 0) {
        auto& host = Host();
        bool cancelled = false;
        if (host.Events().OnStatusDisk) {
            TZADiskAction action = zdaOk;
            host.Events().OnStatusDisk(host.Sender(), 0, ZipFileName(),
                                       TZAZipDiskStatus{zdsSameFileName}, action);
            cancelled = action == zdaCancel;
        } else {
            std::string text = MessageText(61);
            const int answer = host.ZipDialog(MessageText(68), text, TMsgDlgButtons{mbOK, mbCancel},
                                              zdConfirmation);
            cancelled = answer == mrCancel;
        }
        if (cancelled) {
            throw EZipArchiver(ZA_CODE(4), false);
        }
        z.Info = 0;
    }
    if (z.FileName().empty()) {
        z.SetFileName(ZipFileName());
        z.SetRequestedName(ZipFileName());
    }
    return z;
}

void TZALister::Finish(bool success) {
    TZACore::Finish(success);
    if (!success) {
        if (TZAZipFile* z = view_->AttachedZip()) {
            z->Info &= TZAWorkZip::ziDiskAborted;
        }
        return;
    }
    const TZAAfterAction action = AfterAction;
    // The directory is read again also after a cancelled operation (an add
    // reports its cancel and ends): the cancel, still standing, must not cut
    // the reading short, as it would the search for numbered parts.
    auto reload = [this] {
        auto& in = Internal();
        const std::int32_t pending = std::exchange(in.CancelRequest, 0);
        Load(ZipFileName(), false);
        in.CancelRequest = pending;
    };
    switch (action) {
        case aaDropDirectory:
            view_->AttachZip(nullptr);
            break;
        case aaReloadUnlessDetached:
            if (!IsDetachedSelfExtractor(ZipFileName())) {
                reload();
            }
            break;
        case aaReload:
            reload();
            break;
        default:
            break;
    }
    if (action > aaDropDirectory) {
        TakeOverArchiveSettings();
    }
}

void TZALister::TakeOverArchiveSettings() {
    TZAZipFile* z = view_->AttachedZip();
    if (Host().NoReadAux() || z == nullptr || (z->Info & TZACentral::ziAuxPending) == 0) {
        return;
    }
    if (!z->Stub().empty() && ReadStubSettings(z->Stub()) != 0) {
        return;
    }
    auto& in = Internal();
    if (z->IsMultiPart) {
        TZASpanOpts span = in.SpanOptions;
        if (z->NamingScheme != kSchemeUnknown) {
            span.exclude(spCompatName).include(spNoVolumeName);
            if (z->NamingScheme == kSchemeVolumeLabels) {
                span.exclude(spNoVolumeName);
            } else if (z->NamingScheme == kSchemeCompatible) {
                span.include(spCompatName);
            }
        }
        in.SpanOptions = span;
        in.WriteOptions.include(zwoDiskSpan);
    } else {
        in.WriteOptions.exclude(zwoDiskSpan);
    }
    z->Info &= ~TZACentral::ziAuxPending;
    in.ArchiveSettingsFlag = 0;
}

bool TZALister::IsDetachedSelfExtractor(const std::string& given) {
    const std::string name = given.empty() ? ZipFileName() : given;
    if (!SameTextAscii(ExtractFileExt(name), ".exe")) {
        return false;
    }
    TZAZipFile probe(Host());
    probe.SetFileName(name);
    if (probe.FindEndRecord(true) < 0 || !probe.IsOpen() || probe.DiskNumber != 0 ||
        probe.StartKind != kStartExecutable) {
        return false;
    }
    if (!(probe.CentralSize > 45 && probe.CentralSize < probe.EndRecordOffset)) {
        return false;
    }
    const std::int64_t a = probe.EndRecordOffset - probe.CentralSize;
    if (!(a > 11999 && a < 80001) || probe.Seek(kSeekBegin, 0) != 0) {
        return false;
    }
    std::vector<std::uint8_t> block(static_cast<std::size_t>(a + 4));
    if (!probe.ReadExact(block.data(), static_cast<std::int32_t>(block.size()))) {
        return false;
    }
    const auto end = ImageEnd(block);
    if (!end || block.size() <= kMinStubSize || *end > block.size() || block.size() - *end < 8 ||
        GetU32(block.data() + *end) != kStubTagB) {
        return false;
    }
    const std::size_t size = GetU16(block.data() + *end + 4);
    const std::size_t dir = *end + size;
    return dir <= block.size() - 4 && GetU32(block.data() + dir) == kCentralHeaderSig;
}

std::int32_t TZALister::ReadStubSettings(std::span<const std::uint8_t> stub) {
    if (stub.size() <= kMinStubSize || GetU16(stub.data()) != kExeSig) {
        return 0;
    }
    const std::int32_t bad = -ZA_CODE(178);
    const auto end = ImageEnd(stub);
    if (!end || *end > stub.size() || stub.size() - *end < 12) {
        return bad;
    }
    const std::span<const std::uint8_t> rec = stub.subspan(*end);
    const std::uint32_t tag = GetU32(rec.data());
    const bool utf8 = GetUseUTF8();
    auto text = [utf8](std::string_view raw) { return Utf8ToComponent(raw, utf8); };
    std::string strings[5];  // caption, default dir, command line, reg-fail path, message
    std::uint16_t optionBits = 0;
    std::uint16_t overwrite = 0;
    std::uint32_t flags = 0;
    bool formA = false;
    if (tag == kStubTagA) {
        if (rec.size() < 18) {
            return bad;
        }
        formA = true;
        optionBits = GetU16(rec.data() + 6);
        overwrite = rec[8];
        flags = GetU32(rec.data() + 14);
        std::size_t pos = 18;
        for (int i = 0; i < 5; ++i) {
            const std::size_t len = rec[9 + static_cast<std::size_t>(i)];
            if (rec.size() - pos < len) {
                return bad;
            }
            strings[i] = std::string(reinterpret_cast<const char*>(rec.data() + pos), len);
            pos += len;
        }
    } else if (tag == kStubTagB) {
        optionBits = GetU16(rec.data() + 6);
        overwrite = GetU16(rec.data() + 8);
        flags = GetU16(rec.data() + 10);
        std::string list;
        if ((rec[7] & 0x80) != 0) {
            if (rec.size() < 20) {
                return bad;
            }
            const std::size_t packed = GetU16(rec.data() + 12);
            const std::size_t unpacked = GetU16(rec.data() + 14);
            const std::uint32_t crc = GetU32(rec.data() + 16);
            if (rec.size() - 20 < packed) {
                return bad;
            }
            list.assign(unpacked, '\0');
            z_stream zs{};
            if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) {
                return bad;
            }
            zs.next_in = const_cast<Bytef*>(rec.data() + 20);
            zs.avail_in = static_cast<uInt>(packed);
            zs.next_out = reinterpret_cast<Bytef*>(list.data());
            zs.avail_out = static_cast<uInt>(unpacked);
            const int rc = inflate(&zs, Z_FINISH);
            const std::size_t produced = zs.total_out;
            inflateEnd(&zs);
            if (rc != Z_STREAM_END || produced != unpacked || Crc32(list) != crc) {
                return bad;
            }
        } else {
            list.assign(reinterpret_cast<const char*>(rec.data() + 12), rec.size() - 12);
        }
        std::size_t pos = 0;
        while (pos < list.size()) {
            const auto id = static_cast<std::uint8_t>(list[pos++]);
            if (id == 0) {
                break;
            }
            const std::size_t zero = list.find('\0', pos);
            const std::size_t stop = zero == std::string::npos ? list.size() : zero;
            if (id >= 1 && id <= 5) {
                strings[id - 1] = list.substr(pos, stop - pos);
            }
            pos = stop + 1;
        }
    } else {
        return bad;
    }

    // The stub's icon is taken with the texts; a stub whose resources
    // cannot be read gives nothing.
    TZAIcon icon;
    try {
        icon.Data = ReadExeIcon(stub);
    } catch (const EZAException& e) {
        return -e.FullCode;
    }
    auto& in = Internal();
    in.SetSFXIcon(icon.Empty() ? nullptr : &icon);
    in.SFXCaption = text(strings[0]);
    in.SFXDefaultDir = text(strings[1]);
    in.SFXCommandLine = text(strings[2]);
    in.SFXRegFailPath = text(strings[3]);
    std::uint16_t options = optionBits & 0x1FF;
    if (formA) {
        if ((optionBits & 0x200) != 0) {
            options |= 0x200;
        }
        if ((optionBits & 0x800) != 0) {
            options |= 0x400;
        }
    } else {
        if ((optionBits & 0x200) != 0) {
            options |= 0x200;
        }
        if ((optionBits & 0x800) != 0) {
            options |= 0x400;
        }
        if ((optionBits & 0x1000) != 0) {
            options |= 0x800;
        }
    }
    in.SFXOptions = TZASFXOpts::FromBits(options);
    in.SFXOverwriteMode = overwrite == 0 ? ovrAlways : overwrite == 1 ? ovrNever : ovrConfirm;
    std::string message = text(strings[4]);
    if ((flags & 1) != 0) {
        message = "1|" + message;
    } else if ((flags & 4) != 0) {
        message = "2|" + message;
    }
    in.SFXMessage = message;
    return 0;
}
