// TZAFileOpr: operations that turn one archive file into another without
// the compression engine: a self-extracting program from an archive and
// back, an empty self-extracting program, one archive from a multi-part set
// and a multi-part set from one archive. TZAModOpr (the modifying
// operations) builds on it.
//
// A self-extracting program is the stub (a small Windows program), its
// configuration block (sfx/core/sfxblock.h) and the archive, whose offsets
// count from the start of the program.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "zip/ZACore.h"
#include "zip/ZAInternal.h"

class TZALister;
class TZAZipFile;

// The self-extractor settings the configuration block carries.
struct TZASFXSettings {
    std::string Caption;
    std::string CommandLine;
    std::string DefaultDir;
    std::string Message;  // may start with "1|" (OK/Cancel) or "2|" (Yes/No)
    std::string RegFailPath;
    TZASFXOpts Options;
    TZAOvrOpts Overwrite = ovrAlways;
};

// Builds the configuration block: header, string table (deflated with
// `deflate` when the table is longer than 100 bytes and that makes it
// smaller), padding. Strings are taken as UTF-8 when valid, else converted
// from Windows-1252. Raises message 138 for a table over 4000 bytes.
using TZADeflateFn =
    std::function<bool(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out)>;
std::vector<std::uint8_t> BuildSFXBlock(const TZASFXSettings& settings,
                                        const TZADeflateFn& deflate);

// Raw deflate (RFC 1951) of a block in memory with zlib; false on failure.
bool DeflateRaw(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out);

// Puts the part settings of the operation (SpanOptions, MaxVolumeSize,
// KeepFreeOnDisk1, MinFreeVolumeSize) back when it goes out of scope, after a set was written
// with others.
class TZAPartSettingsKeeper {
public:
    explicit TZAPartSettingsKeeper(TZAInternal& in)
        : in_(in),
          span_(in.SpanOptions),
          max_(in.MaxVolumeSize),
          keep_(in.KeepFreeOnDisk1),
          minFree_(in.MinFreeVolumeSize) {}
    ~TZAPartSettingsKeeper() {
        in_.SpanOptions = span_;
        in_.MaxVolumeSize = max_;
        in_.KeepFreeOnDisk1 = keep_;
        in_.MinFreeVolumeSize = minFree_;
    }
    TZAPartSettingsKeeper(const TZAPartSettingsKeeper&) = delete;
    TZAPartSettingsKeeper& operator=(const TZAPartSettingsKeeper&) = delete;

private:
    TZAInternal& in_;
    TZASpanOpts span_;
    std::int64_t max_;
    std::uint32_t keep_;
    std::uint32_t minFree_;
};

class TZAFileOpr : public TZACore {
public:
    explicit TZAFileOpr(TZAHost& host);
    ~TZAFileOpr() override;

