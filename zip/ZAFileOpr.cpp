#include "zip/ZAFileOpr.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/AtomicReplace.h"
#include "platform/CodePage.h"
#include "platform/TempFiles.h"
#include "platform/Trash.h"
#include "sfx/core/sfxblock.h"
#include "sfx/res/ZAResSFX.h"
#include "zip/ZAEOC.h"
#include "zip/ZALister.h"
#include "zip/ZAModOpr.h"
#include "zip/ZASetJournal.h"
#include "zip/ZAStubIcon.h"
#include "zip/ZAUtils.h"
#include "zip/ZAZipFile.h"
#include "zip/messages/ZAMsgIds.h"

namespace fs = std::filesystem;

namespace {

void putU16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void putU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    putU16(b, at, v & 0xFFFF);
    putU16(b, at + 2, v >> 16);
}

std::uint32_t getU32(std::span<const std::uint8_t> b) {
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

// The folder of the running program, with a trailing "/".
std::string programFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string() + "/";
}

std::string asUtf8(const std::string& text) {
    return platform::IsValidUtf8(text) ? text : platform::AnsiToUtf8(text);
}

// A stub candidate: its whole bytes (version included) when the size counts.
struct TZAStubSource {
    std::vector<std::uint8_t> bytes;
    std::uint32_t version = 0;
    std::string name;
};

bool sizeCounts(std::size_t size) {
    return size > SFX_STUB_SIZE_ABOVE && size < SFX_STUB_SIZE_BELOW;
}

TZAStubSource resourceStub(const std::string& name) {
    TZAStubSource s;
    s.name = name;
    const auto res = FindRawResource(name);
    if (sizeCounts(res.size())) {
        s.bytes.assign(res.begin(), res.end());
        s.version = getU32(s.bytes);
    }
    return s;
}

TZAStubSource fileStub(const std::string& path) {
    TZAStubSource s;
    s.name = path;
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec || !sizeCounts(size)) {
        return s;
    }
    std::ifstream in(path, std::ios::binary);
    s.bytes.resize(size);
    if (!in.read(reinterpret_cast<char*>(s.bytes.data()), static_cast<std::streamsize>(size))) {
        s.bytes.clear();
        return s;
    }
    s.version = getU32(s.bytes);
    return s;
}

}  // namespace

bool DeflateRaw(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    out.resize(deflateBound(&zs, static_cast<uLong>(in.size())) + 16);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int r = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return r == Z_STREAM_END;
}

