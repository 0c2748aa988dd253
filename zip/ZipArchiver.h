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

#include "platform/ArchiveLock.h"
#include "zip/ZACore.h"
#include "zip/ZADialogProvider.h"
#include "zip/ZAEvents.h"
#include "zip/ZAHost.h"
#include "zip/ZAInternal.h"
#include "zip/ZAPipes.h"
#include "zip/ZAProgress.h"
#include "zip/ZAStream.h"
#include "zip/ZATypes.h"
#include "zip/messages/ZAMsg.h"

class TCustomZipArchiver;
class TZADirEntry;
class TZALister;
class TZAFileOpr;
struct TZARepairOutcome;

// Ends a run frame as failed for an error the operation has shown already.
struct TZAReportedFailure {};

// Shows or clears the busy cursor (the GUI installs the hourglass here).
void SetBusyCursorHook(std::function<void(bool busy)> hook);

class TCustomZipArchiver : public TZAHost, public TZAEvents {
public:
    static constexpr const char* kVersion = "1.9.1.0023";

    TCustomZipArchiver();
    virtual ~TCustomZipArchiver();
    TCustomZipArchiver(const TCustomZipArchiver&) = delete;
    TCustomZipArchiver& operator=(const TCustomZipArchiver&) = delete;

    TZAInternal& Internal() override { return *internal_; }
    const TZAInternal& Internal() const { return *internal_; }

    // --- Events (the fields of TZAEvents: OnMessage, OnProgress, ...) ----------
    const TZAEvents& Events() const override { return *this; }
    TCustomZipArchiver& Sender() override { return *this; }
    // The catalogue's text hook is process-wide: shared by all components.
    void SetOnLoadStr(TZALoadStrEvent hook) { ::SetOnLoadStr(std::move(hook)); }
    const TZALoadStrEvent& OnLoadStr() const { return ::GetOnLoadStr(); }

    // --- State --------------------------------------------------------------
    // 0 inactive, 1 active, 2 active as constructed, -3 deactivation pending.
    int ActiveState() const { return active_; }
    bool Active() const { return active_ != 0; }
    void SetActive(bool value);
    TZAStates State() const { return state_; }
    bool IsBusy() const override { return IsBusyState(state_); }
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
    TZACore* CurrentOperation() const override { return operation_.get(); }
    TZACore& SetCurrentOperation(std::unique_ptr<TZACore> op);
    template <typename T, typename... Args>
    T& StartWork(Args&&... args) {
        auto op = std::make_unique<T>(*this, std::forward<Args>(args)...);
        T& ref = *op;
        SetCurrentOperation(std::move(op));
        return ref;
    }

    // --- Services for work objects -------------------------------------------
    int NextStamp() override { return ++stamp_; }
    // Asks OnZipDialog, then the dialog provider; returns the modal result
    // (0 when nothing could be shown). `msg` carries a handler's text or a
    // password entry back.
    int ZipDialog(const std::string& title, std::string& msg, TMsgDlgButtons buttons,
                  std::uint32_t value) override;
    // This component's dialog box (borrowed); nullptr uses the process-wide one.
    void SetDialogProvider(TZADialogProvider* provider) { dialogProvider_ = provider; }
    TZADialogProvider* DialogProvider() const;
    // Sets or clears the cancel request of the running operation.
    void SetCancel(bool value) override;
    bool Cancel() const { return internal_->CancelRequest != 0; }

    // The optional diagnostic trace sink; returns false when it no longer accepts.
    std::function<bool(int code, const std::string& text)> TraceWindow;
    bool TraceWindowConnected() const override { return static_cast<bool>(TraceWindow); }
    void SendToTraceWindow(int code, const std::string& text) override;

    TZAPipeListImp& Pipes() override { return pipes_; }

    // The writers' locks the running operation holds on the archives it
    // rewrites; released when the operation ends.
    std::vector<TZAHeldLock>& HeldLocks() override { return heldLocks_; }

    // The recorded error of the last operation; 197 when not active.
    int ErrCode() const { return IsActive() ? internal_->ErrCode : 197; }
    const std::string& ErrMessage() const { return internal_->ErrMessage; }
    int SuccessCount() const { return internal_->SuccessCount; }
    std::string Version() const { return kVersion; }

    bool Verbose() const { return internal_->Verbose(); }
    bool Trace() const { return internal_->Trace(); }

