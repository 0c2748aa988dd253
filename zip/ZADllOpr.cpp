#include "zip/ZADllOpr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/AtomicReplace.h"
#include "platform/CodePage.h"
#include "platform/DosTime.h"
#include "zip/ZADllLoad.h"
#include "zip/ZALister.h"
#include "zip/ZAStream.h"
#include "zip/ZAXcpt.h"
#include "zip/ZAZipFile.h"
#include "zip/messages/ZAMsgIds.h"

// The engine reports its own texts by catalogue number: its numbers are the catalogue's.
static_assert(ZE_MSG_NOT_A_ZIP == zamsg::kNotAZip);
static_assert(ZE_MSG_CANNOT_READ == zamsg::kCannotRead);
static_assert(ZE_MSG_NO_TEMP_FILE == zamsg::kNoTempFile);
static_assert(ZE_MSG_CANNOT_REPLACE == zamsg::kCannotReplace);
static_assert(ZE_MSG_CANNOT_DELETE == zamsg::kCannotDelete);
static_assert(ZE_MSG_NO_EXTRACT_DIR == zamsg::kNoExtractDir);
static_assert(ZE_MSG_BAD_LOCAL == zamsg::kBadLocal);
static_assert(ZE_MSG_NAMES_DIFFER == zamsg::kNamesDiffer);
static_assert(ZE_MSG_ENCRYPTION == zamsg::kEncryption);
static_assert(ZE_MSG_METHOD == zamsg::kMethod);
static_assert(ZE_MSG_UNSAFE_NAME == zamsg::kUnsafeName);
static_assert(ZE_MSG_FOLDER_IS_LINK == zamsg::kFolderIsLink);
static_assert(ZE_MSG_CANNOT_MKDIR == zamsg::kCannotMkdir);
static_assert(ZE_MSG_PASSWORD == zamsg::kPassword);
static_assert(ZE_MSG_AUTHENTICATION == zamsg::kAuthentication);
static_assert(ZE_MSG_CANNOT_CREATE == zamsg::kCannotCreate);
static_assert(ZE_MSG_LINK_TOO_LONG == zamsg::kLinkTooLong);
static_assert(ZE_MSG_CANNOT_LINK == zamsg::kCannotLink);
static_assert(ZE_MSG_SIZE_MISMATCH == zamsg::kSizeMismatch);
static_assert(ZE_MSG_WRITE_ERROR == zamsg::kWriteError);
static_assert(ZE_MSG_DATA_ERROR == zamsg::kDataError);
static_assert(ZE_MSG_LINK_OUTSIDE == zamsg::kLinkOutside);
static_assert(ZE_MSG_FOLDER_IN_WAY == zamsg::kFolderInWay);
static_assert(ZE_MSG_CRC_ERROR == zamsg::kCrcError);

namespace {

namespace fs = std::filesystem;

constexpr int kUnitDllOpr = 16;

// A packed code for a message id known only at run time.
std::int32_t CodeOf(int id, int line) {
    return ZAPackCode(kUnitDllOpr, line, id);
}

constexpr const char* kStoreSuffixNames[] = {"gif", "png",  "z",   "zip", "zoo",    "arc", "lzh",
                                             "arj", "taz",  "tgz", "lha", "rar",    "ace", "cab",
                                             "gz",  "gzip", "jar", "exe", nullptr,  "jpg", "jpeg",
                                             "7zp", "mp3",  "wmv", "wma", "dvr-ms", "avi"};

std::string StoreSuffixList(TZAAddStoreExts set, const std::string& extra) {
    std::string out;
    for (int m = 0; m <= assAVI; ++m) {
        const auto member = static_cast<TZAAddStoreSuffixEnum>(m);
        if (member != assEXT && set.contains(member))
            out += std::string(".") + kStoreSuffixNames[m] + ":";
    }
    if (set.contains(assEXT))
        out += extra;
    return out;
}

bool EndsInSeparator(const std::string& s) {
    return !s.empty() && (s.back() == '/' || s.back() == '\\');
}

}  // namespace

// --- TZECallback --------------------------------------------------------------

std::string TZECallback::ReadText(const void* p) const {
    if (p == nullptr)
        return {};
    if (rec_->TextEncoding != 0) {
        const std::u16string_view wide(static_cast<const char16_t*>(p));
        return utf8_ ? platform::Utf16ToUtf8(wide) : platform::Utf16ToAnsi(wide);
    }
    const std::string_view narrow(static_cast<const char*>(p));
    return utf8_ ? platform::AnsiToUtf8(narrow) : std::string(narrow);
}

