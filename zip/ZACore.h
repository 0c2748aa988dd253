// The base of every operation's work object: one uniform way to read the
// component's options, report progress, messages, skipped files and errors,
// notice a cancel request and remove the temporary files an operation made.
//
// A new operation derives from TZACore, takes the component's host interface
// (zip/ZAHost.h; and optionally an owning work object), raises EZipArchiver with ZA_CODE(id) for
// errors, reports through the channels below and extends Finish for its clean-up.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "zip/ZAHost.h"
#include "zip/ZAInternal.h"
#include "zip/ZAProgress.h"
#include "zip/ZATypes.h"
#include "zip/ZAXcpt.h"
#include "zip/messages/ZAMsg.h"

// --- Process-wide hooks ------------------------------------------------------

// Lets the application run its pending window messages during long
// operations (the GUI installs QCoreApplication::processEvents). The thread
// that installs it counts as the application's main thread.
void SetMessagePump(std::function<void()> pump);
// True on the thread that installed the pump (or, without one, the thread
// that first asked).
bool IsApplicationThread();
// Runs the installed pump, if any.
void PumpMessages();

// --- Owner chains --------------------------------------------------------------

// Links work objects into owner chains. An object constructed with an owner
// belongs to it: create it on the heap and release it to the owner
// (CreateOwned below); the owner destroys its owned objects, last first.
// Destroying an owned object earlier unlinks it from its owner.
class TZAWorkBin {
public:
    explicit TZAWorkBin(TZAWorkBin* owner = nullptr);
    virtual ~TZAWorkBin();
    TZAWorkBin(const TZAWorkBin&) = delete;
    TZAWorkBin& operator=(const TZAWorkBin&) = delete;

    TZAWorkBin* Owner() const { return owner_; }
    int OwnedCount() const { return owned_ ? static_cast<int>(owned_->size()) : 0; }
    TZAWorkBin* Owned(int index) const { return owned_->at(static_cast<std::size_t>(index)); }

private:
    void unlink(TZAWorkBin* child);

    std::unique_ptr<std::vector<TZAWorkBin*>> owned_;  // created on first registration
    TZAWorkBin* owner_ = nullptr;
};

// Creates a work object whose constructor names an owner, and hands it to
// that owner. Returns a borrowed pointer; without an owner among the
// arguments nobody would keep the object, so it is destroyed at once and
// nullptr is returned.
template <typename T, typename... Args>
T* CreateOwned(Args&&... args) {
    auto obj = std::make_unique<T>(std::forward<Args>(args)...);
    return obj->Owner() != nullptr ? obj.release() : nullptr;
}

// Binds a work object to its component's host interface and option record.
class TZAWorkBase : public TZAWorkBin {
public:
    explicit TZAWorkBase(TZAHost& host, TZAWorkBin* owner = nullptr);

    virtual void SetCancel(std::int32_t code);
    virtual void Finish(bool success) = 0;
    virtual void ClearCancel() = 0;

    TZAHost& Host() const { return host_; }
    TZAInternal& Internal() const { return internal_; }
    // The Verbose/Trace bits; a level above 1 means tracing.
    int TraceLevel() const { return internal_.TraceBits; }
    bool Verbose() const { return internal_.TraceBits != 0; }
    // Next value of the component's stamp counter.
    int NextStamp();
    // Raises message 199 unless 0 <= index < count.
    void RangeCheck(std::int64_t index, std::int64_t count) const;

private:
    TZAHost& host_;
    TZAInternal& internal_;
};

class TZACore : public TZAWorkBase {
public:
    struct TZATemporary {
        std::string Path;  // a folder ends in "/"
        bool AlwaysRemove = false;
    };

    explicit TZACore(TZAHost& host, TZAWorkBin* owner = nullptr);
    ~TZACore() override;

    // Stores a cancel code (0 = go on).
    void SetCancel(std::int32_t code) override;
    // End-of-operation clean-up: removes the temporaries (all of them after
    // a failure, only the always-remove ones after success).
    void Finish(bool success) override;
    void ClearCancel() override;
    virtual void Abort();

    // --- Fields -----------------------------------------------------------
    std::uint8_t Flags = 0;       // bit 0: add copied the archive into a temporary first
    std::int32_t CancelCode = 0;  // 2 user cancel, 4 abort at password, 193 handler exception
    std::vector<TZATemporary> Temporaries;
    bool IsXPOrLater = true;
    std::string CallbackError;
    bool Closing = false;  // set: progress reports and engine callbacks are ignored
    TProgDetails& Details() { return *details_; }

