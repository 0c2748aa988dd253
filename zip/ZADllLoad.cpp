#include "zip/ZADllLoad.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/TempFiles.h"
#include "zip/ZACore.h"
#include "zip/ZADllOpr.h"
#include "zip/ZAXcpt.h"

// Defined by the object library that carries the packed engine (linked into the
// program and the tests); absent in programs that link none.
extern "C" __attribute__((weak)) const std::uint8_t* TarvikEmbeddedEngine(std::size_t* size);

std::span<const std::uint8_t> EmbeddedEngineResource() {
    if (TarvikEmbeddedEngine == nullptr)
        return {};
    std::size_t size = 0;
    const std::uint8_t* data = TarvikEmbeddedEngine(&size);
    return {data, size};
}

namespace {

namespace fs = std::filesystem;

constexpr int kMinPrivVersion = ZE_PRIV_VERSION;  // 1900111
constexpr std::size_t kMinResource = 50000;
// The packed release engine is about 100 KB; builds with sanitizers make it
// several times larger, so the upper bound leaves room for them.
constexpr std::size_t kMaxResource = 16 * 1024 * 1024;
constexpr std::size_t kResourceHeader = 4 + 6;

std::uint32_t ReadLE32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::string ProgramFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

bool HasEngineExtension(const std::string& path) {
    const std::string ext = fs::path(path).extension().string();
    return ext.size() == 3 && ext[0] == '.' && (ext[1] | 0x20) == 's' && (ext[2] | 0x20) == 'o';
}

// A GUID in its registry text form, from the system's random source.
std::string NewGuidText() {
    std::random_device rd;
    std::array<std::uint8_t, 16> b{};
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rd());
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);
    char text[40];
    std::snprintf(text, sizeof text,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

// Inflates the packed library into a new file; false (file removed) on any failure.
bool UnpackTo(const std::string& path, std::span<const std::uint8_t> packed,
              std::uint32_t expectedSize) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
    if (fd < 0)
        return false;
    z_stream zs{};
    bool ok = inflateInit2(&zs, MAX_WBITS) == Z_OK;  // zlib data: checked by Adler-32
    std::uint64_t written = 0;
    if (ok) {
        zs.next_in = const_cast<Bytef*>(packed.data());
        zs.avail_in = static_cast<uInt>(packed.size());
        std::array<std::uint8_t, 65536> out{};
        int rc = Z_OK;
        while (ok && rc != Z_STREAM_END) {
            zs.next_out = out.data();
            zs.avail_out = out.size();
            rc = inflate(&zs, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) {
                ok = false;
                break;
            }
            const std::size_t n = out.size() - zs.avail_out;
            if (n == 0 && rc != Z_STREAM_END && zs.avail_in == 0) {
                ok = false;  // truncated data
                break;
            }
            written += n;
            ok = written <= expectedSize && ::write(fd, out.data(), n) == static_cast<ssize_t>(n);
        }
        inflateEnd(&zs);
    }
    ok = ok && written == expectedSize;
    ok = (::close(fd) == 0) && ok;
    if (!ok)
        ::unlink(path.c_str());
    return ok;
}

}  // namespace

TZADLLLoader& TZADLLLoader::Instance() {
    static TZADLLLoader loader;
    return loader;
}

TZADLLLoader::~TZADLLLoader() {
    UnloadLocked();
    if (!extractedPath_.empty() && RemoveTempOnUnload)
        ::unlink(extractedPath_.c_str());
}

void TZADLLLoader::SetEmbeddedResource(std::optional<std::span<const std::uint8_t>> res) {
    std::lock_guard guard(lock_);
    resourceOverride_ = res;
    embeddedVersion_ = -99;
}

std::span<const std::uint8_t> TZADLLLoader::Resource() const {
    return resourceOverride_ ? *resourceOverride_ : EmbeddedEngineResource();
}

TZADLLLoader::User* TZADLLLoader::FindUser(const TZAHost& host) {
    for (auto& u : users_)
        if (u.component == &host)
            return &u;
    return nullptr;
}

bool TZADLLLoader::AnyUser() const {
    return std::any_of(users_.begin(), users_.end(),
                       [](const User& u) { return u.component != nullptr && u.count > 0; });
}

int TZADLLLoader::UseCount(const TZAHost& host) {
    std::lock_guard guard(lock_);
    const User* u = FindUser(host);
    return u ? u->count : 0;
}

bool TZADLLLoader::IsUser(const TZAHost& host) {
    return UseCount(host) > 0;
}

void TZADLLLoader::ClearEntryPoints() {
    abortFn_ = nullptr;
    bannerFn_ = nullptr;
    execFn_ = nullptr;
    nameFn_ = nullptr;
    pathFn_ = nullptr;
    privVersionFn_ = nullptr;
    versionFn_ = nullptr;
}