std::vector<std::uint8_t> BuildSFXBlock(const TZASFXSettings& settings,
                                        const TZADeflateFn& deflate) {
    // The message box type comes from a "1|" or "2|" prefix; a lone leading
    // "|" only protects a message that itself starts with a digit and "|".
    std::string message = settings.Message;
    std::uint16_t boxType = 0;
    if (message.size() >= 2 && message[1] == '|' && (message[0] == '1' || message[0] == '2')) {
        boxType = message[0] == '1' ? SFX_MSGBOX_OKCANCEL : SFX_MSGBOX_YESNO;
        message.erase(0, 2);
    } else if (!message.empty() && message[0] == '|') {
        message.erase(0, 1);
    }
    const std::pair<std::uint8_t, const std::string*> strings[] = {
        {SFX_STR_CAPTION, &settings.Caption},
        {SFX_STR_COMMAND_LINE, &settings.CommandLine},
        {SFX_STR_DEFAULT_DIR, &settings.DefaultDir},
        {SFX_STR_MESSAGE, &message},
        {SFX_STR_REG_FAIL_PATH, &settings.RegFailPath}};
    std::vector<std::uint8_t> table;
    for (const auto& [id, text] : strings) {
        if (text->empty()) {
            continue;
        }
        const std::string utf8 = asUtf8(*text);
        table.push_back(id);
        table.insert(table.end(), utf8.begin(), utf8.end());
        table.push_back(0);
    }
    table.push_back(0);
    if (table.size() > SFX_TABLE_MAX) {
        throw EZipArchiver(ZA_CODE(138));
    }

    std::uint16_t flags = settings.Options.bits() & SFX_OPT_LOW_MASK;
    if (settings.Options.contains(soCreateEmptyDirs)) {
        flags |= SFX_OPT_CREATE_EMPTY_DIRS;
    }
    if (settings.Options.contains(soSuccessAlways)) {
        flags |= SFX_OPT_SUCCESS_ALWAYS;
    }
    if (table.size() > SFX_TABLE_DEFLATE_MIN && deflate) {
        std::vector<std::uint8_t> packed;
        if (deflate(table, packed) && packed.size() + SFX_TABLE_DEFLATED_HEADER < table.size()) {
            std::vector<std::uint8_t> t(SFX_TABLE_DEFLATED_HEADER);
            putU16(t, SFX_TABLE_OFF_DEFLATED_SIZE, static_cast<std::uint32_t>(packed.size()));
            putU16(t, SFX_TABLE_OFF_PLAIN_SIZE, static_cast<std::uint32_t>(table.size()));
            putU32(t, SFX_TABLE_OFF_CRC,
                   static_cast<std::uint32_t>(
                       crc32(0, table.data(), static_cast<uInt>(table.size()))));
            t.insert(t.end(), packed.begin(), packed.end());
            table = std::move(t);
            flags |= SFX_FLAG_TABLE_DEFLATED;
        }
    }
    while (table.size() % SFX_BLOCK_ALIGN != 0) {
        table.push_back(0);
    }
    std::vector<std::uint8_t> block(SFX_BLOCK_HEADER_SIZE);
    block[0] = SFX_BLOCK_SIG0;
    block[1] = SFX_BLOCK_SIG1;
    block[2] = SFX_BLOCK_SIG2;
    block[3] = SFX_BLOCK_SIG3;
    putU16(block, SFX_BLOCK_OFF_SIZE,
           static_cast<std::uint32_t>(SFX_BLOCK_HEADER_SIZE + table.size()));
    putU16(block, SFX_BLOCK_OFF_FLAGS, flags);
    const std::uint16_t overwrite = settings.Overwrite == ovrAlways  ? SFX_OVR_ALWAYS
                                    : settings.Overwrite == ovrNever ? SFX_OVR_NEVER
                                                                     : SFX_OVR_CONFIRM;
    putU16(block, SFX_BLOCK_OFF_OVERWRITE, overwrite);
    putU16(block, SFX_BLOCK_OFF_MSGBOX, boxType);
    block.insert(block.end(), table.begin(), table.end());
    return block;
}

TZAFileOpr::TZAFileOpr(TZAHost& host) : TZACore(host), lister_(host.Lister()) {}

TZALister& TZAFileOpr::Lister() const {
    if (lister_ == nullptr) {
        throw EZipArchiver(ZA_CODE(133));
    }
    return *lister_;
}

TZAFileOpr::~TZAFileOpr() = default;

bool TZAFileOpr::DeflateMemory(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out) {
    return DeflateRaw(in, out);
}

TZASFXSettings TZAFileOpr::SFXSettings() const {
    TZASFXSettings s;
    s.Caption = SFXCaption();
    s.CommandLine = SFXCommandLine();
    s.DefaultDir = SFXDefaultDir();
    s.Message = SFXMessage();
    s.RegFailPath = SFXRegFailPath();
    s.Options = SFXOptions();
    s.Overwrite = SFXOverwriteMode();
    return s;
}

