#include "platform/TempFiles.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace platform {
namespace {

constexpr std::string_view kUniquePart = "XXXXXX";

bool isFolder(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

void setError(std::string* error, int code) {
    if (error) {
        *error = std::strerror(code);
    }
}

// The template mkstemps and mkdtemp fill in, as a writable buffer.
std::vector<char> nameTemplate(std::string_view folder, std::string_view prefix,
                               std::string_view extension) {
    std::string name = folder.empty() ? TempFolder() : WithTrailingSlash(std::string(folder));
    name += prefix;
    name += kUniquePart;
    name += extension;
    return std::vector<char>(name.c_str(), name.c_str() + name.size() + 1);
}

}  // namespace

std::string WithTrailingSlash(std::string path) {
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    return path;
}

std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    if (dir && *dir && isFolder(dir)) {
        return WithTrailingSlash(dir);
    }
    return "/tmp/";
}

std::string CreateTempFile(std::string_view folder, std::string_view prefix,
                           std::string_view extension, std::string* error) {
    if (extension.empty()) {
        extension = ".tmp";
    }
    std::vector<char> name = nameTemplate(folder, prefix, extension);
    const int fd = ::mkostemps(name.data(), static_cast<int>(extension.size()), O_CLOEXEC);
    if (fd < 0) {
        setError(error, errno);
        return {};
    }
    ::close(fd);
    return name.data();
}

std::string MakeTempFileName(std::string_view folder, std::string_view prefix,
                             std::string_view extension, std::string* error) {
    std::string name = CreateTempFile(folder, prefix, extension, error);
    if (!name.empty()) {
        ::unlink(name.c_str());
    }
    return name;
}

std::string CreateTempFolder(std::string_view folder, std::string_view prefix, std::string* error) {
    std::vector<char> name = nameTemplate(folder, prefix, {});
    if (!::mkdtemp(name.data())) {
        setError(error, errno);
        return {};
    }
    return WithTrailingSlash(name.data());
}

bool RemoveTree(const std::string& path) {
    // Without trailing slashes a link to a folder names the link itself, so
    // the link is removed rather than the files it points at.
    std::string target = path;
    while (target.size() > 1 && target.back() == '/') {
        target.pop_back();
    }
    if (target.empty() || target == "/") {
        return false;
    }
    std::error_code ec;
    std::filesystem::remove_all(target, ec);
    // A folder that could only be partly emptied still exists.
    struct stat st;
    return ::lstat(target.c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace platform