void TZADLLLoader::FreeLibrary() {
    if (module_ != nullptr)
        ::dlclose(module_);
    module_ = nullptr;
    ClearEntryPoints();
}

void TZADLLLoader::UnloadLocked() {
    FreeLibrary();
    libraryName_.clear();
    if (RemoveTempOnUnload && !extractedPath_.empty()) {
        ::unlink(extractedPath_.c_str());
        extractedPath_.clear();
    }
}

int TZADLLLoader::Unload() {
    std::lock_guard guard(lock_);
    UnloadLocked();
    return version_;
}

int TZADLLLoader::LoadFile(TZACore& op, const std::string& path, bool mustSucceed) {
    FreeLibrary();
    lastError_.clear();
    triedPath_ = path;
    version_ = 0;
    privVersion_ = 0;
    module_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr) {
        const char* err = ::dlerror();
        lastError_ = err ? err : "unknown error";
        if (!mustSucceed)
            return 0;
        if (op.Verbose())
            op.ReportMessage(0, MessageTextFmt(10, {std::int64_t{-1}, lastError_, path}));
        throw EZipArchiver(ZA_CODE(19), lastError_ + "\r\n" + path);
    }
    auto sym = [this](const char* name) { return ::dlsym(module_, name); };
    execFn_ = reinterpret_cast<ZE_ExecFn>(sym("ZE_Exec"));
    if (execFn_)
        versionFn_ = reinterpret_cast<ZE_VersionFn>(sym("ZE_Version"));
    if (versionFn_)
        privVersionFn_ = reinterpret_cast<ZE_VersionFn>(sym("ZE_PrivVersion"));
    if (privVersionFn_)
        abortFn_ = reinterpret_cast<ZE_AbortFn>(sym("ZE_Abort"));
    if (abortFn_)
        nameFn_ = reinterpret_cast<ZE_NameFn>(sym("ZE_Name"));
    if (nameFn_)
        bannerFn_ = reinterpret_cast<ZE_BannerFn>(sym("ZE_Banner"));
    if (bannerFn_)
        pathFn_ = sym("ZE_Path");
    std::string name = fs::path(path).filename().string();
    if (bannerFn_) {
        privVersion_ = privVersionFn_();
        version_ = versionFn_();
        char buffer[261] = {};
        nameFn_(buffer, 260, 0);
        buffer[260] = '\0';
        if (buffer[0] != '\0')
            name = buffer;
        const char* banner = bannerFn_();
        banner_ = banner ? banner : "";
    }
    if (version_ != ZE_INTERFACE_VERSION || privVersion_ < kMinPrivVersion) {
        FreeLibrary();
        version_ = 0;
        privVersion_ = 0;
        if (!mustSucceed)
            return 0;
        if (op.Verbose())
            op.ReportMessage(0, MessageTextFmt(18, {name}));
        throw EZipArchiver(ZA_CODE(18), name);
    }
    libraryName_ = name;
    return privVersion_;
}

int TZADLLLoader::ProbeEmbedded(TZACore& op, bool unpack) {
    const auto res = Resource();
    if (res.size() < kMinResource || res.size() >= kMaxResource || res[4] != 'Z' || res[5] != 'R') {
        embeddedVersion_ = -1;
        return -1;
    }
    embeddedVersion_ = static_cast<int>(ReadLE32(res.data()));
    if (!unpack || embeddedVersion_ < kMinPrivVersion)
        return embeddedVersion_;
    if (!extractedPath_.empty() && fs::exists(extractedPath_))
        return embeddedVersion_;
    std::string folder = op.WorkFolder();
    if (folder.empty())
        throw EZipArchiver(ZA_CODE(173));
    folder = platform::WithTrailingSlash(folder);
    std::string path = folder + NewGuidText() + ".so";
    if (fs::exists(path))
        path = platform::MakeTempFileName(folder, "ZE_", ".so");
    if (path.empty())
        throw EZipArchiver(ZA_CODE(173));
    if (!UnpackTo(path, res.subspan(kResourceHeader), ReadLE32(res.data() + 6))) {
        embeddedVersion_ = 0;
        return 0;
    }
    extractedPath_ = path;
    return embeddedVersion_;
}