bool TZAFileOpr::LoadStub() {
    Stub.clear();
    StubVersion = 0;
    const std::string& path = SFXPath();
    TZAStubSource chosen;
    std::string wanted = SFX_STUB_RESOURCE_NAME;
    if (path.size() > 1 && path.front() == '>' && path.back() == '<') {
        const std::string name = path.substr(1, path.size() - 2);
        chosen = resourceStub(name.empty() ? SFX_STUB_RESOURCE_NAME : name);
        wanted = chosen.name;
        if (chosen.version < SFX_STUB_MIN_VERSION) {
            chosen = {};
        }
    } else {
        // Candidate files: a folder gets the stub's file names appended.
        std::vector<std::string> files;
        bool explicitFile = false;
        const bool hasName = !path.empty() && path.back() != '/' && !fs::is_directory(path);
        const std::string names[] = {SFX_STUB_FILE_NAME, "ZASFXU191.bin"};
        if (path.size() <= 1 || (path.find('/') == std::string::npos && path[0] != '.')) {
            // Just a name (or nothing): the program's folder first, then as given.
            for (const std::string& n : names) {
                const std::string file = hasName && path.size() > 1 ? path : n;
                files.push_back(programFolder() + file);
                files.push_back(file);
                if (hasName && path.size() > 1) {
                    break;
                }
            }
        } else {
            // A path of its own (not relative to the program) names the stub
            // explicitly: then the built-in resource does not count.
            const std::string base = path[0] == '.' ? programFolder() + path : path;
            explicitFile = path[0] != '.';
            if (hasName) {
                files.push_back(base);
            } else {
                for (const std::string& n : names) {
                    files.push_back(platform::WithTrailingSlash(base) + n);
                }
            }
        }
        TZAStubSource file;
        for (const std::string& f : files) {
            file = fileStub(f);
            if (file.version != 0) {
                break;
            }
        }
        if (file.version != 0) {
            ReportTrace("found stub: " + file.name + " " + std::to_string(file.version));
        }
        TZAStubSource res = explicitFile ? TZAStubSource{} : resourceStub(SFX_STUB_RESOURCE_NAME);
        if (res.version != 0) {
            ReportTrace("resource stub: " + std::to_string(res.version));
        }
        if (file.version >= SFX_STUB_MIN_VERSION && file.version >= res.version) {
            chosen = std::move(file);
        } else if (res.version >= SFX_STUB_MIN_VERSION) {
            chosen = std::move(res);
        } else if (explicitFile) {
            wanted = path;
        }
    }
    if (chosen.bytes.size() < 4) {
        throw EZipArchiver(ZA_CODE(137), wanted);
    }
    Stub.assign(chosen.bytes.begin() + 4, chosen.bytes.end());
    StubVersion = chosen.version;
    if (SFXIcon() != nullptr && !SFXIcon()->Empty()) {
        ReplaceExeIcon(Stub, SFXIcon()->Data);
        // Readers take a stub only up to this size.
        if (Stub.size() + 4 >= SFX_STUB_SIZE_BELOW) {
            ReportTrace("SFX icon too large for the stub");
            throw EZipArchiver(ZA_CODE(145));
        }
    }
    return true;
}

std::int32_t TZAFileOpr::PrepareStub() {
    try {
        LoadStub();
        const std::vector<std::uint8_t> block =
            BuildSFXBlock(SFXSettings(),
                          [this](std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out) {
                              return DeflateMemory(in, out);
                          });
        const std::size_t before = Stub.size();
        Stub.insert(Stub.end(), block.begin(), block.end());
        if (Stub.size() != before + block.size()) {
            throw EZipArchiver(ZA_CODE(140));
        }
        return 0;
    } catch (const EZAException& e) {
        ShowExceptionError(e);
        Stub.clear();
        return -e.FullCode;
    } catch (const std::exception&) {
        Stub.clear();
        return -ZA_CODE(200);
    }
}

std::unique_ptr<TZAZipFile> TZAFileOpr::OpenArchive(const std::string& name) {
    auto zip = std::make_unique<TZAZipFile>(Host());
    zip->SetFileName(name);
    zip->SetRequestedName(name);
    const std::int32_t r = zip->Open(false, false);
    if (r < 0) {
        throw EZipArchiver(ZAAbsCode(r), true);
    }
    // A self-extracting set opened through its program: the parts carry the
    // program's name with ".zip", and reads that go on to another part must
    // look for them under that name, not the program's.
    if (zip->IsMultiPart && SameTextAscii(ExtractFileExt(name), ".exe")) {
        zip->SetRequestedName(ChangeFileExt(name, ".zip"));
    }
    return zip;
}

TZAZipFile& TZAFileOpr::ArchiveOrCurrent(TZAZipFile* archive, std::unique_ptr<TZAZipFile>& opened) {
    if (archive != nullptr) {
        return *archive;
    }
    Lister().PrepareZip(true, true);
    opened = OpenArchive(ZipFileName());
    return *opened;
}