void TZECallback::Reply(const void* data, std::size_t n) {
    if (n + 4 >= replySize_) {
        replySize_ = ((n + 4) | 511) + 1;
        replyBuffer_ = std::make_unique<std::uint8_t[]>(replySize_);
    }
    if (n > 0)
        std::memcpy(replyBuffer_.get(), data, n);
    std::memset(replyBuffer_.get() + n, 0, 4);
    rec_->Text = replyBuffer_.get();
}

void TZECallback::SetAnsiText(const std::string& s) {
    Reply(s.data(), s.size());
    rec_->TextEncoding = 0;
    rec_->Arg1 = static_cast<std::int32_t>(s.size());
}

void TZECallback::SetText(const std::string& s) {
    Reply(s.data(), s.size());
    rec_->TextEncoding = utf8_ && platform::IsValidUtf8(s) && !platform::IsAscii(s) ? 2 : 0;
}

void TZECallback::SetData(const std::uint8_t* bytes, std::size_t n) {
    n = std::min<std::size_t>(n, 2048);
    Reply(bytes, n);
    rec_->Arg1 = static_cast<std::int32_t>(n);
}

std::size_t TZECallback::CopyText2(std::uint8_t* buffer, std::size_t n) const {
    if (rec_->Text2 == nullptr || rec_->Arg1 <= 0)
        return 0;
    n = std::min(n, static_cast<std::size_t>(rec_->Arg1));
    std::memcpy(buffer, rec_->Text2, n);
    return n;
}

// --- TZADLLOpr ------------------------------------------------------------------

TZADLLOpr::TZADLLOpr(TZAHost& host) : TZAModOpr(host), Callback(GetUseUTF8()) {}

TZADLLOpr::~TZADLLOpr() = default;

void TZADLLOpr::SetCancel(std::int32_t code) {
    TZAModOpr::SetCancel(code);
    if (code != 0 && AbortHandle != 0)
        TZADLLLoader::Instance().AbortJob(Host(), AbortHandle);
}

void TZADLLOpr::Finish(bool success) {
    TZAModOpr::Finish(success);
    if (!success) {
        Pipes.Clear();
        SetOwnedObject(nullptr);
    }
}

void TZADLLOpr::SetEngineLoaded(bool on) {
    auto& loader = TZADLLLoader::Instance();
    if (on == loader.IsUser(Host()))
        return;
    if (on)
        loader.Acquire(*this);
    else
        loader.Release(Host(), this);
}

std::uint32_t TZADLLOpr::AddFlags() const {
    const TZAAddOpts o = AddOptions();
    const TZAWriteOpts w = WriteOptions();
    std::uint32_t f = ZE_FLAG_ALWAYS | ZE_FLAG_ADD;
    if (o.contains(AddUpdate))
        f |= ZE_FLAG_UPDATE;
    else if (o.contains(AddFreshen))
        f |= ZE_FLAG_FRESHEN;
    if (!o.contains(AddEmptyDirs))
        f |= ZE_FLAG_NO_EMPTY_DIRS;
    if (!o.contains(AddDirNames))
        f |= ZE_FLAG_NO_DIRNAMES;
    if (o.contains(AddRecurseDirs))
        f |= ZE_FLAG_RECURSE;
    if (!w.contains(zwoSafe))
        f |= ZE_FLAG_NOT_SAFE;
    if (o.contains(AddMove))
        f |= ZE_FLAG_MOVE;
    if (o.contains(AddHiddenFiles))
        f |= ZE_FLAG_HIDDEN;
    if (w.contains(zwoZipTime))
        f |= ZE_FLAG_ZIPTIME;
    if (o.contains(AddArchiveOnly))
        f |= ZE_FLAG_ARCHIVE_ONLY;
    if (o.contains(AddResetArchive))
        f |= ZE_FLAG_RESET_ARCHIVE;
    if (o.contains(AddVersion))
        f |= ZE_FLAG_VERSION;
    if (HowToDelete() == htdAllowUndo)
        f |= ZE_FLAG_UNDO;
    if (o.contains(AddEncrypt))
        f |= ZE_FLAG_ENCRYPT;
    if (o.contains(AddVolume))
        f |= ZE_FLAG_VOLUME;
    if (o.contains(AddNTFS))
        f |= ZE_FLAG_NTFS;
    if (o.contains(AddFollowLinks))
        f |= ZE_FLAG_FOLLOW_LINKS;
    if (platform::WaitForDisk())
        f |= ZE_FLAG_WAIT_FOR_DISK;
    return f;
}

std::uint32_t TZADLLOpr::ExtractFlags() const {
    const TZAExtrOpts o = ExtrOptions();
    std::uint32_t f = ZE_FLAG_ALWAYS;
    f |= o.contains(ExtrTest) ? ZE_FLAG_TEST : ZE_FLAG_EXTRACT;
    if (o.contains(ExtrUpdate))
        f |= ZE_FLAG_UPDATE;
    else if (o.contains(ExtrFreshen))
        f |= ZE_FLAG_FRESHEN;
    if (o.contains(ExtrDirNames))
        f |= ZE_FLAG_DIRNAMES;
    if (o.contains(ExtrOverWrite))
        f |= ZE_FLAG_OVERWRITE;
    if (o.contains(ExtrNTFS))
        f |= ZE_FLAG_NTFS;
    return f;
}