    // --- Stored-form loading ----------------------------------------------------
    // Between BeginLoading and EndLoading the component is not active: the
    // deferred settings collect and are applied at EndLoading.
    void BeginLoading() { loading_ = true; }
    void EndLoading();
    bool Loading() const { return loading_; }
    // Active and not being loaded: the component acts on its settings.
    bool IsActive() const { return active_ != 0 && !loading_; }

    // --- The loaded archive ---------------------------------------------------------
    // Number of entries of the current directory (0 when inactive or unnamed).
    int Count() const override;
    // Entry `index` of the current directory, nullptr when out of range,
    // inactive or unnamed. The handle reads empty once the directory is
    // reloaded or replaced.
    std::shared_ptr<TZADirEntry> DirEntry(int index) const;
    // The same entry read directly, without a handle (for reading the whole
    // directory at once): valid only until the directory changes.
    TZADirEntry* DirEntryNow(int index) const;
    TZALister* Lister() const override { return lister_.get(); }
    // True when the named archive's directory is loaded.
    bool ArchiveLoaded() const override;
    void ReloadIfChanged(const std::string& path, bool waited, TZACore& reporter) override;
    // The message id of the warning the loaded archive came with (20: a fault
    // in its structure, 151: a damaged archive comment), 0 when it loaded
    // cleanly or is not loaded. ErrCode holds the same id after such a load;
    // this tells it apart from a failed one.
    int LoadWarning() const;

