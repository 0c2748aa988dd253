// The zip component: the one object through which the application uses the
// zip machinery. It keeps the options (in its TZAInternal), the event
// handlers and the current operation's work object, and runs every
// operation inside one run frame (busy guard, re-entry refusal, error
// capture, state events).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/ZACore.h"
#include "zip/ZADialogProvider.h"
#include "zip/ZAInternal.h"
#include "zip/ZAPipes.h"
#include "zip/ZAProgress.h"
#include "zip/ZAStream.h"
#include "zip/ZATypes.h"
#include "zip/messages/ZAMsg.h"

class TCustomZipArchiver;
class TZADirEntry;

// --- Event types (by-reference parameters are the handler's answers) -----------
using TZANotifyEvent = std::function<void(TCustomZipArchiver& Sender)>;
using TZABadNameEvent = std::function<void(TCustomZipArchiver& Sender, std::string& FileName,
                                           const std::string& ExtName, TZANameFixes& Action)>;
using TZACheckTerminateEvent = std::function<void(TCustomZipArchiver& Sender, bool& abort)>;
using TZACopyZippedOverwriteEvent = std::function<void(TCustomZipArchiver& Sender, TZADirEntry& src,
                                                       TZADirEntry& dst, bool& DoOverwrite)>;
using TZACRC32ErrorEvent =
    std::function<void(TCustomZipArchiver& Sender, const std::string& ForFile,
                       std::uint32_t FoundCRC, std::uint32_t ExpectedCRC, bool& DoExtract)>;
using TZAExtractOverwriteEvent =
    std::function<void(TCustomZipArchiver& Sender, const std::string& ForFile, bool IsOlder,
                       bool& DoOverwrite, int DirIndex)>;
using TZAFileCommentEvent =
    std::function<void(TCustomZipArchiver& Sender, const std::string& ForFile,
                       std::string& FileComment, bool& IsChanged)>;
using TZAFileExtraEvent = std::function<void(TCustomZipArchiver& Sender, const std::string& ForFile,
                                             std::vector<std::uint8_t>& Data, bool& IsChanged)>;
using TZAGetNextDiskEvent =
    std::function<void(TCustomZipArchiver& Sender, int DiskSeqNo, int DiskTotal,
                       const std::string& Drive, bool& AbortAction)>;
using TZAMessageEvent =
    std::function<void(TCustomZipArchiver& Sender, int ErrCode, const std::string& ErrMsg)>;
using TZANewNameEvent = std::function<void(TCustomZipArchiver& Sender, int SeqNo)>;
using TZAPasswordErrorEvent =
    std::function<void(TCustomZipArchiver& Sender, bool IsZipAction, std::string& NewPassword,
                       const std::string& ForFile, std::uint32_t& RepeatCount, TMsgDlgBtn& Action)>;
using TZAProgressEvent =
    std::function<void(TCustomZipArchiver& Sender, TZAProgressDetails& details)>;
using TZASetAddNameEvent = std::function<void(TCustomZipArchiver& Sender, std::string& FileName,
                                              const std::string& ExtName, bool& IsChanged)>;
using TZASetCompLevelEvent = std::function<void(
    TCustomZipArchiver& Sender, const std::string& ForFile, int& level, bool& IsChanged)>;
using TZASetExtNameEvent = std::function<void(TCustomZipArchiver& Sender, std::string& FileName,
                                              const std::string& BaseDir, bool& IsChanged)>;
using TZASkippedEvent = std::function<void(TCustomZipArchiver& Sender, const std::string& ForFile,
                                           TZASkipTypes SkipType, int& ExtError)>;
using TZAStatusDiskEvent = std::function<void(TCustomZipArchiver& Sender, int PreviousDisk,
                                              const std::string& PreviousFile,
                                              TZAZipDiskStatus Status, TZADiskAction& Action)>;
using TZAStreamEvent = std::function<void(TCustomZipArchiver& Sender, TZAStreamOp opr, int snumber,
                                          TZAStream*& strm, TZASStats& stat, bool& done)>;
using TZADialogEvent = std::function<void(TCustomZipArchiver& Sender, const std::string& title,
                                          std::string& msg, int& Result, TMsgDlgButtons btns)>;
using TZAStateChangeEvent =
    std::function<void(TCustomZipArchiver& Sender, int State, bool& NoCursor)>;

// Shows or clears the busy cursor (the GUI installs the hourglass here).
void SetBusyCursorHook(std::function<void(bool busy)> hook);

class TCustomZipArchiver {
public:
    static constexpr const char* kVersion = "1.9.1.0023";

    TCustomZipArchiver();
    virtual ~TCustomZipArchiver();
    TCustomZipArchiver(const TCustomZipArchiver&) = delete;
    TCustomZipArchiver& operator=(const TCustomZipArchiver&) = delete;

    TZAInternal& Internal() { return *internal_; }
    const TZAInternal& Internal() const { return *internal_; }

