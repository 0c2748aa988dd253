#include "zip/ZipArchiver.h"

#include <exception>
#include <mutex>

#include "platform/InstanceFolders.h"
#include "platform/TempFiles.h"
#include "zip/ZACenDir.h"
#include "zip/ZALister.h"
#include "zip/ZAXcpt.h"
#include "zip/ZAZipFile.h"

namespace {
std::mutex gCursorMutex;
std::function<void(bool)> gBusyCursor;

void showBusyCursor(bool busy) {
    std::function<void(bool)> hook;
    {
        std::lock_guard lock(gCursorMutex);
        hook = gBusyCursor;
    }
    if (hook)
        hook(busy);
}
}  // namespace

void SetBusyCursorHook(std::function<void(bool busy)> hook) {
    std::lock_guard lock(gCursorMutex);
    gBusyCursor = std::move(hook);
}

TCustomZipArchiver::TCustomZipArchiver()
    : internal_(std::make_unique<TZAInternal>()), notMainThread_(!IsApplicationThread()) {
    // What a killed run of this or another program left in its work folder goes now.
    platform::RemoveStaleWorkFolders();
}

TCustomZipArchiver::~TCustomZipArchiver() {
    if (operation_)
        operation_->SetCancel(2);
    active_ = 0;
    OnMessage = nullptr;
    OnStateChange = nullptr;
    OnStream = nullptr;
    OnTick = nullptr;
    OnZipDialog = nullptr;
    operation_.reset();
    lister_.reset();
    pipes_.Clear();
    // A use kept by DLL_Load must not outlive the component (nor keep the engine loaded).
    if (dllLoad_)
        ForgetEngine();
}

void TCustomZipArchiver::notify(int code, const std::string& text) {
    SendToTraceWindow(code, text);
    if (OnMessage)
        OnMessage(*this, code, text);
}

void TCustomZipArchiver::SetActive(bool value) {
    if (loading_) {
        active_ = value ? 1 : 0;
        return;
    }
    if (value) {
        if (active_ == 0) {
            active_ = 1;
            ChangeState(zsIdle);
            if (deferred_ != 0 && busyCount_ == 0)
                ApplyDeferredSettings();
        } else if (active_ == -3) {
            active_ = 1;  // the pending deactivation is withdrawn
        }
        return;
    }
    if (active_ == 0)
        return;
    if (busyCount_ > 0) {
        active_ = -3;
        return;
    }
    active_ = 0;
    ChangeState(zsDisabled);
}

void TCustomZipArchiver::ApplyDeferredSettings() {
    const std::uint8_t flags = deferred_;
    deferred_ = 0;
    if ((flags & kDeferLanguage) != 0) {
        SelectLanguage(language_);
    } else if ((flags & kDeferLanguageID) != 0) {
        SelectLanguageId(static_cast<int>(languageId_));
    }
    if ((flags & kDeferZipFileName) != 0) {
        LoadZipFileName(internal_->ZipFileName);
    }
    if ((flags & kDeferZipComment) != 0 && internal_->ErrCode == 0) {
        ApplyZipComment(internal_->ZipComment);
    }
    if ((flags & kDeferDllLoad) != 0 && internal_->ErrCode == 0) {
        ApplyDllLoad(dllLoad_);
    }
}

void TCustomZipArchiver::EndLoading() {
    if (!loading_) {
        return;
    }
    loading_ = false;
    if (active_ != 0) {
        ChangeState(zsIdle);
        if (deferred_ != 0 && busyCount_ == 0) {
            ApplyDeferredSettings();
        }
    }
}

void TCustomZipArchiver::ChangeState(TZAStates newState) {
    if (newState == state_)
        return;
    bool noCursor = notMainThread_;
    if (OnStateChange)
        OnStateChange(*this, newState, noCursor);
    const bool wasBusy = IsBusyState(state_);
    const bool willBeBusy = IsBusyState(newState);
    state_ = newState;
    if (noCursor || wasBusy == willBeBusy)
        return;
    if (willBeBusy) {
        if (cursorNesting_ == 0)
            showBusyCursor(true);
        ++cursorNesting_;
    } else if (cursorNesting_ > 0) {
        if (--cursorNesting_ == 0)
            showBusyCursor(false);
    }
}

