#include "zip/ZACore.h"

#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/AtomicReplace.h"
#include "zip/ZADialogProvider.h"
#include "zip/ZASetJournal.h"
#include "zip/ZAUtils.h"
#include "zip/ZAXcpt.h"
#include "zip/messages/ZAMsgIds.h"

namespace fs = std::filesystem;

// --- Process-wide hooks ------------------------------------------------------

namespace {
std::mutex gPumpMutex;
std::function<void()> gPump;
std::thread::id gAppThread;
}  // namespace

void SetMessagePump(std::function<void()> pump) {
    std::lock_guard lock(gPumpMutex);
    gPump = std::move(pump);
    gAppThread = std::this_thread::get_id();
}

bool IsApplicationThread() {
    std::lock_guard lock(gPumpMutex);
    if (gAppThread == std::thread::id{})
        gAppThread = std::this_thread::get_id();
    return gAppThread == std::this_thread::get_id();
}

void PumpMessages() {
    std::function<void()> pump;
    {
        std::lock_guard lock(gPumpMutex);
        pump = gPump;
    }
    if (pump)
        pump();
}

// --- TZAWorkBin ----------------------------------------------------------------

TZAWorkBin::TZAWorkBin(TZAWorkBin* owner) : owner_(owner) {
    if (owner_ == nullptr)
        return;
    if (!owner_->owned_)
        owner_->owned_ = std::make_unique<std::vector<TZAWorkBin*>>();
    owner_->owned_->push_back(this);
}

TZAWorkBin::~TZAWorkBin() {
    if (owned_) {
        // Last first; each child forgets its owner so it does not unlink itself.
        while (owned_ && !owned_->empty()) {
            std::unique_ptr<TZAWorkBin> child(owned_->back());
            owned_->pop_back();
            child->owner_ = nullptr;
        }
        owned_.reset();
    }
    if (owner_ != nullptr)
        owner_->unlink(this);
}

void TZAWorkBin::unlink(TZAWorkBin* child) {
    if (!owned_)
        return;
    std::erase(*owned_, child);
    if (owned_->empty())
        owned_.reset();
}

// --- TZAWorkBase ---------------------------------------------------------------

TZAWorkBase::TZAWorkBase(TZAHost& host, TZAWorkBin* owner)
    : TZAWorkBin(owner), host_(host), internal_(host.Internal()) {}

void TZAWorkBase::SetCancel(std::int32_t) {}

int TZAWorkBase::NextStamp() {
    return host_.NextStamp();
}

void TZAWorkBase::RangeCheck(std::int64_t index, std::int64_t count) const {
    if (index < 0 || index >= count)
        throw EZipArchiver(ZA_CODE(199), {index, count - 1});
}

// --- TZACore -------------------------------------------------------------------

TZACore::TZACore(TZAHost& host, TZAWorkBin* owner)
    : TZAWorkBase(host, owner), details_(std::make_unique<TProgDetails>()) {}

TZACore::~TZACore() {
    CancelCode = 2;
}

void TZACore::SetCancel(std::int32_t code) {
    CancelCode = code;
}

void TZACore::Finish(bool success) {
    removeTemporaries(success);
}

void TZACore::ClearCancel() {
    CancelCode = 0;
}

void TZACore::Abort() {
    CancelCode = 2;
}

void TZACore::SetCancelRequest(std::int32_t v) {
    Internal().CancelRequest = v;
    SetCancel(v);
}

bool TZACore::CheckCancel() {
    auto& host = Host();
    const auto& ev = host.Events();
    const bool pending = Internal().CancelRequest != 0;
    if (ev.OnTick)
        ev.OnTick(host.Sender());
    if (ev.OnCheckTerminate) {
        bool abort = pending;
        ev.OnCheckTerminate(host.Sender(), abort);
        if (abort) {
            host.SetCancel(true);
            // A work object below the current operation must see it as well.
            if (host.CurrentOperation() != this)
                SetCancel(2);
        }
    } else if (IsApplicationThread()) {
        PumpMessages();
    }
    return pending;
}

void TZACore::CheckCancelAndRaise() {
    CheckCancel();
    if (CancelCode != 0)
        throw EZipArchiver(CancelCode);
}

void TZACore::CheckWriteCancelAndRaise() {
    CheckCancel();
    if (CancelCode == 0 && Internal().CancelRequest != 0)
        SetCancel(Internal().CancelRequest);
    if (CancelCode != 0)
        throw EZipArchiver(CancelCode);
}

void TZACore::ReportMessage(std::int32_t code, const std::string& text) {
    reportMessage(code, text, true);
}