    // Writes a self-extracting copy of `archive` (the lister's current one
    // when null) as `destination` (default: the archive's name with ".exe").
    // 0 or a negative code.
    std::int32_t ConvertToSFX(const std::string& destination, TZAZipFile* archive = nullptr);
    // Writes a plain archive from a self-extracting one (the lister's
    // current one when null) as `destination` (default: the same base name
    // with ".zip"), every entry kept with its offsets counted from the start
    // of the new file; the lister takes the new name. 0 or a negative code.
    std::int32_t ConvertToZIP(const std::string& destination, TZAZipFile* archive = nullptr);
    // A stub with its block and an empty end record, as a new file.
    std::int32_t WriteEmptySFX(const std::string& path);
    // Stub holds the stub and the configuration block: 0 or a negative code.
    std::int32_t PrepareStub();
    // Loads the stub without its version into Stub; raises message 137.
    bool LoadStub();
    // Writes the archive `source` (a multi-part set or a single file) as one
    // archive at `destination` (a new temporary name when it has no file
    // name part). The result goes to `destination`, cleared on failure.
    std::int32_t JoinToTemp(const std::string& source, std::string& destination, bool keepParts);
    // Writes `source` as a set of parts at `target` (span) or as one file.
    std::int32_t CopyToSpanned(const std::string& source, const std::string& target, bool span);
    // Writes `archive` (the lister's current one when null) as a
    // self-extracting set: the parts named after `destination` with ".zip"
    // and the stub, with the set's central directory, as `destination`
    // (default: the archive's name with ".exe"). When the archive fits into
    // one part (or no part size is set) a plain self-extracting program is
    // written instead. 0 or a negative code.
    std::int32_t ConvertToSpanSFX(const std::string& destination, TZAZipFile* archive = nullptr);
    // The bytes the stub of a spanned self-extracting set needs: the stub
    // and block, the central records with their kept extra blocks, the end
    // records.
    std::uint32_t DetachedSize(TZAZipFile& archive);
    // Writes the set `setName`'s self-extracting program as the new file
    // `program`: the stub and block, then the set's central directory
    // (offsets and part numbers as in the set) and end records on a part
    // numbered one after the set's last. 0 or a negative code.
    std::int32_t WriteDetachedStub(const std::string& setName, const std::string& program);
    // Writes the temporary archive of a spanning add as the set ZipFileName
    // (a spanned self-extracting set for an ".exe") and deletes it. False
    // (with SuccessCount 0) on failure.
    bool WriteSpanned(const std::string& temporaryArchive, bool hadEntries);
    // Writes the current archive as a multi-part set named `target` (the
    // archive's own name when empty): the set is written in a temporary
    // folder and its parts moved into place, the part under `target` last,
    // in one rename. 0 or a negative code.
    std::int32_t SpanTo(const std::string& target);
    // Writes the current archive (usually a multi-part set) as the single
    // archive `target`, through a temporary file renamed into place.
    std::int32_t JoinTo(const std::string& target);

    // The in-memory deflate of the operation (for the string table).
    virtual bool DeflateMemory(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out);

    // The component's lister; raises message 133 when there is none.
    TZALister& Lister() const;
    // The settings of the component for the configuration block.
    TZASFXSettings SFXSettings() const;

    bool SpanSFX = false;
    std::vector<std::uint8_t> Stub;
    // The version of the loaded stub (0 when none).
    std::uint32_t StubVersion = 0;

protected:
    // Opens and loads `name` into a new archive object owned by the caller
    // (a self-extracting set through its program too).
    std::unique_ptr<TZAZipFile> OpenArchive(const std::string& name);
    // `archive`, or the lister's current archive opened into `opened`.
    TZAZipFile& ArchiveOrCurrent(TZAZipFile* archive, std::unique_ptr<TZAZipFile>& opened);
    // The lister takes `name` as the current archive, reloaded at the end.
    void MakeCurrent(const std::string& name);
    // Writes a copy of `source` to `target`, with `stub` in front when not
    // empty; through a temporary file when the target exists. A target that
    // is the last part of a multi-part set is refused (message 185): its
    // other parts would be left without their directory. 0 or a code.
    std::int32_t WriteConverted(TZAZipFile& source, const std::string& target,
                                std::vector<std::uint8_t> stub);
    // Writes every entry of `source` as the multi-part set `name` without
    // ever leaving a partial set under its names: the parts (and, when
    // `program` is given, the set's self-extracting program, see
    // WriteDetachedStub) are written and synced in a temporary folder first,
    // then renamed into place, the part with the end records last but the
    // program; parts of an older set under that name that the new one lacks
    // are removed afterwards. A cancel before the renames leaves every old
    // file as it was, and nothing of the new set. 0 or a negative code;
    // raises the cancel.
    std::int32_t WriteSetStaged(TZAZipFile& source, const std::string& name,
                                const std::string& program = {});

    // Files of an old set (or an old single archive) that a new set is to
    // replace, by identity: a file still the same after the new set is in
    // place was not written over, and would leave the name ambiguous.
    struct TZAOldPart {
        std::string Path;
        std::uint64_t Device = 0;
        std::uint64_t Inode = 0;
    };
    std::vector<TZAOldPart> OldParts;
    // Notes `path` (when it exists) as an old part.
    void NoteOldPart(const std::string& path);
    // Notes every part of the archive or set `name` (and the program of a
    // self-extracting set, after its parts).
    void NoteOldParts(const std::string& name);
    // Removes the noted parts that are still the files they were (to the
    // trash under htdAllowUndo), and forgets the notes.
    void RemoveUnreplacedOldParts();

private:
    TZALister* lister_;
};