std::unique_ptr<ZEJobRec> TZADLLOpr::BuildJob(bool isAdd) {
    auto job = std::make_unique<ZEJobRec>();
    std::memset(job.get(), 0, sizeof(ZEJobRec));
    job->OwnerWindow = Unattended() ? nullptr : reinterpret_cast<void*>(AppWindow());  // NOLINT
    job->Caller = static_cast<TZACore*>(this);  // read back as TZACore* in the callbacks
    job->Version = ZE_INTERFACE_VERSION;
    job->Callback = &TZADLLOpr::EngineCallback;
    job->StreamFn = &TZADLLOpr::EngineStream;
    job->Verbosity = Internal().Trace() ? -1 : (Internal().Verbose() ? 1 : 0);
    job->NameCodePage = static_cast<std::int32_t>(NameCodePage());
    if (isAdd) {
        job->Encoding =
            Encoding() == zeoOEM ? ZE_ENC_OEM : (Encoding() == zeoUTF8 ? ZE_ENC_UTF8 : 0);
        job->Flags = AddFlags();
        job->WriteEncoding = WriteEncoding() & 0x7F;
        job->Level = AddCompLevel();
        if (AddOptions().contains(AddFromDate))
            job->DateLimit = platform::DayNumberToDos(AddFrom());
    } else {
        job->Encoding = static_cast<std::int32_t>(Encoding()) & 0x7F;
        job->Flags = ExtractFlags();
        job->PasswordTries = static_cast<std::int32_t>(PasswordReqCount());
    }
    if (Host().WorkSpecs().ExactNames)
        job->Flags |= ZE_FLAG_EXACT_NAMES;
    job->Check = ZE_JOB_CHECK;
    return job;
}

std::int32_t TZADLLOpr::RunJob(ZEJobRec& job) {
    std::int32_t result;
    try {
        result = TZADLLLoader::Instance().Exec(*this, job);
    } catch (...) {
        result = -6;
    }
    if (result >= 0)
        return result;
    if (result == -1 || result == -2) {
        EZipArchiver e(ZA_CODE(2));
        e.Display = false;
        throw e;
    }
    if (result >= -36)
        throw EZipArchiver(CodeOf(231 - result, __LINE__));
    throw EZipArchiver(ZA_CODE(192), -static_cast<std::int64_t>(result));
}

void TZADLLOpr::PreparePipes() {
    Host().Pipes().MoveTo(Pipes);
    auto& includes = Host().WorkSpecs().Include;
    for (int n = 0; n < Pipes.Count(); ++n) {
        TZAPipe* pipe = Pipes.Find(n);
        if (pipe == nullptr)
            continue;
        std::string name = pipe->Name();
        if (!name.empty() && (name.find("..") != std::string::npos || name.front() == '/' ||
                              name.find(':') != std::string::npos))
            throw EZAException(ZA_CODE(103));
        while (!name.empty() && (name.front() == '\\')) {
            name.erase(0, 1);
            if (name.size() > 260)
                name.resize(260);
        }
        if (name.empty())
            name = "#stream" + std::to_string(n) + "#";
        const auto at = std::min<std::size_t>(static_cast<std::size_t>(n), includes.size());
        includes.insert(includes.begin() + static_cast<std::ptrdiff_t>(at),
                        std::to_string(n) + ":" + name);
    }
}

bool TZADLLOpr::CanWrite(const std::string& path) const {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (::access(path.c_str(), W_OK) != 0)
            return false;
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(path.c_str());
    return true;
}

void TZADLLOpr::MarkForReload() {
    TZALister* lister = Host().Lister();
    if (lister == nullptr)
        return;
    // An archive the job did not change is read again rather than dropped,
    // so that the application keeps showing its entries.
    std::error_code ec;
    const bool exists = fs::exists(ZipFileName(), ec);
    lister->AfterAction = SuccessCount() > 0 || exists ? aaReloadUnlessDetached : aaDropDirectory;
}

