#include "zip/ZADrv.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {
// The nearest existing folder of `path` (the path may name a file that is
// still to be created).
std::string ExistingFolder(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), ec);
    if (ec) {
        return "/";
    }
    while (!p.empty()) {
        if (fs::is_directory(p, ec)) {
            return p.string();
        }
        if (p == p.parent_path()) {
            break;
        }
        p = p.parent_path();
    }
    return "/";
}
}  // namespace

void TZAWorkDrive::Reset() {
    volumeLabel_.clear();
    labelLocked_ = true;
    volumeSerial_ = 0;
    isFloppy_ = false;
    driveLetter_ = 0;
    driveType_ = 0;
    freeClusters_ = 0;
    bytesPerSector_ = 512;
    sectorsPerCluster_ = 4;
    totalSize_ = -1;
    freeSpace_ = -1;
    totalClusters_ = 0;
}

void TZAWorkDrive::SetPath(const std::string& path) {
    // Every path shares the root "/": the space values belong to the folder,
    // so it is remembered for each new path.
    folder_ = ExistingFolder(path);
    const std::string root = "/";
    if (root == lastRoot_) {
        return;
    }
    Reset();
    root_ = lastRoot_ = root;
}

void TZAWorkDrive::QuerySpace() {
    struct statvfs sv {};
    if (::statvfs(folder_.empty() ? "/" : folder_.c_str(), &sv) != 0) {
        totalSize_ = freeSpace_ = -1;
        return;
    }
    const std::uint64_t frsize = sv.f_frsize != 0 ? sv.f_frsize : sv.f_bsize;
    bytesPerSector_ = 512;
    sectorsPerCluster_ = static_cast<std::uint32_t>(std::max<std::uint64_t>(1, frsize / 512));
    freeClusters_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(sv.f_bavail, UINT32_MAX));
    totalClusters_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(sv.f_blocks, UINT32_MAX));
    freeSpace_ = static_cast<std::int64_t>(sv.f_bavail * frsize);
    totalSize_ = static_cast<std::int64_t>(sv.f_blocks * frsize);
}

bool TZAWorkDrive::Refresh(bool /*acceptGeneralFailure*/) {
    totalSize_ = freeSpace_ = 0;
    volumeLabel_.clear();
    volumeSerial_ = 0;
    labelLocked_ = false;
    QuerySpace();
    // Without a drive letter the drive always counts as ready.
    return true;
}

bool TZAWorkDrive::SetVolumeLabel(const std::string& /*label*/) {
    // Only floppy drives carry the labels of a multi-part set.
    return false;
}
