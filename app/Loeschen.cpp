#include "app/Loeschen.h"

#include <filesystem>

#include "platform/TempFiles.h"

bool DeleteFolder(const QString& path) {
    QString p = path;
    if (p.endsWith('/')) {
        p.chop(1);
    }
    if (p.isEmpty()) {
        return false;  // was "/" or nothing: never delete the root
    }
    const std::string native = p.toStdString();
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(native, ec))) {
        return false;
    }
    return platform::RemoveTree(native) && !std::filesystem::exists(native, ec);
}