void TZADLLOpr::Add() {
    auto& loader = TZADLLLoader::Instance();
    bool acquired = false;
    auto& includes = Host().WorkSpecs().Include;
    std::unique_ptr<ZEJobRec> job;
    // A multi-part set stays one: it is written again as a set.
    const bool spanning = WriteOptions().contains(zwoDiskSpan) || ArchiveIsSet();
    bool newSFX = false;
    std::int32_t added = 0;
    auto cleanup = [&] {
        RemoveTemporaryArchive();
        // A self-extractor made for this add holds nothing when it failed.
        std::error_code ec;
        if (newSFX && added <= 0)
            fs::remove(ZipFileName(), ec);
        Host().WorkSpecs().Include.clear();
        Host().WorkSpecs().Exclude.clear();
        Pipes.Clear();
        job.reset();
        if (acquired)
            loader.Release(Host(), this);
        ClearCancel();
        MarkForReload();
    };
    try {
        if (Unattended() && AddOptions().contains(AddEncrypt) && Password().empty())
            throw EZipArchiver(ZA_CODE(110));
        PreparePipes();
        if (ZipFileName().empty())
            throw EZipArchiver(ZA_CODE(133));
        LockForRewrite(ZipFileName());
        if (includes.empty()) {
            TZAAddOpts o = AddOptions();
            if (!o.contains(AddFreshen) && !o.contains(AddUpdate))
                throw EZipArchiver(ZA_CODE(11));
            if (o.contains(AddUpdate)) {
                o.exclude(AddUpdate);
                o.include(AddFreshen);
                SetAddOptions(o);
            }
            includes.push_back("*.*");
        }
        std::error_code ec;
        if (AddOptions().contains(AddFreshen) && Host().Count() == 0 &&
            !AddOptions().contains(AddUpdate))
            throw EZipArchiver(ZA_CODE(11));
        fs::path folder = fs::absolute(fs::path(ZipFileName()), ec).parent_path();
        if (WriteOptions().contains(zwoForceDest))
            fs::create_directories(folder, ec);
        if (!fs::is_directory(folder, ec))
            throw EZipArchiver(ZA_CODE(109), folder.string());
        if (!CanWrite(ZipFileName()))
            throw EZipArchiver(ZA_CODE(125), ZipFileName());
        // A file that is there but did not load as a zip archive is not handed
        // to the engine, which would only say the same again in other words.
        if (!spanning && Host().Count() == 0 && fs::file_size(ZipFileName(), ec) > 0 && !ec) {
            const TZALister* lister = Host().Lister();
            const TZAZipFile* loaded = lister ? lister->View().AttachedZip() : nullptr;
            if (loaded == nullptr || (loaded->Info & TZACentral::ziLoaded) == 0)
                throw EZipArchiver(ZA_CODE(127));
        }
        if (loader.Acquire(*this) < 1) {
            cleanup();
            return;
        }
        acquired = true;
        ArchiveName = ZipFileName();
        if (spanning) {
            if (!PrepareSpannedAdd()) {
                cleanup();
                return;
            }
        } else {
            newSFX = PrepareNewSFX();
        }
    } catch (const std::exception& e) {
        ShowExceptionError(e);
        cleanup();
        return;
    }
    try {
        CancelCode = 0;
        Internal().CancelRequest = 0;
        job = BuildJob(true);
        // The set is written from a temporary copy, and a new program holds nothing yet:
        // neither is worth keeping in the trash (the old parts of a set are kept there).
        if (spanning || newSFX)
            job->Flags |= ZE_FLAG_TEMP_ARCHIVE;
        CallbackError.clear();
        SetSuccessCount(RunJob(*job));
        if (spanning && SuccessCount() > 0)
            WriteSpannedAdd();
        added = SuccessCount();
    } catch (const EZAException& e) {
        ShowZipMessage(e.DisplayText() + CallbackError, e.FullCode, e.Display);
    } catch (const std::exception&) {
        ShowError(ZA_CODE(195));
    }
    cleanup();
}

void TZADLLOpr::Extract() {
    auto& loader = TZADLLLoader::Instance();
    bool acquired = false;
    const std::uint32_t savedTries = Internal().PasswordReqCount;
    try {
        CancelCode = 0;
        if (ZipFileName().empty())
            throw EZipArchiver(ZA_CODE(133));
        TZALister* lister = Host().Lister();
        if (Host().Count() == 0 && lister != nullptr)
            lister->Reload();
        if (Host().Count() == 0) {
            // A valid archive without entries: nothing to do, and nothing
            // failed, but a name asked for matches nothing.
            if (Host().ArchiveLoaded()) {
                for (const std::string& spec : Host().WorkSpecs().Include)
                    if (ReportSkipping(spec, 0, stNotFound))
                        break;
                Host().WorkSpecs().Include.clear();
                return;
            }
            if (ErrCode() == 0)
                throw EZipArchiver(ZA_CODE(164));
            return;
        }
        if (!ExtrBaseDir().empty() && !ExtrOptions().contains(ExtrTest)) {
            std::error_code ec;
            const fs::path base = fs::absolute(fs::path(ExtrBaseDir()), ec);
            if (ExtrOptions().contains(ExtrForceDirs))
                fs::create_directories(base, ec);
            if (!fs::is_directory(base, ec))
                throw EZipArchiver(ZA_CODE(129), base.string());
            Internal().ExtrBaseDir = base.string();
        }
        ArchiveName = ZipFileName();
        if (!JoinSetForEngine())
            return;
        if (loader.Acquire(*this) < 1) {
            RemoveTemporaryArchive();
            return;
        }
        acquired = true;
        PreparePipes();
        auto& host = Host();
        if (Unattended() && Password().empty() && !host.Events().OnPasswordError) {
            Internal().PasswordReqCount = 0;
            ReportMessageId(130);
        }
        auto job = BuildJob(false);
        CallbackError.clear();
        SetSuccessCount(RunJob(*job));
    } catch (const EZAException& e) {
        ShowZipMessage(e.DisplayText() + CallbackError, e.FullCode, e.Display);
        SetSuccessCount(0);
    }
    RemoveTemporaryArchive();
    Internal().PasswordReqCount = savedTries;
    if (acquired)
        loader.Release(Host(), this);
    Host().WorkSpecs().Include.clear();
    Pipes.Clear();
    MarkForReload();
}