int TZADLLLoader::LoadEngine(TZACore& op) {
    if (module_ != nullptr)
        return version_;
    version_ = 0;
    std::string dir = op.DLLDirectory();
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\'))
        dir.pop_back();

    auto loadEmbedded = [&](bool mustSucceed) {
        if (ProbeEmbedded(op, true) >= kMinPrivVersion && !extractedPath_.empty()) {
            if (LoadFile(op, extractedPath_, false) < kMinPrivVersion)
                embeddedVersion_ = 0;
            // The mapping outlives its file: removed now, a killed process
            // leaves no library behind in the temporary folder.
            if (module_ != nullptr && RemoveTempOnUnload)
                ::unlink(extractedPath_.c_str());
        }
        if (version_ <= 0 && mustSucceed)
            throw EZipArchiver(ZA_CODE(19), kEngineFileName);
    };

    if (dir == "><") {
        loadEmbedded(true);
        return version_;
    }
    if (!dir.empty()) {
        if (dir.front() == '.')
            dir = ProgramFolder() + "/" + dir;
        if (HasEngineExtension(dir)) {
            LoadFile(op, dir, true);
            return version_;
        }
        std::error_code ec;
        if (!fs::is_directory(dir, ec))
            dir.clear();
    }
    // Without a usable folder the packed engine stands in for a missing file.
    const bool fallback = dir.empty() && ProbeEmbedded(op, false) >= kMinPrivVersion;
    if (dir.empty()) {
        // The program's own folder first, as the system's library search does for
        // a program on its home platform; then the dynamic loader's search path.
        const std::string local = ProgramFolder() + "/" + kEngineFileName;
        std::error_code ec;
        if (!fs::exists(local, ec) || LoadFile(op, local, false) == 0)
            LoadFile(op, kEngineFileName, !fallback);
    } else {
        LoadFile(op, dir + "/" + kEngineFileName, true);
    }
    if (module_ == nullptr && fallback)
        loadEmbedded(true);
    return version_;
}

int TZADLLLoader::Acquire(TZACore& op) {
    std::lock_guard guard(lock_);
    TZAHost& comp = op.Host();
    User* u = FindUser(comp);
    if (u == nullptr) {
        auto freeSlot = std::find_if(users_.begin(), users_.end(),
                                     [](const User& x) { return x.component == nullptr; });
        if (freeSlot == users_.end()) {
            users_.resize(users_.size() + 4);
            freeSlot = users_.end() - 4;
        }
        freeSlot->component = &comp;
        freeSlot->count = 1;
        u = &*freeSlot;
    } else {
        ++u->count;
    }
    int result = u->count;
    if (module_ == nullptr) {
        int version = 0;
        ++loadNesting_;
        if (loadNesting_ == 1) {
            try {
                version = LoadEngine(op);
            } catch (const std::exception& e) {
                op.ShowExceptionError(e);
                version = -1;
            }
        }
        if (version < ZE_INTERFACE_VERSION) {
            u = FindUser(comp);
            if (u != nullptr)
                *u = User{};
            if (op.Verbose())
                op.ReportMessage(
                    0, MessageTextFmt(10, {std::int64_t{version}, lastError_, triedPath_}));
            result = -1;
        } else if (op.Verbose()) {
            op.ReportMessage(0, MessageTextFmt(8, {libraryName_}));
        }
        --loadNesting_;
    }
    return result;
}

int TZADLLLoader::Release(TZAHost& host, TZACore* reporter) {
    std::lock_guard guard(lock_);
    User* u = FindUser(host);
    if (u == nullptr || u->count <= 0)
        return -1;
    const int left = --u->count;
    if (left == 0)
        *u = User{};
    if (loadNesting_ == 0 && !AnyUser() && module_ != nullptr) {
        const std::string name = libraryName_;
        UnloadLocked();
        if (reporter != nullptr && reporter->Verbose())
            reporter->ReportMessage(0, MessageTextFmt(9, {name}));
    }
    return left;
}

void TZADLLLoader::Forget(TZAHost& host) {
    std::lock_guard guard(lock_);
    Release(host);
    if (User* u = FindUser(host))
        *u = User{};
    if (loadNesting_ == 0 && !AnyUser())
        UnloadLocked();
}

void TZADLLLoader::AbortJob(TZAHost& host, std::int32_t handle) {
    std::lock_guard guard(lock_);
    const User* u = FindUser(host);
    if (u != nullptr && u->count > 0 && abortFn_ != nullptr)
        abortFn_(handle);
}

int TZADLLLoader::Exec(TZADLLOpr& op, ZEJobRec& job) {
    if (Acquire(op) < 1)
        return -1;
    ZE_ExecFn exec = nullptr;
    {
        std::lock_guard guard(lock_);
        exec = execFn_;
    }
    struct Cleanup {
        TZADLLLoader& self;
        TZADLLOpr& op;
        ~Cleanup() {
            self.Release(op.Host(), &op);
            op.AbortHandle = 0;
        }
    } cleanup{*this, op};
    return exec != nullptr ? exec(&job) : -1;
}