void TCustomZipArchiver::CountReentry() {
    ++reentryCount_;
    ChangeState(zsReentry);
    if (Verbose())
        notify(0, "Trace: Re-entry");
}

bool TCustomZipArchiver::RefuseWhileBusy() {
    if (!IsBusy())
        return false;
    CountReentry();
    return true;
}

bool TCustomZipArchiver::StartOperation() {
    if (!IsActive())
        return false;
    if (busyCount_ != 0) {
        CountReentry();
        return false;
    }
    busyCount_ = 1;
    inFrame_ = true;
    ChangeState(zsBusy);
    return true;
}

void TCustomZipArchiver::PrepareOperation() {
    reentryCount_ = 0;
    notMainThread_ = !IsApplicationThread();
    internal_->ErrCode = 0;
    internal_->LastFullCode = 0;
    internal_->ErrMessage.clear();
    internal_->SuccessCount = 0;
    // A request left from an earlier operation must not cancel this one.
    internal_->CancelRequest = 0;
    workSpecs_.Include = fSpecArgs_;
    workSpecs_.Exclude = fSpecArgsExcl_;
    workSpecs_.ExactNames = exactNames_;
    if (lister_)
        lister_->ClearCancel();
    if (operation_)
        operation_->ClearCancel();
}

void TCustomZipArchiver::EndOperation(bool success) {
    if (!inFrame_)
        return;
    inFrame_ = false;
    std::exception_ptr failure;
    if (auto op = std::move(operation_)) {
        try {
            op->Finish(success);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    // Another writer may go on once the work and its clean-up are done.
    heldLocks_.clear();
    FinishWork(success);
    if (busyCount_ > 0)
        --busyCount_;
    if (Trace())
        notify(0, "Trace: done = " + std::to_string(busyCount_));
    if (busyCount_ == 0) {
        ChangeState(state_ == zsReentry ? zsReentered : zsIdle);
        if (active_ == -3) {
            active_ = 0;
            ChangeState(zsDisabled);
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TCustomZipArchiver::FinishWork(bool success) {
    if (lister_) {
        lister_->Finish(success);
    }
    // The engine operations catch their own errors and end the frame
    // normally: a recorded error is a failure too, and after a failure the
    // lists keep what the caller put in.
    if (success && internal_->ErrCode == 0) {
        fSpecArgs_ = workSpecs_.Include;
        fSpecArgsExcl_ = workSpecs_.Exclude;
    }
}

bool TCustomZipArchiver::RunOperation(const std::function<void()>& body, bool quiet) {
    if (!StartOperation())
        return false;
    std::exception_ptr failure;
    try {
        PrepareOperation();
        body();
        EndOperation(true);
        return true;
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        EndOperation(false);
    } catch (...) {
        // The first failure is the one reported.
    }
    pipes_.Clear();
    if (!quiet)
        ReportFailure(failure);
    return false;
}

void TCustomZipArchiver::ReportFailure(std::exception_ptr failure) {
    if (!failure)
        return;
    TZACore reporter(*this);
    try {
        std::rethrow_exception(failure);
    } catch (const TZAReportedFailure&) {
        // Said once where it happened.
    } catch (const EZAException& e) {
        reporter.ShowExceptionError(e);
    } catch (const std::exception& e) {
        reporter.ShowZipMessage(MessageText(1) + e.what(), ZA_CODE(1), true);
    } catch (...) {
        reporter.ShowZipMessage(MessageText(1), ZA_CODE(1), true);
    }
}

TZACore& TCustomZipArchiver::SetCurrentOperation(std::unique_ptr<TZACore> op) {
    operation_ = std::move(op);
    return *operation_;
}

TZADialogProvider* TCustomZipArchiver::DialogProvider() const {
    return dialogProvider_ != nullptr ? dialogProvider_ : DefaultDialogProvider();
}

int TCustomZipArchiver::ZipDialog(const std::string& title, std::string& msg,
                                  TMsgDlgButtons buttons, std::uint32_t value) {
    std::string t = title.empty() ? ApplicationTitle() : title;
    if (Verbose() || Trace()) {
        const TZAFmtArg args[] = {t, static_cast<std::int64_t>(value & 0xFFFF)};
        t = FormatText("%s   (%d)", args);
    }
    if (OnZipDialog) {
        int result = static_cast<int>(value);
        std::string handlerMsg = msg;
        OnZipDialog(*this, t, handlerMsg, result, buttons);
        if (result >= 1 && result <= 10) {
            msg = std::move(handlerMsg);
            return result;
        }
    }
    const bool password = (value & kDialogKindMask) == zdPassword;
    TZADialogProvider* provider = DialogProvider();
    if (provider == nullptr) {
        if (password)
            msg.clear();
        return mrNone;
    }
    const TZADialogAnswer answer = provider->ShowDialog({t, msg, buttons, value});
    if (password)
        msg = answer.ModalResult == mrOk ? answer.Password : std::string();
    return answer.ModalResult;
}

void TCustomZipArchiver::SetCancel(bool value) {
    if (!value) {
        internal_->CancelRequest = 0;
        return;
    }
    if (operation_)
        operation_->SetCancel(2);
    CancelWork();
    internal_->CancelRequest = 2;
}

void TCustomZipArchiver::CancelWork() {
    if (lister_)
        lister_->SetCancel(2);
}

void TCustomZipArchiver::SendToTraceWindow(int code, const std::string& text) {
    if (!TraceWindow)
        return;
    if (!TraceWindow(code, text))
        TraceWindow = nullptr;
}

// --- The loaded archive -----------------------------------------------------------

int TCustomZipArchiver::Count() const {
    if (!IsActive() || internal_->ZipFileName.empty() || !lister_) {
        return 0;
    }
    return lister_->View().VisibleCount();
}

std::shared_ptr<TZADirEntry> TCustomZipArchiver::DirEntry(int index) const {
    if (!IsActive() || internal_->ZipFileName.empty() || !lister_) {
        return nullptr;
    }
    return lister_->View().EntryHandle(index);
}

TZADirEntry* TCustomZipArchiver::DirEntryNow(int index) const {
    if (!IsActive() || internal_->ZipFileName.empty() || !lister_) {
        return nullptr;
    }
    return lister_->View().VisibleEntry(index);
}

bool TCustomZipArchiver::ArchiveLoaded() const {
    return IsActive() && lister_ && lister_->IsLoaded();
}

void TCustomZipArchiver::ReloadIfChanged(const std::string& path, bool waited, TZACore& reporter) {
    if (!lister_) {
        return;
    }
    const TZAZipFile* loaded = lister_->View().AttachedZip();
    if (loaded != nullptr && (loaded->Info & TZACentral::ziLoaded) != 0 &&
        lister_->ZipFileName() == path && (waited || lister_->CurrentZip().HasChanged() != 0)) {
        reporter.ReportTrace("Reloading " + path + ": changed since it was loaded");
        lister_->Load(path, false);
    }
}

int TCustomZipArchiver::LoadWarning() const {
    return ArchiveLoaded() ? internal_->LoadWarning : 0;
}

void TCustomZipArchiver::LoadZipFileName(const std::string& name) {
    RunOperation([this, &name] {
        lister_.reset();
        lister_ = std::make_unique<TZALister>(*this);
        lister_->SetZipFileName(name, 1);
    });
}

void TCustomZipArchiver::SetZipFileName(const std::string& v) {
    if (!IsActive()) {
        internal_->ZipFileName = v;
        deferred_ |= kDeferZipFileName;
        return;
    }
    LoadZipFileName(v);
}

void TCustomZipArchiver::SetZipComment(const std::string& v) {
    if (!IsActive()) {
        internal_->ZipComment = v;
        deferred_ |= kDeferZipComment;
        return;
    }
    if (RefuseWhileBusy()) {
        return;
    }
    ApplyZipComment(v);
}

void TCustomZipArchiver::ApplyZipComment(const std::string& comment) {
    internal_->ZipComment = comment;
}

void TCustomZipArchiver::SetDLL_Load(bool v) {
    if (!IsActive()) {
        dllLoad_ = v;
        deferred_ |= kDeferDllLoad;
        return;
    }
    if (RefuseWhileBusy()) {
        return;
    }
    ApplyDllLoad(v);
}

void TCustomZipArchiver::SetLanguage(const std::string& v) {
    language_ = v;
    if (!IsActive()) {
        deferred_ |= kDeferLanguage;
        return;
    }
    SelectLanguage(v);
}

void TCustomZipArchiver::SetLanguageID(std::uint32_t v) {
    languageId_ = v;
    if (!IsActive()) {
        deferred_ |= kDeferLanguageID;
        return;
    }
    SelectLanguageId(static_cast<int>(v));
}

void TCustomZipArchiver::RefreshDirectory(bool rebuildNames) {
    if (!IsActive() || !lister_) {
        return;
    }
    RunOperation(
        [this, rebuildNames] {
            if (rebuildNames) {
                lister_->ClearNames();
            } else {
                lister_->SetIncludeDirectories(internal_->UseDirOnlyEntries);
            }
            if (OnDirUpdate) {
                OnDirUpdate(*this);
            }
        },
        true);
}

void TCustomZipArchiver::SetEncoding(TZAEncodingOpts v) {
    if (v == internal_->Encoding) {
        return;
    }
    internal_->Encoding = v;
    RefreshDirectory(true);
}

void TCustomZipArchiver::SetUseUTF8(bool v) {
    if (v == GetUseUTF8()) {
        return;
    }
    ::SetUseUTF8(v);
    RefreshDirectory(true);
}

void TCustomZipArchiver::SetUseDirOnlyEntries(bool v) {
    if (v == internal_->UseDirOnlyEntries) {
        return;
    }
    internal_->UseDirOnlyEntries = v;
    RefreshDirectory(false);
}

// --- Plain options: refused while busy ------------------------------------------------

#define ZA_REFUSED_SETTER(Name, Type, Field)     \
    void TCustomZipArchiver::Set##Name(Type v) { \
        if (RefuseWhileBusy())                   \
            return;                              \
        internal_->Field = v;                    \
    }

ZA_REFUSED_SETTER(AddCompLevel, std::int32_t, AddCompLevel)
ZA_REFUSED_SETTER(AddFrom, double, AddFrom)
ZA_REFUSED_SETTER(AddOptions, TZAAddOpts, AddOptions)
ZA_REFUSED_SETTER(AddStoreSuffixes, TZAAddStoreExts, AddStoreSuffixes)
ZA_REFUSED_SETTER(ConfirmErase, bool, ConfirmErase)
ZA_REFUSED_SETTER(DLLDirectory, const std::string&, DLLDirectory)
ZA_REFUSED_SETTER(ExtrBaseDir, const std::string&, ExtrBaseDir)
ZA_REFUSED_SETTER(ExtrOptions, TZAExtrOpts, ExtrOptions)
ZA_REFUSED_SETTER(HowToDelete, TZADeleteOpts, HowToDelete)
ZA_REFUSED_SETTER(KeepFreeOnAllDisks, std::uint32_t, KeepFreeOnAllDisks)
ZA_REFUSED_SETTER(KeepFreeOnDisk1, std::uint32_t, KeepFreeOnDisk1)
ZA_REFUSED_SETTER(MinFreeVolumeSize, std::uint32_t, MinFreeVolumeSize)
ZA_REFUSED_SETTER(NoSkipping, TZASkipAborts, NoSkipping)
ZA_REFUSED_SETTER(RootDir, const std::string&, RootDir)
ZA_REFUSED_SETTER(Unattended, bool, Unattended)
#undef ZA_REFUSED_SETTER

void TCustomZipArchiver::SetFSpecArgs(const std::vector<std::string>& v) {
    if (RefuseWhileBusy())
        return;
    fSpecArgs_ = v;
}

void TCustomZipArchiver::SetFSpecArgsExcl(const std::vector<std::string>& v) {
    if (RefuseWhileBusy())
        return;
    fSpecArgsExcl_ = v;
}

void TCustomZipArchiver::SetExactNames(bool v) {
    if (RefuseWhileBusy())
        return;
    exactNames_ = v;
}

void TCustomZipArchiver::SetMaxVolumeSize(std::int64_t v) {
    if (RefuseWhileBusy())
        return;
    internal_->MaxVolumeSize = v > 0 ? v : 0;
}

void TCustomZipArchiver::SetMaxVolumeSizeKb(std::int32_t v) {
    if (RefuseWhileBusy())
        return;
    // 64-bit arithmetic: 2097152 KB and more do not fit in 32 bits.
    internal_->MaxVolumeSize = v > 0 ? static_cast<std::int64_t>(v) * 1024 : 0;
}

void TCustomZipArchiver::SetPassword(const std::string& v) {
    if (RefuseWhileBusy())
        return;
    if (internal_->Password != v)
        internal_->Password = v;
}

void TCustomZipArchiver::SetPasswordReqCount(std::uint32_t v) {
    if (RefuseWhileBusy())
        return;
    internal_->PasswordReqCount = v > 15 ? 15 : v;
}

void TCustomZipArchiver::SetTempDir(const std::string& v) {
    if (RefuseWhileBusy())
        return;
    // An empty value stays empty, which means the system's temporary folder.
    internal_->TempDir = v.empty() || v.back() == '/' ? v : v + '/';
}

void TCustomZipArchiver::SetTrace(bool v) {
    if (RefuseWhileBusy())
        return;
    auto& bits = internal_->TraceBits;
    bits = static_cast<std::uint8_t>(v ? bits | TZAInternal::kTraceBit
                                       : bits & ~TZAInternal::kTraceBit);
}

void TCustomZipArchiver::SetVerbose(bool v) {
    if (RefuseWhileBusy())
        return;
    auto& bits = internal_->TraceBits;
    bits = static_cast<std::uint8_t>(v ? bits | TZAInternal::kVerboseBit
                                       : bits & ~TZAInternal::kVerboseBit);
}

void TCustomZipArchiver::SetExtAddStoreSuffixes(const std::string& v) {
    if (RefuseWhileBusy())
        return;
    auto& in = *internal_;
    if (v.empty()) {
        in.ExtAddStoreSuffixes.clear();
        in.AddStoreSuffixes.exclude(assEXT);
        return;
    }
    auto isSeparator = [](char c) { return c == ',' || c == ';' || c == ':'; };
    std::string out;
    std::size_t i = 0;
    while (i < v.size()) {
        // An empty item (a leading separator or two in a row) is skipped.
        if (isSeparator(v[i])) {
            ++i;
            continue;
        }
        if (v[i] != '.') {
            out += '.';
        }
        while (i < v.size() && !isSeparator(v[i])) {
            out += v[i++];
        }
        out += ':';
        if (i < v.size()) {
            ++i;  // the separator, written as ":"
        }
    }
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    in.ExtAddStoreSuffixes = out;
    if (out.empty()) {
        in.AddStoreSuffixes.exclude(assEXT);
    } else {
        in.AddStoreSuffixes.include(assEXT);
    }
}

// --- Self-extractor settings --------------------------------------------------------

void TCustomZipArchiver::MarkSFXChanged() {
    if (!NoReadAux() || loading_) {
        sfxChanged_ = true;
    }
}

#define ZA_SFX_SETTER(Name, Type, Field)         \
    void TCustomZipArchiver::Set##Name(Type v) { \
        if (RefuseWhileBusy())                   \
            return;                              \
        if (internal_->Field == v)               \
            return;                              \
        internal_->Field = v;                    \
        MarkSFXChanged();                        \
    }

ZA_SFX_SETTER(SFXCaption, const std::string&, SFXCaption)
ZA_SFX_SETTER(SFXCommandLine, const std::string&, SFXCommandLine)
ZA_SFX_SETTER(SFXDefaultDir, const std::string&, SFXDefaultDir)
ZA_SFX_SETTER(SFXMessage, const std::string&, SFXMessage)
ZA_SFX_SETTER(SFXOptions, TZASFXOpts, SFXOptions)
ZA_SFX_SETTER(SFXOverwriteMode, TZAOvrOpts, SFXOverwriteMode)
ZA_SFX_SETTER(SFXPath, const std::string&, SFXPath)
ZA_SFX_SETTER(SFXRegFailPath, const std::string&, SFXRegFailPath)
#undef ZA_SFX_SETTER

void TCustomZipArchiver::SetSFXIcon(const TZAIcon* v) {
    if (RefuseWhileBusy())
        return;
    const TZAIcon* old = internal_->SFXIcon();
    const bool same = (old == nullptr && (v == nullptr || v->Empty())) ||
                      (old != nullptr && v != nullptr && old->Data == v->Data);
    if (same)
        return;
    internal_->SetSFXIcon(v);
    MarkSFXChanged();
}

void TCustomZipArchiver::SetNoReadAux(bool v) {
    if (RefuseWhileBusy())
        return;
    if (internal_->NoReadAux != v) {
        internal_->NoReadAux = v;
        sfxChanged_ = false;
    }
}

void TCustomZipArchiver::SetSpanOptions(TZASpanOpts v) {
    if (RefuseWhileBusy())
        return;
    const TZASpanOpts watched{spNoVolumeName, spCompatName};
    const bool marks = (internal_->SpanOptions * watched) != (v * watched);
    internal_->SpanOptions = v;
    if (marks)
        MarkSFXChanged();
}

void TCustomZipArchiver::SetWriteOptions(TZAWriteOpts v) {
    const bool marks = internal_->WriteOptions.contains(zwoDiskSpan) != v.contains(zwoDiskSpan);
    internal_->WriteOptions = v;
    if (marks)
        MarkSFXChanged();
}

// --- Services ---------------------------------------------------------------------------

std::string TCustomZipArchiver::MakeTempFileName(const std::string& prefix,
                                                 const std::string& extension) {
    return platform::MakeTempFileName(internal_->WorkFolder(), prefix, extension);
}

void TCustomZipArchiver::RecordError(std::int32_t code) {
    TZACore reporter(*this);
    reporter.ShowError(code, false);
}

int TCustomZipArchiver::AskPassword(std::string& text, int promptId, std::uint32_t context,
                                    TMsgDlgButtons buttons) {
    text = MessageText(promptId);
    return ZipDialog(MessageText(70), text, buttons, zdPassword | context);
}

namespace {
TMsgDlgBtn ButtonOf(int modalResult) {
    switch (modalResult) {
        case mrOk:
            return mbOK;
        case mrCancel:
            return mbCancel;
        case 8:
            return static_cast<TMsgDlgBtn>(8);
        default:
            return mbAbort;
    }
}
}  // namespace

std::string TCustomZipArchiver::GetAddPassword(TMsgDlgBtn& response) {
    std::string result;
    if (internal_->Unattended) {
        RecordError(ZA_CODE(21));
        response = mbCancel;
    } else {
        std::string first;
        int r = AskPassword(first, 72, 10004, TMsgDlgButtons{mbOK, mbCancel});
        response = ButtonOf(r);
        if (r == mrOk && !first.empty()) {
            std::string second;
            r = AskPassword(second, 71, 10005, TMsgDlgButtons{mbOK, mbCancel});
            response = ButtonOf(r);
            result = second;
            if (r == mrOk && first != second) {
                RecordError(ZA_CODE(134));
                result.clear();
            }
        }
    }
    if (!IsBusy())
        internal_->Password = result;
    return result;
}

std::string TCustomZipArchiver::GetExtrPassword(TMsgDlgBtn& response) {
    std::string result;
    if (internal_->Unattended) {
        RecordError(ZA_CODE(22));
        response = mbCancel;
    } else {
        const int r = AskPassword(result, 72, 10003, TMsgDlgButtons{mbOK, mbCancel, mbAll});
        response = ButtonOf(r);
    }
    if (!IsBusy())
        internal_->Password = result;
    return result;
}