std::int32_t TZADLLOpr::MemoryJob(TZAStream* output, TZAStream* input, std::uint32_t& crc,
                                  std::int32_t& method, std::int64_t size) {
    if (input == nullptr)
        return -ZA_CODE(169);
    if (output == nullptr)
        return -ZA_CODE(172);
    if (input == output)
        return -ZA_CODE(105);
    if (size < 0)
        size = input->Size();
    ZEMemJob desc{};
    desc.Method = method == 1 ? 8 : 0;
    desc.Crc32 = crc;
    desc.Size = size;
    desc.Input = input;
    desc.Output = output;
    std::int32_t result = -ZA_CODE(19);
    auto& loader = TZADLLLoader::Instance();
    if (loader.Acquire(*this) < 1)
        return result;
    SetAddOptions(AddOptions() - AddEncrypt);
    const std::string savedName = ArchiveName;
    ArchiveName.clear();
    auto job = BuildJob(true);
    job->MemJob = &desc;
    CallbackError.clear();
    try {
        result = RunJob(*job);
    } catch (const EZAException& e) {
        result = -e.FullCode;
    }
    ArchiveName = savedName;
    loader.Release(Host(), this);
    if (result != 1)
        return result < 0 ? result : -ZA_CODE(140);
    SetSuccessCount(1);
    method = desc.Method == 8 ? 1 : 0;
    crc = desc.Crc32;
    return 0;
}

// --- Callbacks ---------------------------------------------------------------------

// Both entry points: a record with a wrong check value or without a caller, or
// whose caller is no engine work object, answers -5.
template <class Rec>
std::int32_t TZADLLOpr::Enter(Rec* rec, std::uint32_t check,
                              std::int32_t (TZADLLOpr::*handler)(Rec*)) {
    if (rec == nullptr || static_cast<std::uint32_t>(rec->Check) != check || rec->Caller == nullptr)
        return -5;
    auto* self = dynamic_cast<TZADLLOpr*>(static_cast<TZACore*>(rec->Caller));
    return self != nullptr ? (self->*handler)(rec) : -5;
}

std::int32_t TZADLLOpr::EngineCallback(ZECallbackRec* rec) {
    return Enter(rec, ZE_CALLBACK_CHECK, &TZADLLOpr::OnEngineCallback);
}

std::int32_t TZADLLOpr::EngineStream(ZEStreamRec* rec) {
    return Enter(rec, ZE_STREAM_CHECK, &TZADLLOpr::OnEngineStream);
}

std::int32_t TZADLLOpr::OnEngineCallback(ZECallbackRec* rec) {
    if (Closing)
        return 0;
    Callback.Bind(rec);
    const int action = Callback.Action();
    std::int32_t answer = 0;
    try {
        answer = Dispatch();
        if (action >= ZE_CB_ADD_NAME && action < ZE_CB_ABORT_HANDLE)
            CheckCancel();
        if (CancelCode != 0 && answer >= 0) {
            answer = -2;
            Host().SendToTraceWindow(0, "[CANCEL sent]");
        }
    } catch (const std::exception& e) {
        if (CallbackError.empty())
            CallbackError = " #" + std::to_string(action) + " \"" + e.what() + "\"";
        CancelCode = 193;
        answer = -4;
        Host().SendToTraceWindow(0, "[CALLBACK Exception sent] " + CallbackError);
    }
    return answer;
}