    // --- Properties -------------------------------------------------------------------
    std::int32_t AddCompLevel() const { return internal_->AddCompLevel; }
    void SetAddCompLevel(std::int32_t v);
    double AddFrom() const { return internal_->AddFrom; }
    void SetAddFrom(double v);
    TZAAddOpts AddOptions() const { return internal_->AddOptions; }
    void SetAddOptions(TZAAddOpts v);
    TZAAddStoreExts AddStoreSuffixes() const { return internal_->AddStoreSuffixes; }
    void SetAddStoreSuffixes(TZAAddStoreExts v);
    bool ConfirmErase() const { return internal_->ConfirmErase; }
    void SetConfirmErase(bool v);
    const std::string& DLLDirectory() const { return internal_->DLLDirectory; }
    void SetDLLDirectory(const std::string& v);
    bool DLL_Load() const { return dllLoad_; }
    void SetDLL_Load(bool v);
    TZAEncodingOpts Encoding() const { return internal_->Encoding; }
    void SetEncoding(TZAEncodingOpts v);
    const std::string& ExtAddStoreSuffixes() const { return internal_->ExtAddStoreSuffixes; }
    void SetExtAddStoreSuffixes(const std::string& v);
    const std::string& ExtrBaseDir() const { return internal_->ExtrBaseDir; }
    void SetExtrBaseDir(const std::string& v);
    TZAExtrOpts ExtrOptions() const { return internal_->ExtrOptions; }
    void SetExtrOptions(TZAExtrOpts v);
    // The lists the application fills before an operation.
    std::vector<std::string>& FSpecArgs() { return fSpecArgs_; }
    std::vector<std::string>& FSpecArgsExcl() { return fSpecArgsExcl_; }
    void SetFSpecArgs(const std::vector<std::string>& v);
    void SetFSpecArgsExcl(const std::vector<std::string>& v);
    // On: Extract (and testing) and Delete from the loaded archive take each
    // line of FSpecArgs and FSpecArgsExcl as one entry name, literally: "*",
    // "?" and "|" are ordinary characters of a name, as they may be on Unix.
    // Add takes each line as one path the same way (a folder with what it
    // holds, as far as AddRecurseDirs goes). Names and files the user
    // selected are passed this way. Off (the default): the
    // lines are wildcard specifications. Delete from a list of archives
    // (no ZipFileName) always reads specification lines.
    bool ExactNames() const { return exactNames_; }
    void SetExactNames(bool v);
    // The private copies the running operation works with.
    TZAWorkSpecs& WorkSpecs() override { return workSpecs_; }
    TZADeleteOpts HowToDelete() const { return internal_->HowToDelete; }
    void SetHowToDelete(TZADeleteOpts v);
    std::uint32_t KeepFreeOnAllDisks() const { return internal_->KeepFreeOnAllDisks; }
    void SetKeepFreeOnAllDisks(std::uint32_t v);
    std::uint32_t KeepFreeOnDisk1() const { return internal_->KeepFreeOnDisk1; }
    void SetKeepFreeOnDisk1(std::uint32_t v);
    const std::string& Language() const { return language_; }
    void SetLanguage(const std::string& v);
    std::uint32_t LanguageID() const { return languageId_; }
    void SetLanguageID(std::uint32_t v);
    std::int64_t MaxVolumeSize() const { return internal_->MaxVolumeSize; }
    void SetMaxVolumeSize(std::int64_t v);
    std::int32_t MaxVolumeSizeKb() const {
        return static_cast<std::int32_t>(internal_->MaxVolumeSize / 1024);
    }
    void SetMaxVolumeSizeKb(std::int32_t v);
    std::uint32_t MinFreeVolumeSize() const { return internal_->MinFreeVolumeSize; }
    void SetMinFreeVolumeSize(std::uint32_t v);
    // The stored value, or true once any self-extractor property was set.
    bool NoReadAux() const override { return internal_->NoReadAux || sfxChanged_; }
    void SetNoReadAux(bool v);
    TZASkipAborts NoSkipping() const { return internal_->NoSkipping; }
    void SetNoSkipping(TZASkipAborts v);
    const std::string& Password() const { return internal_->Password; }
    void SetPassword(const std::string& v);
    std::uint32_t PasswordReqCount() const { return internal_->PasswordReqCount; }
    void SetPasswordReqCount(std::uint32_t v);
    const std::string& RootDir() const { return internal_->RootDir; }
    void SetRootDir(const std::string& v);
    const std::string& SFXCaption() const { return internal_->SFXCaption; }
    void SetSFXCaption(const std::string& v);
    const std::string& SFXCommandLine() const { return internal_->SFXCommandLine; }
    void SetSFXCommandLine(const std::string& v);
    const std::string& SFXDefaultDir() const { return internal_->SFXDefaultDir; }
    void SetSFXDefaultDir(const std::string& v);
    const TZAIcon* SFXIcon() const { return internal_->SFXIcon(); }
    void SetSFXIcon(const TZAIcon* v);
    const std::string& SFXMessage() const { return internal_->SFXMessage; }
    void SetSFXMessage(const std::string& v);
    TZASFXOpts SFXOptions() const { return internal_->SFXOptions; }
    void SetSFXOptions(TZASFXOpts v);
    TZAOvrOpts SFXOverwriteMode() const { return internal_->SFXOverwriteMode; }
    void SetSFXOverwriteMode(TZAOvrOpts v);
    const std::string& SFXPath() const { return internal_->SFXPath; }
    void SetSFXPath(const std::string& v);
    const std::string& SFXRegFailPath() const { return internal_->SFXRegFailPath; }
    void SetSFXRegFailPath(const std::string& v);
    TZASpanOpts SpanOptions() const { return internal_->SpanOptions; }
    void SetSpanOptions(TZASpanOpts v);
    const std::string& TempDir() const { return internal_->TempDir; }
    void SetTempDir(const std::string& v);
    void SetTrace(bool v);
    void SetVerbose(bool v);
    bool Unattended() const { return internal_->Unattended; }
    void SetUnattended(bool v);
    bool UseDirOnlyEntries() const { return internal_->UseDirOnlyEntries; }
    void SetUseDirOnlyEntries(bool v);
    bool UseUTF8() const { return GetUseUTF8(); }
    void SetUseUTF8(bool v);
    TZAWriteOpts WriteOptions() const { return internal_->WriteOptions; }
    void SetWriteOptions(TZAWriteOpts v);
    const std::string& ZipComment() const { return internal_->ZipComment; }
    void SetZipComment(const std::string& v);
    const std::string& ZipFileName() const { return internal_->ZipFileName; }
    // Loads the named archive (also the name already set: a reload).
    void SetZipFileName(const std::string& v);

    // --- Services for the work objects ----------------------------------------------
    // A unique temporary name (the file itself is not left behind) in the
    // work folder (TZAInternal::WorkFolder); "" when none could be made.
    std::string MakeTempFileName(const std::string& prefix = "zip",
                                 const std::string& extension = ".zip");
    // Asks for a new password (twice); `response` gets the answering button.
    std::string GetAddPassword(TMsgDlgBtn& response) override;
    // Asks for the password of an entry to extract.
    std::string GetExtrPassword(TMsgDlgBtn& response) override;

