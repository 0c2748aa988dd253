// The component's events: the handlers the application installs to follow
// an operation and to answer its questions. The component (the façade)
// carries them as public fields; the work objects reach them through the
// host (zip/ZAHost.h) and raise them with the host's Sender(), so that a
// handler always sees the component it was installed on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zip/ZADialogProvider.h"
#include "zip/ZATypes.h"

class TCustomZipArchiver;
class TZADirEntry;
class TZAProgressDetails;
class TZAStream;

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

// The handlers; an empty one is not raised.
struct TZAEvents {
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
};