std::int32_t TZADLLOpr::Dispatch() {
    auto& host = Host();
    const int action = Callback.Action();
    switch (action) {
        case ZE_CB_NEW_ITEM:
        case ZE_CB_PROGRESS:
        case ZE_CB_END_BATCH:
        case ZE_CB_TOTAL_COUNT:
        case ZE_CB_TOTAL_SIZE:
        case ZE_CB_NEW_EXTRA:
        case ZE_CB_EXTRA_PROGRESS: {
            if (action <= ZE_CB_END_BATCH)
                Details().SetBytesWritten(Callback.Written());
            const std::int64_t amount =
                action == ZE_CB_TOTAL_COUNT ? Callback.Arg1() : Callback.Size();
            const std::string text =
                action == ZE_CB_NEW_ITEM || action == ZE_CB_NEW_EXTRA ? Callback.Text() : "";
            const std::int32_t number =
                action == ZE_CB_NEW_EXTRA || action == ZE_CB_EXTRA_PROGRESS ? Callback.Arg1() : 0;
            ReportProgress(action, number, amount, text);
            if (action == ZE_CB_NEW_ITEM && Callback.Size() == -1 && Details().Stop())
                return 1;
            return 0;
        }
        case ZE_CB_MESSAGE:
            return OnMessageAction();
        case ZE_CB_ADD_NAME: {
            if (!host.Events().OnSetAddName)
                return 0;
            std::string name = Callback.Text2();
            const std::string original = name;
            bool changed = false;
            host.Events().OnSetAddName(host.Sender(), name, Callback.Text(), changed);
            if (!changed || name == original)
                return 0;
            Callback.SetText(name);
            return 1;
        }
        case ZE_CB_PASSWORD:
            return OnPasswordAction();
        case ZE_CB_CRC_ERROR: {
            if (!host.Events().OnCRC32Error)
                return 0;
            bool doExtract = true;
            host.Events().OnCRC32Error(host.Sender(), Callback.Text(),
                                       static_cast<std::uint32_t>(Callback.Arg1()),
                                       static_cast<std::uint32_t>(Callback.Arg2()), doExtract);
            return doExtract ? 1 : 3;
        }
        case ZE_CB_OVERWRITE: {
            if (!host.Events().OnExtractOverwrite)
                return 0;
            bool doOverwrite = Callback.Arg1() != 0;
            host.Events().OnExtractOverwrite(host.Sender(), Callback.Text(), Callback.Arg3() != 2,
                                             doOverwrite, Callback.Arg2());
            const int answer = doOverwrite ? 1 : 2;
            const TZAFmtArg args[] = {std::int64_t{Callback.Arg1()}, std::int64_t{Callback.Arg2()},
                                      std::int64_t{answer}};
            host.SendToTraceWindow(0, FormatText("[Overwrite] IN=%d,%d OUT=%d", args));
            return answer;
        }
        case ZE_CB_SKIPPED: {
            const int id = EngineErrorToMessageId(Callback.Arg1());
            if (Callback.Arg1() != 0)
                SetLastFullCode(id);
            const int type = std::clamp(Callback.Arg2() - 1, 0, kSkipTypeCount - 1);
            return ReportSkipping(Callback.Text(), id, static_cast<TZASkipTypes>(type)) ? 1 : 0;
        }
        case ZE_CB_COMMENT: {
            if (!host.Events().OnFileComment)
                return 0;
            std::string comment = Callback.Text2();
            bool changed = false;
            host.Events().OnFileComment(host.Sender(), Callback.Text(), comment, changed);
            if (!changed)
                return 0;
            if (comment.size() > 255)
                comment.resize(255);
            Callback.SetText(comment);
            Callback.SetArg1(static_cast<std::int32_t>(comment.size()));
            return 1;
        }
        case ZE_CB_LEVEL_EXTRA:
            return OnLevelExtraAction();
        case ZE_CB_EXTRACT_NAME: {
            if (!host.Events().OnSetExtName)
                return 0;
            std::string name = Callback.Text();
            const std::string original = name;
            bool changed = false;
            host.Events().OnSetExtName(host.Sender(), name, Callback.Text2(), changed);
            if (!changed || name == original || name.empty() ||
                EndsInSeparator(name) != EndsInSeparator(original))
                return 0;
            Callback.SetText(name);
            return 1;
        }
        case ZE_CB_ABORT_HANDLE:
            AbortHandle = Callback.Arg1();
            return 0;
        case ZE_CB_DATA:
            return OnDataRequest();
        default:
            return -1;
    }
}