void TZAFileOpr::MakeCurrent(const std::string& name) {
    Lister().SetZipFileName(name, 0);
    Internal().ZipFileName = name;
    Lister().AfterAction = aaReload;
}

namespace {

// Whether `path` holds the end records of a multi-part set.
bool isLastPartOfSet(TZAHost& host, const std::string& path) {
    if (!FileExists(path)) {
        return false;
    }
    TZAEOC eoc(host);
    eoc.SetFileName(path);
    const bool set = eoc.FindEndRecord(false) >= 0 && eoc.DiskCount > 1;
    eoc.Close();
    return set;
}

}  // namespace

std::int32_t TZAFileOpr::WriteConverted(TZAZipFile& source, const std::string& target,
                                        std::vector<std::uint8_t> stub) {
    LockForRewrite(target);
    if (isLastPartOfSet(Host(), target)) {
        throw EZipArchiver(ZA_CODE(zamsg::kLastPartKept), target);
    }
    // The new file is written under a temporary name (in TempDir or the
    // system's temporary folder) and renamed into place when complete, so
    // that the target never holds a partial archive.
    auto out = std::make_unique<TZAZipCopy>(Host());
    if (!out->CreateTemporary(stub.empty() ? "zip" : "zsx", {})) {
        throw EZipArchiver(ZA_CODE(171));
    }
    if (!stub.empty()) {
        out->SetStub(std::move(stub));
        out->KeepStub = true;
    }
    const std::int32_t r = out->CopyEntries(source, true);
    source.Close();
    out->Close();
    if (r < 0) {
        return r;
    }
    const std::string temp = out->FileName();
    if (!out->RenameTo(target, HowToDelete() != htdAllowUndo)) {
        throw EZipArchiver(ZA_CODE(141), target, temp);
    }
    return 0;
}

std::int32_t TZAFileOpr::ConvertToSFX(const std::string& destination, TZAZipFile* archive) {
    ReportTrace("ConvertToSFX");
    SpanSFX = false;
    std::unique_ptr<TZAZipFile> opened;
    archive = &ArchiveOrCurrent(archive, opened);
    const std::int32_t prepared = PrepareStub();
    if (prepared < 0) {
        return prepared;
    }
    const std::string target =
        destination.empty() ? ChangeFileExt(archive->FileName(), ".exe") : destination;
    const std::int32_t r = WriteConverted(*archive, target, std::move(Stub));
    Stub.clear();
    if (r < 0) {
        return r;
    }
    MakeCurrent(target);
    return 0;
}

std::int32_t TZAFileOpr::ConvertToZIP(const std::string& destination, TZAZipFile* archive) {
    ReportTrace("ConvertToZIP");
    std::unique_ptr<TZAZipFile> opened;
    archive = &ArchiveOrCurrent(archive, opened);
    std::string target = destination;
    if (target.empty()) {
        target = ChangeFileExt(archive->FileName(), ".zip");
    }
    if (target == archive->FileName()) {
        throw EZipArchiver(ZA_CODE(141), archive->FileName(), target);
    }
    const std::int32_t r = WriteConverted(*archive, target, {});
    if (r < 0) {
        return r;
    }
    MakeCurrent(target);
    return 0;
}

std::int32_t TZAFileOpr::WriteEmptySFX(const std::string& path) {
    ReportTrace("Write empty SFX");
    const std::int32_t r = PrepareStub();
    if (r < 0) {
        return r;
    }
    static const std::uint8_t kEmptyEnd[22] = {0x50, 0x4B, 0x05, 0x06};
    Stub.insert(Stub.end(), std::begin(kEmptyEnd), std::end(kEmptyEnd));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(Stub.data()),
              static_cast<std::streamsize>(Stub.size()));
    out.close();
    if (!out) {
        return -ZA_CODE(180);
    }
    ReportTrace("finished write empty SFX");
    return 0;
}

