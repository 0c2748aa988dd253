// TZADLLLoader: the one object of the program that loads the compression
// engine library (ZAEngine190.so), checks its versions and shares it between
// components by counting their uses. When no engine file can be found, the
// copy of the engine linked into the program ("ZAResDll191") is unpacked to a
// temporary file and loaded from there, so a single executable works.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/ZEJob.h"

class TZAHost;
class TZACore;
class TZADLLOpr;

// The engine's file name, and the name of the resource holding its packed copy.
inline constexpr const char* kEngineFileName = "ZAEngine190.so";
inline constexpr const char* kEngineResourceName = "ZAResDll191";

// The packed engine linked into the program: 4-byte version (little-endian),
// a 6-byte header ("ZR" and the unpacked size, little-endian u32), then the
// library as zlib data (its Adler-32 check catches damage). Empty when the
// program links none.
std::span<const std::uint8_t> EmbeddedEngineResource();

class TZADLLLoader {
public:
    static TZADLLLoader& Instance();
    ~TZADLLLoader();
    TZADLLLoader(const TZADLLLoader&) = delete;
    TZADLLLoader& operator=(const TZADLLLoader&) = delete;

    // One more use by the operation's component; loads the library when needed.
    // The component's use count, or -1 when the library could not be loaded.
    int Acquire(TZACore& operation);
    // One use less; unloads when nobody uses the library any more. The remaining
    // count, -1 when the component held no use.
    int Release(TZAHost& host, TZACore* reporter = nullptr);
    // Acquire, ZE_Exec, Release; clears the operation's abort handle.
    int Exec(TZADLLOpr& operation, ZEJobRec& job);
    void AbortJob(TZAHost& host, std::int32_t handle);
    bool IsUser(const TZAHost& host);
    // Releases one use and frees the component's slot (component destroyed).
    void Forget(TZAHost& host);
    // Frees the library; returns the version it had.
    int Unload();

    bool Loaded() const { return module_ != nullptr; }
    int Version() const { return version_; }
    int PrivVersion() const { return privVersion_; }
    const std::string& LibraryName() const { return libraryName_; }
    const std::string& Banner() const { return banner_; }
    const std::string& TriedPath() const { return triedPath_; }
    const std::string& ExtractedPath() const { return extractedPath_; }
    int EmbeddedVersion() const { return embeddedVersion_; }
    const std::string& LastError() const { return lastError_; }
    int UseCount(const TZAHost& host);

    bool RemoveTempOnUnload = true;

    // Replaces the linked-in engine resource (tests); nullopt restores it.
    void SetEmbeddedResource(std::optional<std::span<const std::uint8_t>> res);

private:
    TZADLLLoader() = default;

    struct User {
        const TZAHost* component = nullptr;
        int count = 0;
    };

    int LoadEngine(TZACore& op);
    // PrivVersion on success; 0 when `mustSucceed` is false and it failed.
    int LoadFile(TZACore& op, const std::string& path, bool mustSucceed);
    void ClearEntryPoints();
    // Version of the embedded engine (-1 none usable); unpacks it when `unpack`.
    int ProbeEmbedded(TZACore& op, bool unpack);
    std::span<const std::uint8_t> Resource() const;
    User* FindUser(const TZAHost& host);
    bool AnyUser() const;
    void UnloadLocked();
    // Frees the library and clears the entry points; keeps an unpacked engine file.
    void FreeLibrary();

    ZE_AbortFn abortFn_ = nullptr;
    ZE_BannerFn bannerFn_ = nullptr;
    ZE_ExecFn execFn_ = nullptr;
    ZE_NameFn nameFn_ = nullptr;
    void* pathFn_ = nullptr;
    ZE_VersionFn privVersionFn_ = nullptr;
    ZE_VersionFn versionFn_ = nullptr;
    std::vector<User> users_;
    std::string banner_;
    int embeddedVersion_ = -99;
    std::string lastError_;
    int loadNesting_ = 0;
    std::string triedPath_;
    std::string libraryName_ = kEngineFileName;
    int version_ = 0;
    std::recursive_mutex lock_;
    void* module_ = nullptr;
    int privVersion_ = 0;
    std::string extractedPath_;
    std::optional<std::span<const std::uint8_t>> resourceOverride_;
};