std::int32_t TZADLLOpr::OnMessageAction() {
    auto& host = Host();
    const std::int32_t e = Callback.Arg1();
    if (e != 0 && LastFullCode() == 0)
        SetLastFullCode(static_cast<std::int32_t>(static_cast<std::uint32_t>(e) | 0x80000000u));
    const int id = EngineErrorToMessageId(e & 0xFF);
    // The engine names its own texts by catalogue number, so that they follow the
    // chosen language; its strings are the arguments.
    const std::int32_t textId = Callback.Arg2();
    std::string text = textId > 0 && textId <= kZAMsgIdMask
                           ? MessageTextFmt(textId, {Callback.Text(), Callback.Text2()})
                           : Callback.Text();
    if ((e & 0x700) >= 0x200 && (e & 0x800) != 0)
        text = MessageText(id) + text;
    host.SendToTraceWindow(
        e != 0 ? static_cast<int>(static_cast<std::uint32_t>(e) | 0x80000000u) : 0, text);
    if (id != 0 && Internal().ErrCode == 0) {
        Internal().ErrCode = id;
        Internal().ErrMessage = text;
    }
    if (host.Events().OnMessage)
        host.Events().OnMessage(host.Sender(), id != 0 ? CodeOf(id, __LINE__) : 0, text);
    CheckCancel();
    return 0;
}

std::int32_t TZADLLOpr::OnPasswordAction() {
    auto& host = Host();
    std::uint32_t repeat = static_cast<std::uint32_t>(std::max(0, Callback.Arg1()));
    TMsgDlgBtn action = mbOK;
    std::string password;
    if (host.Events().OnPasswordError) {
        host.Events().OnPasswordError(host.Sender(), Callback.IsAdd(), password, Callback.Text(),
                                      repeat, action);
        if (action != mbOK)
            password.clear();
    } else {
        password = Callback.IsAdd() ? host.GetAddPassword(action) : host.GetExtrPassword(action);
    }
    std::int32_t answer;
    if (!password.empty()) {
        Callback.SetText(password);
        answer = 1;
    } else {
        repeat = 0;
        answer = 2;
    }
    Callback.SetArg1(static_cast<std::int32_t>(std::min<std::uint32_t>(repeat, 15)));
    switch (action) {
        case mbCancel:
            return 2;
        case mbNoToAll:
            return 3;
        case mbAbort:
            CancelCode = 4;
            return -3;
        default:
            return answer;
    }
}

std::int32_t TZADLLOpr::OnLevelExtraAction() {
    auto& host = Host();
    bool levelChanged = false;
    bool extraChanged = false;
    if (host.Events().OnSetCompLevel) {
        int level = Callback.Arg2();
        bool changed = false;
        host.Events().OnSetCompLevel(host.Sender(), Callback.Text(), level, changed);
        if (changed && level < 10 && level >= 0) {
            Callback.SetArg2(level);
            levelChanged = true;
        }
    }
    if (host.Events().OnFileExtra) {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(std::max(0, Callback.Arg1())));
        data.resize(Callback.CopyText2(data.data(), data.size()));
        bool changed = false;
        host.Events().OnFileExtra(host.Sender(), Callback.Text(), data, changed);
        if (changed) {
            data.resize(std::min<std::size_t>(data.size(), 2047));
            Callback.SetData(data.data(), data.size());
            extraChanged = true;
        }
    }
    if (extraChanged)
        return levelChanged ? 3 : 1;
    return levelChanged ? 2 : 0;
}

std::int32_t TZADLLOpr::OnDataRequest() {
    const int item = Callback.Arg1();
    const int index = Callback.Arg3();
    if (item < ZE_DATA_ARCHIVE || item > ZE_DATA_TEMPDIR)
        return -5;
    if ((item == ZE_DATA_INCLUDE || item == ZE_DATA_EXCLUDE) && index < 0)
        return -5;
    switch (item) {
        case ZE_DATA_ARCHIVE:
            Callback.SetText(ArchiveName);
            break;
        case ZE_DATA_PASSWORD:
            Callback.SetText(Password());
            break;
        case ZE_DATA_ROOTDIR:
            Callback.SetText(RootDir());
            break;
        case ZE_DATA_EXTRBASEDIR:
            Callback.SetText(ExtrBaseDir());
            break;
        case ZE_DATA_ZIPCOMMENT:
            Callback.SetAnsiText(ZipComment());
            break;
        case ZE_DATA_INCLUDE:
        case ZE_DATA_EXCLUDE: {
            const auto& list =
                item == ZE_DATA_INCLUDE ? Host().WorkSpecs().Include : Host().WorkSpecs().Exclude;
            Callback.SetArg3(static_cast<std::int32_t>(list.size()));
            if (static_cast<std::size_t>(index) >= list.size()) {
                Callback.SetText("");
                return 0;
            }
            Callback.SetText(list[static_cast<std::size_t>(index)]);
            break;
        }
        case ZE_DATA_STORESUFFIXES:
            Callback.SetText(StoreSuffixList(AddStoreSuffixes(), ExtAddStoreSuffixes()));
            break;
        case ZE_DATA_TEMPDIR:
            Callback.SetText(TempDir());
            break;
    }
    return 1;
}

// --- Streams ------------------------------------------------------------------------

