// TZAHost: what a work object may ask of the component that runs it. Every
// work object (TZACore and what derives from it) holds the host it was made
// for and goes through it for the options, the application's events and
// dialogs, the state of the run frame, the trace window, the lists of the
// running operation and the loaded archive. The component (the façade,
// zip/ZipArchiver.h) implements it; the work objects never include the
// façade, so the operations and the façade do not depend on each other in
// a circle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ArchiveLock.h"
#include "zip/ZADialogProvider.h"
#include "zip/ZAEvents.h"

class TCustomZipArchiver;
class TZACore;
class TZAInternal;
class TZALister;
class TZAPipeListImp;

// A writer's lock the running operation holds on an archive it rewrites,
// with the file's identity when it was locked (or last replaced by the
// operation).
struct TZAHeldLock {
    std::unique_ptr<platform::ArchiveLock> Lock;
    platform::FileIdentity Identity;
};

// The file specifications the running operation works with: its private
// copies of the application's lists, taken when the run frame starts.
struct TZAWorkSpecs {
    std::vector<std::string> Include;
    std::vector<std::string> Exclude;
    // Each line is one name, literally (no wildcards).
    bool ExactNames = false;
};

class TZAHost {
public:
    TZAHost(const TZAHost&) = delete;
    TZAHost& operator=(const TZAHost&) = delete;

    // --- Options and events ---------------------------------------------------
    // The option record the work objects read and fill.
    virtual TZAInternal& Internal() = 0;
    // The application's handlers, raised with Sender() as their sender.
    virtual const TZAEvents& Events() const = 0;
    virtual TCustomZipArchiver& Sender() = 0;

    // --- The run frame -----------------------------------------------------------
    virtual bool IsBusy() const = 0;
    // The running operation's work object, nullptr outside an operation.
    virtual TZACore* CurrentOperation() const = 0;
    // Sets or clears the cancel request of the running operation.
    virtual void SetCancel(bool value) = 0;
    // The next value of the component's stamp counter (a loaded directory's identity).
    virtual int NextStamp() = 0;
    // The writers' locks of the running operation; released when it ends.
    virtual std::vector<TZAHeldLock>& HeldLocks() = 0;

    // --- Dialogs -----------------------------------------------------------------------
    // Asks OnZipDialog, then the dialog box; the modal result (0 when
    // nothing could be shown). `msg` carries a handler's text or a password
    // entry back.
    virtual int ZipDialog(const std::string& title, std::string& msg, TMsgDlgButtons buttons,
                          std::uint32_t value) = 0;
    // Asks for a new password (twice); `response` gets the answering button.
    virtual std::string GetAddPassword(TMsgDlgBtn& response) = 0;
    // Asks for the password of an entry to extract.
    virtual std::string GetExtrPassword(TMsgDlgBtn& response) = 0;

    // --- Trace ---------------------------------------------------------------------------
    virtual bool TraceWindowConnected() const = 0;
    virtual void SendToTraceWindow(int code, const std::string& text) = 0;

    // --- What the running operation works on ---------------------------------------------
    virtual TZAWorkSpecs& WorkSpecs() = 0;
    // The streams the application handed in for the engine's next job.
    virtual TZAPipeListImp& Pipes() = 0;
    // The self-extractor settings of a loaded archive are not read (set, or
    // set by the application meanwhile).
    virtual bool NoReadAux() const = 0;

    // --- The loaded archive ---------------------------------------------------------------
    // The directory loader of the current archive, nullptr when none is named.
    virtual TZALister* Lister() const = 0;
    // Number of entries of the current directory (0 when inactive or unnamed).
    virtual int Count() const = 0;
    // True when the named archive's directory is loaded.
    virtual bool ArchiveLoaded() const = 0;
    // Loads the directory of `path` again when it is the loaded archive and
    // changed since it was loaded, or when `waited` (another writer held
    // it meanwhile); `reporter` traces the reload.
    virtual void ReloadIfChanged(const std::string& path, bool waited, TZACore& reporter) = 0;

protected:
    TZAHost() = default;
    ~TZAHost() = default;
};