    // --- Reporting channels ------------------------------------------------
    // Ticks, asks OnCheckTerminate or pumps messages; true when a cancel
    // request was pending on entry.
    bool CheckCancel();
    // CheckCancel, then raises CancelCode when it is set.
    void CheckCancelAndRaise();
    // CheckCancelAndRaise for the writers of new archives and sets: a cancel
    // asked of the component meanwhile (from a progress handler, say)
    // reaches only the running operation, not the objects below it that do
    // the writing; they take it over here. Readers keep to their own code:
    // the directory is reloaded after a cancelled operation, with the
    // request still standing.
    void CheckWriteCancelAndRaise();
    void ReportMessage(std::int32_t code, const std::string& text);
    void ReportTrace(const std::string& text);
    void ReportMessageId(int id, std::initializer_list<TZAFmtArg> args = {});
    void ShowZipMessage(const std::string& text, std::int32_t code, bool display);
    void ShowError(std::int32_t code, bool display = true);
    void ShowErrorFmt(std::int32_t code, std::initializer_list<TZAFmtArg> args,
                      bool display = true);
    void ShowExceptionError(const std::exception& e);
    // A warning about an archive that loads all the same: shown like an
    // error (ErrCode holds it), and kept apart as the load's warning so that
    // callers can tell a loaded archive from a failed load.
    void ReportLoadWarning(std::int32_t code);
    // Removes `path`: for good when `permanent`, else to the desktop trash.
    // A file the trash cannot take is kept (never deleted for good instead)
    // and message 186 says so; false then, or when a delete failed.
    bool RemoveFile(const std::string& path, bool permanent);
    // RemoveFile for a file that must be gone before the work goes on:
    // raises message 186 (the trash) or 163 (a delete) when it is not.
    void RemoveFileOrRaise(const std::string& path, bool permanent);
    // Takes the writer's lock of the archive or set `path` for the rest of
    // the operation (platform/ArchiveLock.h), before anything of it is read:
    // while another writer holds it, waits with message 187 (a cancel ends
    // the wait), or raises message 188 when WaitForLock is off or the wait
    // was cancelled. A loaded directory of `path` that changed meanwhile is
    // loaded again. Locking a name the operation holds already does nothing.
    void LockForRewrite(const std::string& path);
    // Raises message 196 when `path`, locked by this operation, is no longer
    // the file it was when locked or last replaced by the operation: another
    // program changed it without the lock, and replacing it would lose that.
    void CheckUnchangedSinceLocked(const std::string& path);
    // Notes that the operation itself put a new file under `path`.
    void NoteReplaced(const std::string& path);
    // True when the skip aborts the operation.
    bool ReportSkipping(const std::string& forFile, std::int32_t errCode, TZASkipTypes skipType);
    // Traces, lists "<type name><<spec" in `list` when given, then ReportSkipping.
    bool ReportSkippedSpec(const std::string& spec, std::int32_t errCode, TZASkipTypes skipType,
                           std::vector<std::string>* list);
    void ReportProgress(int kind, std::int32_t number, std::int64_t amount,
                        const std::string& text);
    // Registers a path this operation created; "/" at the end marks a folder.
    void AddTemporary(const std::string& path, bool alwaysRemove);