std::int32_t TZADLLOpr::OnEngineStream(ZEStreamRec* rec) {
    try {
        auto* strm = static_cast<TZAStream*>(rec->Stream);
        switch (rec->Operation) {
            case ZE_SOP_IDENTIFY:
            case ZE_SOP_OPEN:
            case ZE_SOP_CLOSE: {
                const std::int32_t answer = rec->Operation == ZE_SOP_IDENTIFY ? StreamIdentify(rec)
                                            : rec->Operation == ZE_SOP_OPEN   ? StreamOpen(rec)
                                                                              : StreamClose(rec);
                if (Verbose()) {
                    const TZAFmtArg args[] = {std::int64_t{rec->Operation},
                                              std::int64_t{rec->StreamNumber},
                                              std::int64_t{answer}};
                    ReportTrace(FormatText("Stream operation %d on %d returns %d", args));
                }
                return answer;
            }
            case ZE_SOP_SEEK: {
                if (strm == nullptr)
                    return 0;
                const auto origin = static_cast<TZASeekOrigin>(
                    std::min<std::uint8_t>(static_cast<std::uint8_t>(rec->Count & 0xFF), soEnd));
                rec->Position = strm->Seek(rec->Position, origin);
                return rec->Position >= 0 ? 1 : 0;
            }
            case ZE_SOP_READ: {
                if (strm == nullptr || rec->Count < 0)
                    return 0;
                const std::int64_t left =
                    std::max<std::int64_t>(0, strm->Size() - strm->Position());
                const std::int64_t want = std::min<std::int64_t>(rec->Count, left);
                const std::int64_t got = strm->Read(rec->Buffer, want);
                rec->Count = static_cast<std::int32_t>(got);
                return got == want ? 1 : 0;
            }
            case ZE_SOP_WRITE: {
                if (strm == nullptr || rec->Count < 0)
                    return 0;
                const std::int64_t want = rec->Count;
                const std::int64_t put = strm->Write(rec->Buffer, want);
                rec->Count = static_cast<std::int32_t>(put);
                return put == want ? 1 : 0;
            }
            default:
                return 0;
        }
    } catch (const std::exception&) {
        return -5;
    }
}

// The application's OnStream handler, when one is assigned; true when it did the operation.
bool TZADLLOpr::AskOnStream(TZAStreamOp op, const ZEStreamRec* rec, TZAStream*& strm,
                            TZASStats& stat) {
    auto& host = Host();
    if (!host.Events().OnStream)
        return false;
    bool done = false;
    host.Events().OnStream(host.Sender(), op, rec->StreamNumber, strm, stat, done);
    return done;
}

// The pipe of the record's stream number, when it holds a stream.
TZAPipe* TZADLLOpr::PipeOf(const ZEStreamRec* rec) {
    TZAPipe* pipe = Pipes.Find(rec->StreamNumber);
    return pipe != nullptr && pipe->Stream() ? pipe : nullptr;
}

std::int32_t TZADLLOpr::StreamIdentify(ZEStreamRec* rec) {
    auto describe = [rec](std::int64_t size, std::uint32_t date, std::int32_t attrs) {
        rec->Position = size;
        rec->Date = date;
        rec->Attributes = static_cast<std::uint32_t>(attrs);
        return 1;
    };
    if (InStream != nullptr)
        return describe(InStream->Size(), StreamDate, static_cast<std::int32_t>(StreamAttrs));
    TZAStream* strm = nullptr;
    TZASStats stat;
    if (AskOnStream(zsoIdentify, rec, strm, stat))
        return describe(stat.Size, stat.Date, stat.Attrs);
    if (TZAPipe* pipe = PipeOf(rec))
        return describe(pipe->Size(), pipe->DOSDate(), pipe->Attributes());
    return 0;
}

std::int32_t TZADLLOpr::StreamOpen(ZEStreamRec* rec) {
    if (InStream != nullptr) {
        InStream->Rewind();
        rec->Stream = InStream;
        return 1;
    }
    TZAStream* strm = nullptr;
    TZASStats stat;
    if (AskOnStream(zsoOpen, rec, strm, stat) && strm != nullptr) {
        rec->Stream = strm;
        return 1;
    }
    if (TZAPipe* pipe = PipeOf(rec)) {
        rec->Stream = pipe->Stream();
        return 1;
    }
    return 0;
}

std::int32_t TZADLLOpr::StreamClose(ZEStreamRec* rec) {
    auto* strm = static_cast<TZAStream*>(rec->Stream);
    if (strm == nullptr)
        return 0;
    if (strm == InStream) {
        InStream = nullptr;
        rec->Stream = nullptr;
        return 1;
    }
    TZASStats stat;
    if (AskOnStream(zsoClose, rec, strm, stat)) {
        rec->Stream = strm;
        return 1;
    }
    if (TZAPipe* pipe = PipeOf(rec)) {
        pipe->SetStream(nullptr);
        return 1;
    }
    return 0;
}
