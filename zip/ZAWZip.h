// TZAWorkZip: one logical archive that may consist of several part files.
// It names the parts, opens the part a read needs, reads records across part
// boundaries (a field is never split between parts, consecutive fields may
// be), and splits writes between parts (a record -- a negative length -- is
// never split; with kRecordMustFit it is not even started on a part where it
// does not fit, and the write answers kNewPartStarted instead).
//
// Part names: numbered ("name001.zip", "name002.zip", ...) or compatible
// ("name.z01", "name.z02", ..., the last part "name.zip"); both work in any
// folder. The floppy-disk paths (volume labels "PKBACK#001", disk prompts,
// wiping a disk) are kept for completeness but never trigger on Linux, where
// no drive is a floppy drive.
//
// Writing a set: BeginMultiPartWrite(name, expected size), then Write (each
// part is created on demand, named after the scheme), then FinishParts. The
// classes of the central directory and the end records derive from this one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "zip/ZADialogProvider.h"
#include "zip/ZADrv.h"
#include "zip/ZAWorkFile.h"

class TZAZRec;

// Write result: the record did not fit and a new part was started; write the
// record again (possibly with changed fields).
inline constexpr std::int32_t kNewPartStarted = -10999;

// Naming schemes of the parts.
inline constexpr std::uint8_t kSchemeUnknown = 0;
inline constexpr std::uint8_t kSchemeVolumeLabels = 1;
inline constexpr std::uint8_t kSchemeNumbered = 2;
inline constexpr std::uint8_t kSchemeCompatible = 3;

// What a file begins with (StartKind).
inline constexpr std::uint8_t kStartUnknown = 0;
inline constexpr std::uint8_t kStartLocalHeader = 1;
inline constexpr std::uint8_t kStartMultiPart = 2;
inline constexpr std::uint8_t kStartExecutable = 3;

// Answers of CheckDiskStatus (modal results).
inline constexpr int kDiskOk = 1;
inline constexpr int kDiskCancel = 2;
inline constexpr int kDiskYes = 6;
inline constexpr int kDiskNo = 7;

class TZAWorkZip : public TZAWorkFile {
public:
    explicit TZAWorkZip(TZAHost& host, TZAWorkBin* owner = nullptr);
    ~TZAWorkZip() override;

    // ---- reading and writing across parts --------------------------------------
    std::int32_t Read(void* buffer, std::int32_t length) override;
    std::int32_t ReadGather(void* buffer, std::span<const int> widths, int last) override;
    std::int32_t Write(const void* buffer, std::int32_t length) override;
    std::int32_t WriteGather(const void* buffer, std::span<const int> widths, int last) override;
    // Copies the file and part state of another archive object.
    void AssignFrom(const TZAWorkFile& other) override;

    // ---- part names ---------------------------------------------------------------
    // `name` without its extension (and 3 more characters when `replace`) +
    // n as three digits + the extension. Raises message 179 above part 999.
    std::string PartName(const std::string& name, int n, bool replace) const;
    // ".zip" for the last part (DiskNumber = DiskCount - 1), else ".z01" ...
    std::string CompatibleName(const std::string& name) const;
    // "PKBACK#" + n as three digits.
    static std::string VolumeLabelName(int n);
    // The name of part DiskNumber under the current scheme.
    std::string CurrentPartName() const;

    // ---- parts ------------------------------------------------------------------------
    // Makes sure the right disk is present; in a folder it only checks for
    // cancellation (no prompt is ever shown there).
    void AskForDisk(bool forWriting, bool acceptUnformatted);
    // Opens part n for reading; raises message 123 when it is missing.
    void OpenPartForReading(int n);
    // Sets FileName to the file of part DiskNumber; false when not found.
    bool FindPartFile();
    // Creates the next output part: 0 done, 1 try again with another disk.
    int OpenNextOutputPart();
    // 1 OK, 6 Yes, 7 No, 2 Cancel: may `name` be written as part `partNumber`?
    int CheckDiskStatus(const std::string& name, int partNumber);
    // Erases a floppy disk: 0, or -1, -2, -3 (always -3 here: no floppies).
    int WipeDisk(const std::string& label);
    // Closes the last part and gives it the requested name where the
    // scheme asks for that: 0, or -1 when the part file is missing.
    int FinishParts();
    // Starts writing a set named `name`; `expectedSize` estimates its bytes.
    void BeginMultiPartWrite(const std::string& name, std::int64_t expectedSize);
    // True when the open file is still the one whose information was taken.
    bool SameFile(bool writing);
    void SetLogicalSize(std::int64_t size) { LogicalSize = size; }
    void TakeFileInformation() { fileInfo_ = FileInformation(); }
    // The index of a live (not deleted) entry other than `self` named
    // `name`, or -1; entries ask this before taking a new name. There is no
    // directory at this level: the central-directory layer answers.
    virtual std::int32_t FindLiveDuplicate(const std::string& name, const TZAZRec& self);
    void ForgetFileInformation() { fileInfo_ = {}; }

    TZAWorkDrive& Drive() { return *drive_; }
    bool MultiPartMode() const { return multiPartMode_; }
    void SetMultiPartMode(bool on) { multiPartMode_ = on; }
    const std::string& RequestedName() const { return requestedName_; }
    void SetRequestedName(const std::string& name) { requestedName_ = name; }
    const std::string& OpenName() const { return openName_; }
    std::int64_t SpaceLeft() const { return spaceLeft_; }
    std::int32_t WrittenOnPart() const { return writtenOnPart_; }
    TZAZipDiskStatus DiskStatus() const { return diskStatus_; }
    // Numbered part names replace the last three characters of the requested
    // name (which is itself a numbered part name).
    void SetReplaceDigits(bool on) { replaceDigits_ = on; }

    // ---- state shared with the end-record and central-directory layers ---------------
    std::int32_t DiskNumber = 0;   // current part, 0-based; -1 = the last part
    std::int64_t LogicalSize = 0;  // end of the archive data / size to expect
    std::uint32_t Info = 0;        // state bits of the archive object
    std::int64_t SizeAtOpen = 0;   // file size seen by the end-record search
    std::uint8_t StartKind = kStartUnknown;
    std::int32_t DiskCount = 0;
    std::uint8_t DiskAction = 0;  // last TZADiskAction answered
    std::uint8_t NamingScheme = kSchemeUnknown;

    // Info bits used by this layer.
    static constexpr std::uint32_t ziDiskAborted = 0x80;

protected:
    // Closes the current output part and moves on to the next part.
    void EndOutputPart();
    // A dialog through the component: the modal result, 0 when none was shown.
    int AskUser(const std::string& text, TMsgDlgButtons buttons, std::uint32_t kind,
                const std::string& title = {});

private:
    std::int32_t ReadAcrossParts(void* buffer, std::int32_t length);
    std::int32_t WriteAcrossParts(const void* buffer, std::int32_t length);

    std::unique_ptr<TZAWorkDrive> drive_;
    std::int64_t spaceLeft_ = 0;
    std::string openName_;
    std::string requestedName_;
    std::int32_t writtenOnPart_ = 0;
    bool multiPartMode_ = false;
    bool newDiskNeeded_ = false;
    bool yesToAll_ = false;
    bool replaceDigits_ = false;
    TZAZipDiskStatus diskStatus_;
    TZAFileInformation fileInfo_;
};