std::int32_t TZAFileOpr::JoinToTemp(const std::string& source, std::string& destination,
                                    bool keepParts) {
    std::unique_ptr<TZAZipCopy> out;
    std::int32_t result = 0;
    try {
        if (!ExtractFileName(destination).empty()) {
            if (FileExists(destination)) {
                RemoveFileOrRaise(destination, HowToDelete() == htdFinal);
            }
            destination = ChangeFileExt(destination, ".zip");
        } else {
            destination = platform::MakeTempFileName(WorkFolder(), "zip", ".zip");
            if (destination.empty()) {
                throw EZipArchiver(ZA_CODE(173));
            }
        }
        std::unique_ptr<TZAZipFile> in = OpenArchive(source);
        out = std::make_unique<TZAZipCopy>(Host());
        if (!out->Create(destination)) {
            throw EZipArchiver(ZA_CODE(171));
        }
        out->SetTemporary(true);
        if (keepParts) {
            SetWriteEncoding(3);
        }
        result = out->CopyEntries(*in, true);
        if (result < 0) {
            ShowError(result);
        } else {
            out->SetTemporary(false);
        }
    } catch (const EZAException& e) {
        ShowExceptionError(e);
        result = -e.FullCode;
    } catch (const std::exception& e) {
        ShowErrorFmt(ZA_CODE(160), {std::string(e.what())});
        result = -ZA_CODE(160);
    }
    if (result < 0) {
        out.reset();  // a temporary output is removed with its object
        destination.clear();
    }
    return result;
}

std::int32_t TZAFileOpr::CopyToSpanned(const std::string& source, const std::string& target,
                                       bool span) {
    std::int32_t result = 0;
    try {
        if (ExtractFileName(source).empty()) {
            throw EZipArchiver(ZA_CODE(123));
        }
        if (ExtractFileName(target).empty()) {
            throw EZipArchiver(ZA_CODE(171));
        }
        std::unique_ptr<TZAZipFile> in = OpenArchive(source);
        if (span) {
            result = WriteSetStaged(*in, target);
        } else {
            auto out = std::make_unique<TZAZipCopy>(Host());
            if (!out->Create(target)) {
                throw EZipArchiver(ZA_CODE(171));
            }
            result = out->CopyEntries(*in, true);
        }
        if (result < 0) {
            ShowError(result);
        }
    } catch (const EZAException& e) {
        ShowExceptionError(e);
        result = -e.FullCode;
    } catch (const std::exception& e) {
        ShowErrorFmt(ZA_CODE(160), {std::string(e.what())});
        result = -ZA_CODE(160);
    }
    return result;
}

