#include "zip/ZAUtils.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "platform/Trash.h"

std::string ExtractFilePath(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ExtractFileName(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtractFileExt(std::string_view path) {
    const auto dot = path.find_last_of("./");
    if (dot == std::string_view::npos || path[dot] != '.') {
        return {};
    }
    return std::string(path.substr(dot));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
    const auto dot = path.find_last_of("./");
    std::string base(dot == std::string_view::npos || path[dot] != '.' ? path
                                                                       : path.substr(0, dot));
    return base + std::string(ext);
}

std::string UpperCaseAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    return UpperCaseAscii(a) == UpperCaseAscii(b);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DeleteFileOrTrash(const std::string& path, bool permanent, std::string* error) {
    if (!permanent) {
        const platform::TrashResult trashed = platform::MoveToTrash(path);
        if (!trashed && error != nullptr) {
            *error = trashed.error;
        }
        return trashed.ok;
    }
    std::error_code ec;
    const bool removed = std::filesystem::remove(path, ec) && !ec;
    if (!removed && error != nullptr) {
        *error = ec ? ec.message() : "not found";
    }
    return removed;
}
