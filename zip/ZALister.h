// TZALister: the component's long-lived work object for the archive named
// by ZipFileName. It owns the directory view, loads the archive when the
// name is set or after an operation changed it, prepares the archive object
// for operations and takes over the settings an archive implies (multi-part
// naming, the configuration of a self-extractor stub).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "zip/ZACenDir.h"
#include "zip/ZACore.h"

class TZAZipFile;

// What Finish does after an operation.
enum TZAAfterAction : std::uint8_t {
    aaNone = 0,
    aaDropDirectory = 1,
    aaLoaded = 2,
    aaReloadUnlessDetached = 3,
    aaReload = 4
};

class TZALister : public TZACore {
public:
    explicit TZALister(TZAHost& host);
    ~TZALister() override;

    void Finish(bool success) override;
    void ClearCancel() override;

    TZACenDir& View() { return *view_; }
    const TZACenDir& View() const { return *view_; }
    TZAZipFile& CurrentZip();
    // Raises 133 without a name, 127 when `mustBeLoaded` and not loaded, and
    // 4 when the user cancels after an earlier disk prompt was cancelled.
    TZAZipFile& PrepareZip(bool mustBeLoaded, bool confirmAfterAbort);
    bool IsLoaded() const;
    // Mode 0 stores only, 1 stores and loads, 2 loads without the final OnDirUpdate.
    void SetZipFileName(const std::string& name, int mode);
    void Load(const std::string& name, bool quiet);
    void Reload();
    void ClearNames();
    void AttachZip(std::unique_ptr<TZAZipFile> zip);
    void SetIncludeDirectories(bool on);

    void TakeOverArchiveSettings();
    bool IsDetachedSelfExtractor(const std::string& name);
    // Takes the configuration of a self-extractor stub: 0, or a negative
    // code (message 178) when the stub's configuration cannot be read.
    std::int32_t ReadStubSettings(std::span<const std::uint8_t> stub);

    TZAAfterAction AfterAction = aaNone;

private:
    std::unique_ptr<TZACenDir> view_;
};
