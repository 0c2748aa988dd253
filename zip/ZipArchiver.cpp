#include "zip/ZipArchiver.h"

#include <exception>
#include <mutex>

#include "zip/ZAXcpt.h"

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
    : internal_(std::make_unique<TZAInternal>()), notMainThread_(!IsApplicationThread()) {}

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
    pipes_.Clear();
}

void TCustomZipArchiver::notify(int code, const std::string& text) {
    SendToTraceWindow(code, text);
    if (OnMessage)
        OnMessage(*this, code, text);
}

void TCustomZipArchiver::SetActive(bool value) {
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

void TCustomZipArchiver::ApplyDeferredSettings() {}

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
    if (active_ == 0)
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

void TCustomZipArchiver::FinishWork(bool) {}

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

void TCustomZipArchiver::CancelWork() {}

void TCustomZipArchiver::SendToTraceWindow(int code, const std::string& text) {
    if (!TraceWindow)
        return;
    if (!TraceWindow(code, text))
        TraceWindow = nullptr;
}