    // --- Engine operations (ZipArchiverEngineOps.cpp) ---------------------------------
    // Adds the files named by FSpecArgs (less FSpecArgsExcl) to ZipFileName.
    void Add();
    // Extracts (or, with ExtrTest, tests) the entries named by FSpecArgs; all
    // entries when it is empty.
    void Extract();

protected:
    // Raises OnStateChange and moves the busy cursor.
    void ChangeState(TZAStates newState);
    // Counts a refused call while busy.
    void CountReentry();
    // Reports a failure that ended the run frame (message 1 for foreign exceptions;
    // nothing for a TZAReportedFailure).
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

    // Where the archive operations plug in: rewriting the archive comment
    // of the loaded archive (here it only keeps the value) and loading or
    // unloading the engine. Both run only while active.
    virtual void ApplyZipComment(const std::string& comment);
    virtual void ApplyDllLoad(bool load);
    // Gives up the engine use that DLL_Load holds, at once.
    void ForgetEngine();

    std::uint8_t& DeferredFlags() { return deferred_; }
    bool& SFXSettingsChanged() { return sfxChanged_; }

public:
    // Deferred-settings bits.
    static constexpr std::uint8_t kDeferLanguage = 1;
    static constexpr std::uint8_t kDeferLanguageID = 2;
    static constexpr std::uint8_t kDeferZipFileName = 4;
    static constexpr std::uint8_t kDeferZipComment = 8;
    static constexpr std::uint8_t kDeferDllLoad = 16;
    std::uint8_t DeferredSettings() const { return deferred_; }

private:
    // The password dialog: the modal result, the entry in `text`.
    int AskPassword(std::string& text, int promptId, std::uint32_t context, TMsgDlgButtons buttons);
    // Records an error code quietly (no dialog) and reports it.
    void RecordError(std::int32_t code);
    // Marks the self-extractor settings as set by the application.
    void MarkSFXChanged();
    // Runs a small action in the frame, swallowing errors.
    void RefreshDirectory(bool rebuildNames);
    void LoadZipFileName(const std::string& name);

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
    std::vector<TZAHeldLock> heldLocks_;
    int stamp_ = 0;
    TZADialogProvider* dialogProvider_ = nullptr;
    bool loading_ = false;
    std::unique_ptr<TZALister> lister_;
    std::vector<std::string> fSpecArgs_;
    std::vector<std::string> fSpecArgsExcl_;
    TZAWorkSpecs workSpecs_;
    bool exactNames_ = false;
    std::string language_;
    std::uint32_t languageId_ = 0;
    bool dllLoad_ = false;
};

class TZipArchiver : public TCustomZipArchiver {
public:
    TZipArchiver() = default;

    // ---- Rewriting archives without the engine (ZipArchiverOps.cpp) ----------------
    // Deletes the entries named by FSpecArgs (minus FSpecArgsExcl) from the
    // current archive; with no ZipFileName, the lines of FSpecArgs name the
    // archives ("a.zip >> b.txt"). SuccessCount: the entries deleted.
    void Delete();
    // Writes the current archive as a self-extracting program (its name
    // with ".exe") and makes that the current archive. The recorded error
    // code, else 0.
    int ConvertToSFX();
    // Writes the current self-extracting program as a plain archive (its
    // name with ".zip") and makes that the current archive.
    int ConvertToZIP();
    // Writes the current archive as a multi-part set named `target` (the
    // archive itself when empty) with parts of at most MaxVolumeSize bytes.
    int Span(const std::string& target = {});
    // Writes the current archive (a multi-part set) as one archive `target`.
    int Join(const std::string& target);
    // Rescues the entries of the damaged archive `damaged` (with the parts
    // of its set before it) into a new archive `target` (name +
    // "-repariert.zip" when empty); `damaged` is not changed. 0, or the
    // message id of the failure (336: no entry survived); `outcome` tells
    // what was recovered and lists a message per entry left behind.
    int Repair(const std::string& damaged, const std::string& target, TZARepairOutcome& outcome);
    // Writes the current archive as a self-extracting set: parts of at most
    // MaxVolumeSize bytes named like the archive, and its stub as
    // `destination` (default: the archive's name with ".exe"), which becomes
    // the current archive. Without a part size, or when the archive fits
    // into one part, the same as ConvertToSFX.
    int ConvertToSpanSFX(const std::string& destination = {});

protected:
    // Rewrites the comment of an existing archive in place.
    void ApplyZipComment(const std::string& comment) override;

private:
    // Runs one file operation in the run frame: the recorded error code,
    // else the operation's result.
    int RunFileOperation(const std::function<std::int32_t(TZAFileOpr&)>& work);
};
