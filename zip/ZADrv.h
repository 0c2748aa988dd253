// TZAWorkDrive: what the component knows about the drive (file system) of
// the current part of an archive. Linux has no drive letters: the letter is
// always 0, no drive is a floppy drive, no volume label is read or set, and
// sizes come from statvfs on the folder of the path. The prompting and
// labelling paths of the multi-part code therefore never trigger here.
#pragma once

#include <cstdint>
#include <string>

#include "zip/ZACore.h"

class TZAWorkDrive : public TZACore {
public:
    using TZACore::TZACore;

    // Takes the drive of `path`; a new root resets what was known.
    void SetPath(const std::string& path);
    // Re-reads label and sizes; true when the drive is ready.
    bool Refresh(bool acceptGeneralFailure = false);
    // Labels can only be set on floppy drives.
    bool SetVolumeLabel(const std::string& label);

    const std::string& VolumeLabel() const { return volumeLabel_; }
    bool LabelLocked() const { return labelLocked_; }
    std::uint32_t VolumeSerial() const { return volumeSerial_; }
    bool IsFloppy() const { return isFloppy_; }
    char DriveLetter() const { return driveLetter_; }
    const std::string& Root() const { return root_; }
    std::uint32_t DriveType() const { return driveType_; }
    std::uint32_t BytesPerSector() const { return bytesPerSector_; }
    std::uint32_t SectorsPerCluster() const { return sectorsPerCluster_; }
    std::uint32_t FreeClusters() const { return freeClusters_; }
    std::uint32_t TotalClusters() const { return totalClusters_; }
    std::int64_t TotalSize() const { return totalSize_; }
    std::int64_t FreeSpace() const { return freeSpace_; }

private:
    void Reset();
    void QuerySpace();

    std::string volumeLabel_;
    bool labelLocked_ = true;
    std::uint32_t volumeSerial_ = 0;
    bool isFloppy_ = false;
    char driveLetter_ = 0;
    std::string root_;
    std::uint32_t driveType_ = 0;
    std::string lastRoot_;
    std::uint32_t freeClusters_ = 0;
    std::uint32_t bytesPerSector_ = 512;
    std::uint32_t sectorsPerCluster_ = 4;
    std::int64_t totalSize_ = -1;
    std::int64_t freeSpace_ = -1;
    std::uint32_t totalClusters_ = 0;
    std::string folder_;  // where statvfs looks
};