    // --- Events -----------------------------------------------------------
    TZABadNameEvent OnBadName;
    TZACheckTerminateEvent OnCheckTerminate;
    TZACopyZippedOverwriteEvent OnCopyZippedOverwrite;
    TZACRC32ErrorEvent OnCRC32Error;
    TZANotifyEvent OnDirUpdate;
    TZAExtractOverwriteEvent OnExtractOverwrite;
    TZAFileCommentEvent OnFileComment;
    TZAFileExtraEvent OnFileExtra;
    TZAGetNextDiskEvent OnGetNextDisk;
    TZAMessageEvent OnMessage;
    TZANewNameEvent OnNewName;
    TZAPasswordErrorEvent OnPasswordError;
    TZAProgressEvent OnProgress;
    TZASetAddNameEvent OnSetAddName;
    TZASetCompLevelEvent OnSetCompLevel;
    TZASetExtNameEvent OnSetExtName;
    TZASkippedEvent OnSkipped;
    TZAStatusDiskEvent OnStatusDisk;
    TZAStreamEvent OnStream;
    TZANotifyEvent OnTick;
    TZADialogEvent OnZipDialog;
    TZAStateChangeEvent OnStateChange;
    // The catalogue's text hook is process-wide: shared by all components.
    void SetOnLoadStr(TZALoadStrEvent hook) { ::SetOnLoadStr(std::move(hook)); }
    const TZALoadStrEvent& OnLoadStr() const { return ::GetOnLoadStr(); }

    // --- State --------------------------------------------------------------
    // 0 inactive, 1 active, 2 active as constructed, -3 deactivation pending.
    int ActiveState() const { return active_; }
    bool Active() const { return active_ != 0; }
    void SetActive(bool value);
    TZAStates State() const { return state_; }
    bool IsBusy() const { return IsBusyState(state_); }
    int BusyCount() const { return busyCount_; }
    int ReentryCount() const { return reentryCount_; }
    bool NotMainThread() const { return notMainThread_; }

    // --- Run frame ----------------------------------------------------------
    // Enters the frame when active and idle; counts a re-entry when busy.
    bool StartOperation();
    // Clears the error state, the success count and cancel requests.
    void PrepareOperation();
    // Finishes and frees the current work object, leaves the frame.
    void EndOperation(bool success);
    // The whole frame around `body`: errors are reported, never thrown
    // (`quiet` swallows them). False when refused or failed.
    bool RunOperation(const std::function<void()>& body, bool quiet = false);
    // For setters refused while busy: counts a re-entry and returns true when busy.
    bool RefuseWhileBusy();

    // The running operation's work object (owned while it runs).
    TZACore* CurrentOperation() const { return operation_.get(); }
    TZACore& SetCurrentOperation(std::unique_ptr<TZACore> op);
    template <typename T, typename... Args>
    T& StartWork(Args&&... args) {
        auto op = std::make_unique<T>(*this, std::forward<Args>(args)...);
        T& ref = *op;
        SetCurrentOperation(std::move(op));
        return ref;
    }

    // --- Services for work objects -------------------------------------------
    int NextStamp() { return ++stamp_; }
    // Asks OnZipDialog, then the dialog provider; returns the modal result
    // (0 when nothing could be shown). `msg` carries a handler's text or a
    // password entry back.
    int ZipDialog(const std::string& title, std::string& msg, TMsgDlgButtons buttons,
                  std::uint32_t value);
    // This component's dialog box (borrowed); nullptr uses the process-wide one.
    void SetDialogProvider(TZADialogProvider* provider) { dialogProvider_ = provider; }
    TZADialogProvider* DialogProvider() const;
    // Sets or clears the cancel request of the running operation.
    void SetCancel(bool value);
    bool Cancel() const { return internal_->CancelRequest != 0; }

    // The optional diagnostic trace sink; returns false when it no longer accepts.
    std::function<bool(int code, const std::string& text)> TraceWindow;
    bool TraceWindowConnected() const { return static_cast<bool>(TraceWindow); }
    void SendToTraceWindow(int code, const std::string& text);

    TZAPipeListImp& Pipes() { return pipes_; }

    // The recorded error of the last operation; 197 when not active.
    int ErrCode() const { return Active() ? internal_->ErrCode : 197; }
    const std::string& ErrMessage() const { return internal_->ErrMessage; }
    int SuccessCount() const { return internal_->SuccessCount; }
    std::string Version() const { return kVersion; }

    bool Verbose() const { return internal_->Verbose(); }
    bool Trace() const { return internal_->Trace(); }

protected:
    // Raises OnStateChange and moves the busy cursor.
    void ChangeState(TZAStates newState);
    // Counts a refused call while busy.
    void CountReentry();
    // Reports a failure that ended the run frame (message 1 for foreign exceptions).
    void ReportFailure(std::exception_ptr failure);
    // Sends a message with `code` to the trace window and OnMessage.
    void notify(int code, const std::string& text);

    // Extension points for the rest of the façade.
    // Applies settings stored while inactive (language, archive, comment, engine).
    virtual void ApplyDeferredSettings();
    // Runs after the work object finished: the lister's Finish, reloading the
    // specification lists.
    virtual void FinishWork(bool success);
    // Passes a cancel request on to the lister.
    virtual void CancelWork();

    std::uint8_t& DeferredFlags() { return deferred_; }
    bool& SFXSettingsChanged() { return sfxChanged_; }

private:
    std::unique_ptr<TZAInternal> internal_;
    int active_ = 2;
    std::uint8_t deferred_ = 0;  // deferred-settings flags
    int busyCount_ = 0;
    bool inFrame_ = false;
    int cursorNesting_ = 0;
    TZAStates state_ = zsDisabled;
    int reentryCount_ = 0;
    bool notMainThread_ = false;
    bool sfxChanged_ = false;
    std::unique_ptr<TZACore> operation_;
    TZAPipeListImp pipes_;
    int stamp_ = 0;
    TZADialogProvider* dialogProvider_ = nullptr;
};

class TZipArchiver : public TCustomZipArchiver {
public:
    TZipArchiver() = default;
};