namespace {

// The naming scheme under which `file` names a part of the set `set` (a
// name with ".zip"), other than the part under the set's own name:
// compatible set.z01, set.z02, ... or numbered set001.zip, ...; else
// kSchemeUnknown.
std::uint8_t partScheme(const std::string& file, const std::string& set) {
    const std::string stem = set.substr(0, set.size() - ExtractFileExt(set).size());
    auto digits = [](std::string_view t) {
        return !t.empty() &&
               std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (file.size() > stem.size() + 2 && file.compare(0, stem.size() + 2, stem + ".z") == 0 &&
        digits(std::string_view(file).substr(stem.size() + 2))) {
        return kSchemeCompatible;
    }
    if (file.size() == stem.size() + 7 && file.compare(0, stem.size(), stem) == 0 &&
        SameTextAscii(file.substr(stem.size() + 3), ".zip") &&
        digits(std::string_view(file).substr(stem.size(), 3))) {
        return kSchemeNumbered;
    }
    return kSchemeUnknown;
}

}  // namespace

std::int32_t TZAFileOpr::WriteSetStaged(TZAZipFile& source, const std::string& name,
                                        const std::string& program) {
    // The set is known by its program, or by the name of its last part.
    const std::string setName = program.empty() ? name : program;
    LockForRewrite(setName);
    const std::string folder =
        platform::CreateTempFolder(TempDir().empty() ? platform::TempFolder() : TempDir(), "zsp");
    if (folder.empty()) {
        throw EZipArchiver(ZA_CODE(173));
    }
    // The folder goes, with whatever was written in it, as soon as the set
    // is in place or has failed or was cancelled.
    struct RemoveFolder {
        std::string path;
        ~RemoveFolder() { platform::RemoveTree(path); }
    } removeFolder{folder};
    auto out = std::make_unique<TZAZipCopy>(Host());
    const std::string last = ExtractFileName(name);
    out->BeginMultiPartWrite(folder + last, source.LogicalSize);
    const std::int32_t r = out->CopyEntries(source, true);
    source.Close();
    out->Close();
    if (r < 0) {
        return r;
    }
    std::vector<std::string> parts;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        parts.push_back(entry.path().filename().string());
    }
    std::sort(parts.begin(), parts.end());
    // The part with the end records is the one under the set's own name
    // (compatible names, or a set of one part), else the highest number.
    std::string endPart = parts.empty() ? std::string() : parts.back();
    if (std::find(parts.begin(), parts.end(), last) != parts.end()) {
        endPart = last;
    }
    // A self-extracting set's program is written beside its parts, from
    // the directory in the part with the end records, and goes into place
    // with them.
    const std::string programFile = ExtractFileName(program);
    if (!program.empty()) {
        const std::int32_t written = WriteDetachedStub(folder + endPart, folder + programFile);
        if (written < 0) {
            return written;
        }
    }
    const std::string destFolder = ExtractFilePath(name);
    // Parts named like the new ones that the new set does not have are
    // left over from a longer old set.
    std::vector<std::string> stale;
    const std::uint8_t scheme = out->NamingScheme;
    for (const auto& entry : fs::directory_iterator(destFolder.empty() ? "." : destFolder, ec)) {
        const std::string file = entry.path().filename().string();
        if (partScheme(file, last) == scheme &&
            std::find(parts.begin(), parts.end(), file) == parts.end()) {
            stale.push_back(file);
        }
    }
    // When waiting for the disk, every part (and the program) is on it
    // before the first rename, so that the renames still follow each other
    // closely; the part with the end records comes last, then the program.
    std::stable_partition(parts.begin(), parts.end(),
                          [&endPart](const std::string& p) { return p != endPart; });
    std::vector<std::pair<std::string, std::string>> moves;
    for (const std::string& part : parts) {
        moves.emplace_back(folder + part, destFolder + part);
    }
    if (!program.empty()) {
        moves.emplace_back(folder + programFile, program);
    }
    for (const auto& [from, to] : moves) {
        if (!platform::SyncFileData(from)) {
            throw EZipArchiver(ZA_CODE(180));
        }
    }
    // The last moment to stop with nothing changed: once the parts move,
    // the set is completed.
    CheckWriteCancelAndRaise();
    CheckUnchangedSinceLocked(setName);
    if (HowToDelete() == htdAllowUndo) {
        // Undo wanted: the trash keeps a second name of every old part (and
        // program) that a rename below replaces, as it keeps the parts that
        // are removed.
        for (const auto& [from, to] : moves) {
            if (FileExists(to)) {
                // A file the trash cannot keep is not replaced: nothing has
                // moved yet, and the old set stays as it is.
                const platform::TrashResult kept = platform::LinkToTrash(to);
                if (!kept) {
                    throw EZipArchiver(ZA_CODE(zamsg::kTrashFailedKept), to, kept.error);
                }
            }
        }
    }
    // The journal beside the set lets the next open complete an exchange
    // that a kill interrupts: from here on the new set is what the name
    // holds, whatever happens.
    // Its paths are absolute: the next open may run in another folder.
    auto absolute = [](const std::string& path) {
        std::error_code ec;
        const fs::path full = fs::absolute(fs::path(path), ec);
        return ec ? path : full.lexically_normal().string();
    };
    TZASetJournal journal;
    journal.StagingFolder = absolute(folder);
    journal.Permanent = HowToDelete() != htdAllowUndo;
    for (const auto& [from, to] : moves) {
        struct stat st {};
        if (::stat(from.c_str(), &st) != 0) {
            throw EZipArchiver(ZA_CODE(163));
        }
        journal.Moves.push_back({absolute(from), absolute(to),
                                 static_cast<std::uint64_t>(st.st_dev),
                                 static_cast<std::uint64_t>(st.st_ino)});
    }
    for (const std::string& file : stale) {
        journal.Stale.push_back(absolute(destFolder + file));
    }
    for (const TZATemporary& temp : Temporaries) {
        if (temp.AlwaysRemove) {
            journal.Temporaries.push_back(temp.Path);
        }
    }
    const std::string journalPath = SetJournalPath(setName);
    std::string journalError;
    if (!WriteSetJournal(journalPath, journal, &journalError)) {
        ReportTrace("Writing " + journalPath + " failed: " + journalError);
        throw EZipArchiver(ZA_CODE(171));
    }
    // On one file system the renames follow each other with nothing in
    // between; across file systems each file is copied beside its target.
    for (const auto& [from, to] : moves) {
        std::string error;
        if (!platform::MoveSyncedFile(from, to, &error) &&
            !platform::ReplaceFile(from, to, &error)) {
            ReportTrace(error);
            // The staged files stay for the journal: the next open completes
            // the set.
            removeFolder.path.clear();
            throw EZipArchiver(ZA_CODE(163));
        }
    }
    NoteReplaced(setName);
    for (const std::string& file : stale) {
        RemoveFile(destFolder + file, HowToDelete() != htdAllowUndo);
    }
    std::error_code removed;
    fs::remove(journalPath, removed);
    return 0;
}

