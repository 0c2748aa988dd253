// TZADLLOpr: the work object of an add, extract or test job. It describes the
// job to the compression engine in one job record, runs it through the
// loader and answers every callback of the engine with the component's
// options and events. TZECallback reads and answers one callback record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/ZEJob.h"
#include "zip/ZAModOpr.h"
#include "zip/ZAPipes.h"

class TZAStream;

class TZECallback {
public:
    explicit TZECallback(bool utf8) : utf8_(utf8) {}

    void Bind(ZECallbackRec* rec) { rec_ = rec; }
    int Action() const { return rec_->Action & 0x3F; }
    std::int32_t Arg1() const { return rec_->Arg1; }
    std::int32_t Arg2() const { return rec_->Arg2; }
    std::int32_t Arg3() const { return rec_->Arg3; }
    std::int64_t Size() const { return rec_->Size; }
    std::int64_t Written() const { return rec_->Written; }
    bool IsAdd() const { return rec_->IsAdd != 0; }
    // The texts in the component's encoding.
    std::string Text() const { return ReadText(rec_->Text); }
    std::string Text2() const { return ReadText(rec_->Text2); }
    void SetArg1(std::int32_t v) { rec_->Arg1 = v; }
    void SetArg2(std::int32_t v) { rec_->Arg2 = v; }
    void SetArg3(std::int32_t v) { rec_->Arg3 = v; }
    // An 8-bit text as it is (encoding flag 0, arg 1 := its length).
    void SetAnsiText(const std::string& s);
    // A text in the component's encoding; flagged as UTF-8 when it needs it.
    void SetText(const std::string& s);
    // Raw bytes (at most 2048; arg 1 := their number).
    void SetData(const std::uint8_t* bytes, std::size_t n);
    // Copies min(n, arg 1) bytes of text 2 into `buffer`; returns how many.
    std::size_t CopyText2(std::uint8_t* buffer, std::size_t n) const;

private:
    std::string ReadText(const void* p) const;
    void Reply(const void* data, std::size_t n);

    ZECallbackRec* rec_ = nullptr;
    bool utf8_;
    std::unique_ptr<std::uint8_t[]> replyBuffer_;
    std::size_t replySize_ = 0;
};

class TZADLLOpr : public TZAModOpr {
public:
    explicit TZADLLOpr(TZAHost& host);
    ~TZADLLOpr() override;

    // Runs an add job with the component's settings (errors are shown, not thrown).
    void Add();
    // Runs an extract job, or a test job with ExtrTest.
    void Extract();
    // Keeps the engine loaded for the component (DLL_Load), or lets it go.
    void SetEngineLoaded(bool on);
    // Deflates (method 1 in) or stores `size` bytes of `input` into `output`
    // through the engine: 0, or a negative code.
    std::int32_t MemoryJob(TZAStream* output, TZAStream* input, std::uint32_t& crc,
                           std::int32_t& method, std::int64_t size);

    void SetCancel(std::int32_t code) override;
    void Finish(bool success) override;

    // The engine's entry points into the component.
    static std::int32_t EngineCallback(ZECallbackRec* rec);
    static std::int32_t EngineStream(ZEStreamRec* rec);

    // --- Fields -----------------------------------------------------------
    std::uint32_t StreamAttrs = 0;
    std::uint32_t StreamDate = 0;
    TZECallback Callback;
    std::int32_t AbortHandle = 0;
    std::string ArchiveName;
    TZAPipeListImp Pipes;
    TZAStream* InStream = nullptr;  // borrowed

    // The flag word of the job record for the current options.
    std::uint32_t AddFlags() const;
    std::uint32_t ExtractFlags() const;

private:
    std::unique_ptr<ZEJobRec> BuildJob(bool isAdd);
    // ZE_Exec through the loader; negative results raise EZipArchiver.
    std::int32_t RunJob(ZEJobRec& job);
    void PreparePipes();
    template <class Rec>
    static std::int32_t Enter(Rec* rec, std::uint32_t check,
                              std::int32_t (TZADLLOpr::*handler)(Rec*));
    std::int32_t OnEngineCallback(ZECallbackRec* rec);
    std::int32_t Dispatch();
    std::int32_t OnMessageAction();
    std::int32_t OnPasswordAction();
    std::int32_t OnLevelExtraAction();
    std::int32_t OnDataRequest();
    std::int32_t OnEngineStream(ZEStreamRec* rec);
    bool AskOnStream(TZAStreamOp op, const ZEStreamRec* rec, TZAStream*& strm, TZASStats& stat);
    TZAPipe* PipeOf(const ZEStreamRec* rec);
    std::int32_t StreamIdentify(ZEStreamRec* rec);
    std::int32_t StreamOpen(ZEStreamRec* rec);
    std::int32_t StreamClose(ZEStreamRec* rec);
    // The archive path must take a new file or an update of the old one.
    bool CanWrite(const std::string& path) const;
    void MarkForReload();

    // --- The archive file around the job (ZADllOprSets.cpp) -------------------
    // The component's archive is a loaded multi-part set.
    bool ArchiveIsSet();
    // Extract from a multi-part set: ArchiveName := the set joined into a
    // temporary archive; false (the error shown) when the join failed.
    bool JoinSetForEngine();
    // Removes the joined or spanned temporary archive once the job is done.
    void RemoveTemporaryArchive();
    // Spanned add (also any add to a set): ArchiveName := a temporary
    // archive (a copy of the old one when it has entries), and the old parts
    // are noted (for a self-extracting set its program too); false (the
    // error shown) when the copy failed.
    bool PrepareSpannedAdd();
    // Writes the temporary archive out as the set under ZipFileName() (a
    // self-extracting set for an ".exe") and removes the old parts that the
    // new set did not replace. Raises on failure or cancel, with
    // SuccessCount 0.
    void WriteSpannedAdd();
    // A new ".exe" archive: the stub and an empty archive are written first.
    // True when it did so; raises message 139 when that failed.
    bool PrepareNewSFX();

    // The naming of an old set written again without spanning being asked
    // for (0: take SpanOptions as they are).
    std::uint8_t OldNaming = 0;
};