void TZACore::reportMessage(std::int32_t code, const std::string& text, bool mayRecord) {
    auto& host = Host();
    const std::int32_t full = ZAAbsCode(code);
    const int low = full & 31;
    host.SendToTraceWindow(full, text);
    auto& in = Internal();
    if (mayRecord && low != 0 && in.ErrCode == 0) {
        in.ErrCode = low;
        in.LastFullCode = full;
        in.ErrMessage = text;
    }
    if (host.Events().OnMessage)
        host.Events().OnMessage(host.Sender(), low, text);
    CheckCancel();
}

void TZACore::ReportTrace(const std::string& text) {
    if (Verbose())
        ReportMessage(0, "Trace: " + text);
}

void TZACore::ReportMessageId(int id, std::initializer_list<TZAFmtArg> args) {
    std::string text = MessageTextFmt(id, args);
    if (!text.empty() && text[0] == '!')
        text = MessageText(220) + text.substr(1);
    else if (!text.empty() && text[0] == '#')
        text = MessageText(219) + text.substr(1);
    ReportMessage(0, text);
}

void TZACore::ShowZipMessage(const std::string& text, std::int32_t code, bool display) {
    auto& host = Host();
    auto& in = Internal();
    const std::int32_t full = ZAAbsCode(code);
    const int id = full & kZAMsgIdMask;
    in.ErrMessage = text;
    in.LastFullCode = full;
    in.ErrCode = id;
    if (display && !in.Unattended && id != 2 && id != 4) {
        std::string msg = text;
        host.ZipDialog("", msg, TMsgDlgButtons{mbOK}, zdInformation | 10000);
    }
    reportMessage(full, text, !host.IsBusy());
}

void TZACore::ShowError(std::int32_t code, bool display) {
    ShowZipMessage(MessageText(ZAMessageIdOf(code)), code, display);
}

void TZACore::ReportLoadWarning(std::int32_t code) {
    ShowError(code, true);
    Internal().LoadWarning = ZAMessageIdOf(code);
}

void TZACore::ShowErrorFmt(std::int32_t code, std::initializer_list<TZAFmtArg> args, bool display) {
    ShowZipMessage(MessageTextFmt(ZAMessageIdOf(code), args), code, display);
}

bool TZACore::RemoveFile(const std::string& path, bool permanent) {
    std::string error;
    if (DeleteFileOrTrash(path, permanent, &error)) {
        return true;
    }
    if (!permanent) {
        ShowErrorFmt(ZA_CODE(zamsg::kTrashFailedKept), {path, error});
    }
    return false;
}

void TZACore::RemoveFileOrRaise(const std::string& path, bool permanent) {
    std::string error;
    if (!DeleteFileOrTrash(path, permanent, &error)) {
        if (permanent) {
            throw EZipArchiver(ZA_CODE(163));
        }
        throw EZipArchiver(ZA_CODE(zamsg::kTrashFailedKept), path, error);
    }
}

void TZACore::LockForRewrite(const std::string& path) {
    auto& held = Host().HeldLocks();
    for (const auto& h : held) {
        if (h.Lock->Path() == path) {
            return;
        }
    }
    auto lock = std::make_unique<platform::ArchiveLock>();
    bool waited = false;
    const auto result =
        lock->Acquire(path, Internal().WaitForLock, [this, &path, &waited](bool first) {
            waited = true;
            // A notice, not an error of the operation: nothing is recorded.
            auto& host = Host();
            if (first && host.Events().OnMessage) {
                host.Events().OnMessage(host.Sender(), zamsg::kWaitingForWriter,
                                        MessageTextFmt(zamsg::kWaitingForWriter, {path}));
            }
            return !CheckCancel();
        });
    if (result == platform::ArchiveLock::Result::Busy) {
        throw EZipArchiver(ZA_CODE(zamsg::kBusyTryAgain), path);
    }
    if (result == platform::ArchiveLock::Result::Failed) {
        // Nothing to lock by (a folder that cannot be read): the rewrite
        // goes on as it would have without locks.
        ReportTrace("No lock for " + path + ": " + lock->Error());
        return;
    }
    // A set whose exchange a killed writer left unfinished is completed
    // first (the journal beside it lists what is left to do).
    std::string journalError;
    if (CompleteSetExchange(path, &journalError) < 0) {
        ReportTrace("Completing the set " + path + " failed: " + journalError);
    }
    // And what a writer killed in its final rename left beside the archive.
    platform::RemoveLeftReplacements(path);
    held.push_back({std::move(lock), platform::IdentifyFile(path)});
    // What was loaded before the lock may be older than the archive now.
    Host().ReloadIfChanged(path, waited, *this);
}

void TZACore::CheckUnchangedSinceLocked(const std::string& path) {
    for (const auto& h : Host().HeldLocks()) {
        if (h.Lock->Path() == path && !(platform::IdentifyFile(path) == h.Identity)) {
            throw EZipArchiver(ZA_CODE(196));
        }
    }
}

