// The component's shared option record: every option property, the recorded
// error and the success count. One per component; every work object of the
// component reads and writes the same instance.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/ZATypes.h"

// The self-extractor's icon: the icon file's bytes.
struct TZAIcon {
    std::vector<std::uint8_t> Data;
    bool Empty() const { return Data.empty(); }
};

// Base of whatever object the record is asked to keep alive (OwnedObject).
class TZAOwnedObject {
public:
    virtual ~TZAOwnedObject() = default;
};

class TZAInternal {
public:
    TZAInternal() = default;
    TZAInternal(const TZAInternal&) = delete;
    TZAInternal& operator=(const TZAInternal&) = delete;

    std::int32_t AddCompLevel = 9;
    double AddFrom = 0.0;  // date-time: days since 1899-12-30
    TZAAddOpts AddOptions;
    TZAAddStoreExts AddStoreSuffixes = kDefaultAddStoreSuffixes;
    std::uint8_t ArchiveSettingsFlag = 0;
    std::int32_t CancelRequest = 0;
    bool ConfirmErase = false;
    std::string DLLDirectory;
    std::uint8_t WriteEncoding = 0;
    TZAEncodingOpts Encoding = zeoAuto;
    std::uint32_t NameCodePage = 0;
    std::int32_t ErrCode = 0;
    std::string ErrMessage;
    std::string ExtAddStoreSuffixes;
    std::int32_t LastFullCode = 0;
    // The message id of the warning the current archive loaded with, 0 when
    // it loaded cleanly (see TCustomZipArchiver::LoadWarning).
    std::int32_t LoadWarning = 0;
    std::string ExtrBaseDir;
    TZAExtrOpts ExtrOptions;
    std::uintptr_t AppWindow = 0;
    TZADeleteOpts HowToDelete = htdAllowUndo;
    std::uint32_t KeepFreeOnAllDisks = 0;
    std::uint32_t KeepFreeOnDisk1 = 0;
    std::int64_t MaxVolumeSize = 0;
    std::uint32_t MinFreeVolumeSize = 65536;
    bool NoReadAux = false;
    TZASkipAborts NoSkipping{stDupName, stReadError};
    std::string Password;
    std::uint32_t PasswordReqCount = 1;
    std::string RootDir;
    std::string SFXCaption;
    std::string SFXCommandLine;
    std::string SFXDefaultDir;
    std::string SFXMessage;
    TZASFXOpts SFXOptions;
    TZAOvrOpts SFXOverwriteMode = ovrAlways;
    std::string SFXPath;
    std::string SFXRegFailPath;
    TZASpanOpts SpanOptions;
    std::int32_t SuccessCount = 0;
    std::string TempDir;
    std::int64_t TotalToProcess = 0;
    bool Unattended = false;
    // A rewrite waits for another writer of its archive (message 187);
    // without waiting it fails at once (message 188).
    bool WaitForLock = true;
    bool UseDirOnlyEntries = false;
    std::uint8_t TraceBits = 0;  // bit 0 Verbose, bit 1 Trace
    TZAWriteOpts WriteOptions;
    std::string ZipComment;
    std::string ZipFileName;

    static constexpr std::uint8_t kVerboseBit = 1;
    static constexpr std::uint8_t kTraceBit = 2;
    bool Verbose() const { return (TraceBits & kVerboseBit) != 0; }
    bool Trace() const { return (TraceBits & kTraceBit) != 0; }
    // Where an operation's work files go: TempDir, else the process's own
    // work folder (removed with what a killed run left in it by the next run).
    std::string WorkFolder() const;

    // The icon, or nullptr. Setting stores a copy; an empty or missing icon frees it.
    const TZAIcon* SFXIcon() const { return sfxIcon_.get(); }
    void SetSFXIcon(const TZAIcon* icon);

    // The kept object, or nullptr. Replacing it frees the old one.
    TZAOwnedObject* OwnedObject() const { return ownedObject_.get(); }
    void SetOwnedObject(std::unique_ptr<TZAOwnedObject> obj) { ownedObject_ = std::move(obj); }

private:
    std::unique_ptr<TZAIcon> sfxIcon_;
    std::unique_ptr<TZAOwnedObject> ownedObject_;
};