std::int32_t TZAFileOpr::SpanTo(const std::string& target) {
    const std::string source = ZipFileName();
    const std::string name = target.empty() ? source : target;
    LockForRewrite(name);
    Lister().PrepareZip(true, true);
    // Spanned in place, the source's files that the new parts do not write
    // over (an archive under the set's name beside numbered parts, the
    // parts of an old set named otherwise) would shadow the new set.
    std::error_code ec;
    if (name == source || fs::equivalent(name, source, ec)) {
        NoteOldParts(source);
    }
    std::unique_ptr<TZAZipFile> in = OpenArchive(source);
    const std::int32_t r = WriteSetStaged(*in, name);
    if (r < 0) {
        OldParts.clear();
        return r;
    }
    RemoveUnreplacedOldParts();
    MakeCurrent(name);
    return 0;
}

namespace {

bool identify(const std::string& path, std::uint64_t& device, std::uint64_t& inode) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    device = static_cast<std::uint64_t>(st.st_dev);
    inode = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

}  // namespace

void TZAFileOpr::NoteOldPart(const std::string& path) {
    TZAOldPart part;
    part.Path = path;
    if (identify(part.Path, part.Device, part.Inode)) {
        OldParts.push_back(std::move(part));
    }
}

void TZAFileOpr::NoteOldParts(const std::string& name) {
    TZAZipFile old(Host());
    old.SetFileName(name);
    old.SetRequestedName(name);
    const bool opened = old.Open(false, false) >= 0;
    const int parts = opened ? std::max(old.DiskCount, 1) : 1;
    if (parts > 1 && SameTextAscii(ExtractFileExt(name), ".exe")) {
        old.SetRequestedName(ChangeFileExt(name, ".zip"));
    }
    for (int n = 0; n < parts; ++n) {
        if (parts > 1) {
            old.DiskNumber = n;
            NoteOldPart(old.CurrentPartName());
        } else {
            NoteOldPart(name);
        }
    }
    // The program of a self-extracting set is noted after its parts.
    if (parts > 1 && SameTextAscii(ExtractFileExt(name), ".exe")) {
        NoteOldPart(name);
    }
    old.Close();
}

void TZAFileOpr::RemoveUnreplacedOldParts() {
    for (const TZAOldPart& part : OldParts) {
        std::uint64_t device = 0, inode = 0;
        if (identify(part.Path, device, inode) && device == part.Device && inode == part.Inode) {
            RemoveFile(part.Path, HowToDelete() != htdAllowUndo);
        }
    }
    OldParts.clear();
}

std::int32_t TZAFileOpr::JoinTo(const std::string& target) {
    Lister().PrepareZip(true, true);
    std::unique_ptr<TZAZipFile> in = OpenArchive(ZipFileName());
    const std::int32_t r = WriteConverted(*in, target, {});
    if (r < 0) {
        return r;
    }
    Lister().AfterAction = aaReload;
    return 0;
}