void TZACore::NoteReplaced(const std::string& path) {
    for (auto& h : Host().HeldLocks()) {
        if (h.Lock->Path() == path) {
            h.Identity = platform::IdentifyFile(path);
        }
    }
}

void TZACore::ShowExceptionError(const std::exception& e) {
    if (const auto* za = dynamic_cast<const EZAException*>(&e)) {
        ShowZipMessage(za->DisplayText(), za->FullCode, za->Display);
        return;
    }
    ShowZipMessage(e.what(), ZA_CODE(194), true);
}

bool TZACore::ReportSkipping(const std::string& forFile, std::int32_t errCode,
                             TZASkipTypes skipType) {
    auto& host = Host();
    const auto& ev = host.Events();
    const bool mustAbort = NoSkipping().contains(skipType);
    if (mustAbort && errCode == 0)
        errCode = 17;
    int extError = ZAAbsCode(errCode);
    if (extError != 0 && mustAbort)
        extError = -extError;
    if (ev.OnSkipped) {
        ev.OnSkipped(host.Sender(), forFile, skipType, extError);
    } else if (Verbose() && ev.OnMessage) {
        ev.OnMessage(host.Sender(), 200,
                     MessageTextFmt(6, {forFile, static_cast<std::int64_t>(skipType)}));
    }
    if (host.TraceWindowConnected()) {
        const TZAFmtArg args[] = {std::int64_t{errCode}, static_cast<std::int64_t>(skipType),
                                  std::int64_t{extError}};
        host.SendToTraceWindow(0, FormatText("[Skipped] IN=%d,%d OUT=%d", args));
    }
    return extError < 0;
}

bool TZACore::ReportSkippedSpec(const std::string& spec, std::int32_t errCode,
                                TZASkipTypes skipType, std::vector<std::string>* list) {
    if (Verbose())
        ReportTrace("Skipped filespec " + spec);
    if (list != nullptr)
        list->push_back(std::string(SkipTypeName(skipType)) + "<<" + spec);
    return ReportSkipping(spec, errCode, skipType);
}

void TZACore::ReportProgress(int kind, std::int32_t number, std::int64_t amount,
                             const std::string& text) {
    if (Closing)
        return;
    if (kind >= 0 && kind <= 7) {
        auto& d = *details_;
        bool raise = true;
        switch (kind) {
            case 0:
                raise = false;
                break;
            case 1:
                if (amount < 0)
                    d.EndItem();
                else
                    d.NewItem(text, amount);
                break;
            case 2:
                d.Advance(amount);
                break;
            case 3:
                raise = d.InBatch();
                d.EndBatch();
                break;
            case 4:
                d.SetCount(amount);
                Internal().TotalToProcess = 0;
                break;
            case 5:
                d.SetSize(amount);
                Internal().TotalToProcess = amount;
                break;
            case 6: {
                const int id = number >= 0 && number <= 15 ? number + 32 : number;
                d.NewExtraItem(MessageText(id), amount);
                break;
            }
            case 7:
                d.AdvanceExtra(static_cast<std::int32_t>(static_cast<std::uint32_t>(amount)));
                break;
        }
        auto& host = Host();
        if (raise && host.Events().OnProgress)
            host.Events().OnProgress(host.Sender(), d);
    }
    CheckCancel();
}

void TZACore::AddTemporary(const std::string& path, bool alwaysRemove) {
    std::string stored;
    if (!path.empty()) {
        std::error_code ec;
        fs::path p = fs::absolute(fs::path(path), ec);
        if (ec)
            p = fs::path(path);
        stored = p.lexically_normal().string();
        const bool folder = path.back() == '/' || fs::is_directory(fs::symlink_status(p, ec));
        if (folder && (stored.empty() || stored.back() != '/'))
            stored += '/';
    }
    Temporaries.push_back({std::move(stored), alwaysRemove});
}

void TZACore::removeTemporaries(bool success) {
    for (auto it = Temporaries.rbegin(); it != Temporaries.rend(); ++it) {
        const std::string& path = it->Path;
        if (path.size() <= 1)
            continue;
        if (success && !it->AlwaysRemove)
            continue;
        std::error_code ec;
        if (path.back() == '/') {
            const fs::path dir(path.substr(0, path.size() - 1));
            if (fs::is_directory(fs::symlink_status(dir, ec)))
                fs::remove(dir, ec);
        } else {
            const fs::path file(path);
            if (fs::exists(fs::symlink_status(file, ec)) &&
                !fs::is_directory(fs::symlink_status(file, ec)))
                fs::remove(file, ec);
        }
    }
    Temporaries.clear();
}