    // --- The shared option record -------------------------------------------
    std::int32_t AddCompLevel() const { return Internal().AddCompLevel; }
    double AddFrom() const { return Internal().AddFrom; }
    TZAAddOpts AddOptions() const { return Internal().AddOptions; }
    TZAAddStoreExts AddStoreSuffixes() const { return Internal().AddStoreSuffixes; }
    std::uint8_t ArchiveSettingsFlag() const { return Internal().ArchiveSettingsFlag; }
    std::int32_t CancelRequest() const { return Internal().CancelRequest; }
    bool ConfirmErase() const { return Internal().ConfirmErase; }
    const std::string& DLLDirectory() const { return Internal().DLLDirectory; }
    std::uint8_t WriteEncoding() const { return Internal().WriteEncoding; }
    TZAEncodingOpts Encoding() const { return Internal().Encoding; }
    std::uint32_t NameCodePage() const { return Internal().NameCodePage; }
    std::int32_t ErrCode() const { return Internal().ErrCode; }
    const std::string& ErrMessage() const { return Internal().ErrMessage; }
    const std::string& ExtAddStoreSuffixes() const { return Internal().ExtAddStoreSuffixes; }
    std::int32_t LastFullCode() const { return Internal().LastFullCode; }
    const std::string& ExtrBaseDir() const { return Internal().ExtrBaseDir; }
    TZAExtrOpts ExtrOptions() const { return Internal().ExtrOptions; }
    std::uintptr_t AppWindow() const { return Internal().AppWindow; }
    TZADeleteOpts HowToDelete() const { return Internal().HowToDelete; }
    std::uint32_t KeepFreeOnAllDisks() const { return Internal().KeepFreeOnAllDisks; }
    std::uint32_t KeepFreeOnDisk1() const { return Internal().KeepFreeOnDisk1; }
    std::int64_t MaxVolumeSize() const { return Internal().MaxVolumeSize; }
    std::uint32_t MinFreeVolumeSize() const { return Internal().MinFreeVolumeSize; }
    bool NoReadAux() const { return Internal().NoReadAux; }
    TZASkipAborts NoSkipping() const { return Internal().NoSkipping; }
    const std::string& Password() const { return Internal().Password; }
    std::uint32_t PasswordReqCount() const { return Internal().PasswordReqCount; }
    const std::string& RootDir() const { return Internal().RootDir; }
    const std::string& SFXCaption() const { return Internal().SFXCaption; }
    const std::string& SFXCommandLine() const { return Internal().SFXCommandLine; }
    const std::string& SFXDefaultDir() const { return Internal().SFXDefaultDir; }
    const TZAIcon* SFXIcon() const { return Internal().SFXIcon(); }
    const std::string& SFXMessage() const { return Internal().SFXMessage; }
    TZASFXOpts SFXOptions() const { return Internal().SFXOptions; }
    TZAOvrOpts SFXOverwriteMode() const { return Internal().SFXOverwriteMode; }
    const std::string& SFXPath() const { return Internal().SFXPath; }
    const std::string& SFXRegFailPath() const { return Internal().SFXRegFailPath; }
    TZASpanOpts SpanOptions() const { return Internal().SpanOptions; }
    std::int32_t SuccessCount() const { return Internal().SuccessCount; }
    const std::string& TempDir() const { return Internal().TempDir; }
    // Where the operation's work files go (TZAInternal::WorkFolder).
    std::string WorkFolder() const { return Internal().WorkFolder(); }
    std::int64_t TotalToProcess() const { return Internal().TotalToProcess; }
    bool Unattended() const { return Internal().Unattended; }
    bool UseDirOnlyEntries() const { return Internal().UseDirOnlyEntries; }
    std::uint8_t TraceBits() const { return Internal().TraceBits; }
    TZAWriteOpts WriteOptions() const { return Internal().WriteOptions; }
    const std::string& ZipComment() const { return Internal().ZipComment; }
    const std::string& ZipFileName() const { return Internal().ZipFileName; }
    TZAOwnedObject* OwnedObject() const { return Internal().OwnedObject(); }

    void SetAddOptions(TZAAddOpts v) { Internal().AddOptions = v; }
    void SetWriteEncoding(std::uint8_t v) { Internal().WriteEncoding = v; }
    // Also the operation's own cancel code.
    void SetCancelRequest(std::int32_t v);
    void SetConfirmErase(bool v) { Internal().ConfirmErase = v; }
    // Stores the absolute value.
    void SetErrCode(std::int32_t v) { Internal().ErrCode = ZAAbsCode(v); }
    void SetErrMessage(const std::string& v) { Internal().ErrMessage = v; }
    void SetLastFullCode(std::int32_t v) { Internal().LastFullCode = v; }
    void SetPassword(const std::string& v) { Internal().Password = v; }
    void SetRootDir(const std::string& v) { Internal().RootDir = v; }
    void SetSFXCaption(const std::string& v) { Internal().SFXCaption = v; }
    void SetSFXCommandLine(const std::string& v) { Internal().SFXCommandLine = v; }
    void SetSFXDefaultDir(const std::string& v) { Internal().SFXDefaultDir = v; }
    void SetSFXIcon(const TZAIcon* v) { Internal().SetSFXIcon(v); }
    void SetSFXMessage(const std::string& v) { Internal().SFXMessage = v; }
    void SetSFXOptions(TZASFXOpts v) { Internal().SFXOptions = v; }
    void SetSFXOverwriteMode(TZAOvrOpts v) { Internal().SFXOverwriteMode = v; }
    void SetSFXRegFailPath(const std::string& v) { Internal().SFXRegFailPath = v; }
    void SetSpanOptions(TZASpanOpts v) { Internal().SpanOptions = v; }
    void SetSuccessCount(std::int32_t v) { Internal().SuccessCount = v; }
    void SetOwnedObject(std::unique_ptr<TZAOwnedObject> v) {
        Internal().SetOwnedObject(std::move(v));
    }

private:
    // ReportMessage; `mayRecord` false keeps it from recording the error.
    void reportMessage(std::int32_t code, const std::string& text, bool mayRecord);
    void removeTemporaries(bool success);

    std::unique_ptr<TProgDetails> details_;
};
