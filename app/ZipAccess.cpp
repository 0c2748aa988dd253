#include "app/ZipAccess.h"

#include <concepts>
#include <type_traits>

#if __has_include("zip/ZAIRec.h")
#include "zip/ZAIRec.h"
#endif

namespace {

// --- What this build's component offers ----------------------------------------
template <typename Z>
concept HasZipFileName = requires(Z& z, const std::string& s) {
    { z.ZipFileName() } -> std::convertible_to<std::string>;
    z.SetZipFileName(s);
};
template <typename Z>
concept HasEntries = requires(Z& z) {
    { z.Count() } -> std::convertible_to<int>;
    z.DirEntry(0);
};
template <typename Z>
concept HasFSpecArgs = requires(Z& z, const std::vector<std::string>& v) {
    z.SetFSpecArgs(v);
    z.FSpecArgs();
};
template <typename Z>
concept HasAdd = requires(Z& z) {
    z.Add();
};
template <typename Z>
concept HasExtract = requires(Z& z) {
    z.Extract();
};
template <typename Z>
concept HasDelete = requires(Z& z) {
    z.Delete();
};
template <typename Z>
concept HasConvertToSFX = requires(Z& z) {
    z.ConvertToSFX();
};
template <typename Z>
concept HasConvertToZIP = requires(Z& z) {
    z.ConvertToZIP();
};
template <typename Z>
concept HasUseUTF8 = requires(Z& z) {
    z.SetUseUTF8(true);
};
template <typename Z>
concept HasLanguage = requires(Z& z, const std::string& s) {
    z.SetLanguage(s);
};
template <typename Z>
concept HasSetters = requires(Z& z, const std::string& s) {
    z.SetAddOptions(TZAAddOpts{});
    z.SetExtrOptions(TZAExtrOpts{});
    z.SetExtrBaseDir(s);
    z.SetPassword(s);
    z.SetSFXPath(s);
    z.SetSFXCaption(s);
};

template <typename Z>
std::string zipFileNameOf(Z& z) {
    if constexpr (HasZipFileName<Z>) {
        return z.ZipFileName();
    } else {
        return z.Internal().ZipFileName;
    }
}

template <typename Z>
void setZipFileNameOf(Z& z, const std::string& name) {
    if constexpr (HasZipFileName<Z>) {
        z.SetZipFileName(name);
    } else {
        // Without the loader the name is only kept; nothing is read.
        z.Internal().ZipFileName = name;
        if (z.OnDirUpdate) {
            z.OnDirUpdate(z);
        }
    }
}

template <typename Z>
int countOf(Z& z) {
    if constexpr (HasEntries<Z>) {
        return static_cast<int>(z.Count());
    } else {
        return 0;
    }
}

template <typename Z>
TArchiveEntryInfo entryOf(Z& z, int index) {
    TArchiveEntryInfo info;
    if constexpr (HasEntries<Z>) {
        auto&& e = z.DirEntry(index);
        auto fill = [&info](auto& entry) {
            info.FileName = entry.FileName();
            info.CompressedSize = entry.CompressedSize();
            info.UncompressedSize = entry.UncompressedSize();
            info.DosDateTime = entry.DosDateTime();
        };
        if constexpr (requires { e->FileName(); }) {
            if (e) {
                fill(*e);  // a pointer or a shared handle
            }
        } else {
            fill(e);
        }
    } else {
        (void)z;
        (void)index;
    }
    return info;
}

template <typename Z>
void setFSpecArgsOf(Z& z, const std::vector<std::string>& lines) {
    if constexpr (HasFSpecArgs<Z>) {
        z.SetFSpecArgs(lines);
    } else {
        (void)z;
        (void)lines;
    }
}

template <typename Z>
std::vector<std::string> fSpecArgsOf(Z& z) {
    if constexpr (HasFSpecArgs<Z>) {
        const auto& list = z.FSpecArgs();
        return std::vector<std::string>(list.begin(), list.end());
    } else {
        (void)z;
        return {};
    }
}

template <typename Z>
void setOptions(Z& z, const TZAAddOpts* add, const TZAExtrOpts* extr, const std::string* baseDir,
                const std::string* password, const std::string* sfxPath,
                const std::string* sfxCaption) {
    if constexpr (HasSetters<Z>) {
        if (add)
            z.SetAddOptions(*add);
        if (extr)
            z.SetExtrOptions(*extr);
        if (baseDir)
            z.SetExtrBaseDir(*baseDir);
        if (password)
            z.SetPassword(*password);
        if (sfxPath)
            z.SetSFXPath(*sfxPath);
        if (sfxCaption)
            z.SetSFXCaption(*sfxCaption);
    } else {
        // The option record the operations read; kept consistent until the
        // component's own setters are there.
        TZAInternal& in = z.Internal();
        if (add)
            in.AddOptions = *add;
        if (extr)
            in.ExtrOptions = *extr;
        if (baseDir)
            in.ExtrBaseDir = *baseDir;
        if (password)
            in.Password = *password;
        if (sfxPath)
            in.SFXPath = *sfxPath;
        if (sfxCaption)
            in.SFXCaption = *sfxCaption;
    }
}

template <typename Z>
bool available(TZipOperation op) {
    switch (op) {
        case TZipOperation::zoLoad:
            return HasZipFileName<Z> && HasEntries<Z>;
        case TZipOperation::zoAdd:
            return HasAdd<Z> && HasFSpecArgs<Z>;
        case TZipOperation::zoExtract:
            return HasExtract<Z> && HasFSpecArgs<Z>;
        case TZipOperation::zoDelete:
            return HasDelete<Z> && HasFSpecArgs<Z>;
        case TZipOperation::zoConvertToSFX:
            return HasConvertToSFX<Z>;
        case TZipOperation::zoConvertToZIP:
            return HasConvertToZIP<Z>;
    }
    return false;
}

template <typename Z>
void addOf(Z& z) {
    if constexpr (HasAdd<Z>)
        z.Add();
    else
        (void)z;
}
template <typename Z>
void extractOf(Z& z) {
    if constexpr (HasExtract<Z>)
        z.Extract();
    else
        (void)z;
}
template <typename Z>
void deleteOf(Z& z) {
    if constexpr (HasDelete<Z>)
        z.Delete();
    else
        (void)z;
}
template <typename Z>
int toSfxOf(Z& z) {
    if constexpr (HasConvertToSFX<Z>)
        return static_cast<int>(z.ConvertToSFX());
    else
        return (void)z, -1;
}
template <typename Z>
int toZipOf(Z& z) {
    if constexpr (HasConvertToZIP<Z>)
        return static_cast<int>(z.ConvertToZIP());
    else
        return (void)z, -1;
}
template <typename Z>
void useUtf8Of(Z& z, bool on) {
    if constexpr (HasUseUTF8<Z>)
        z.SetUseUTF8(on);
    else
        (void)z, (void)on;
}
template <typename Z>
void languageOf(Z& z, const std::string& lang) {
    if constexpr (HasLanguage<Z>)
        z.SetLanguage(lang);
    else
        (void)z, (void)lang;
}

}  // namespace

bool OperationAvailable(TZipOperation op) {
    return available<TZipArchiver>(op);
}

namespace zipaccess {

std::string ZipFileName(TZipArchiver& zip) {
    return zipFileNameOf(zip);
}
void SetZipFileName(TZipArchiver& zip, const std::string& name) {
    setZipFileNameOf(zip, name);
}
int Count(TZipArchiver& zip) {
    return countOf(zip);
}
TArchiveEntryInfo DirEntry(TZipArchiver& zip, int index) {
    return entryOf(zip, index);
}
void SetFSpecArgs(TZipArchiver& zip, const std::vector<std::string>& lines) {
    setFSpecArgsOf(zip, lines);
}
std::vector<std::string> FSpecArgs(TZipArchiver& zip) {
    return fSpecArgsOf(zip);
}
void SetAddOptions(TZipArchiver& zip, TZAAddOpts options) {
    setOptions(zip, &options, nullptr, nullptr, nullptr, nullptr, nullptr);
}
void SetExtrOptions(TZipArchiver& zip, TZAExtrOpts options) {
    setOptions(zip, nullptr, &options, nullptr, nullptr, nullptr, nullptr);
}
void SetExtrBaseDir(TZipArchiver& zip, const std::string& folder) {
    setOptions(zip, nullptr, nullptr, &folder, nullptr, nullptr, nullptr);
}
void SetPassword(TZipArchiver& zip, const std::string& password) {
    setOptions(zip, nullptr, nullptr, nullptr, &password, nullptr, nullptr);
}
void SetSFXPath(TZipArchiver& zip, const std::string& path) {
    setOptions(zip, nullptr, nullptr, nullptr, nullptr, &path, nullptr);
}
void SetSFXCaption(TZipArchiver& zip, const std::string& caption) {
    setOptions(zip, nullptr, nullptr, nullptr, nullptr, nullptr, &caption);
}
void SetUseUTF8(TZipArchiver& zip, bool on) {
    useUtf8Of(zip, on);
}
void SetLanguage(TZipArchiver& zip, const std::string& language) {
    languageOf(zip, language);
}
void Add(TZipArchiver& zip) {
    addOf(zip);
}
void Extract(TZipArchiver& zip) {
    extractOf(zip);
}
void Delete(TZipArchiver& zip) {
    deleteOf(zip);
}
int ConvertToSFX(TZipArchiver& zip) {
    return toSfxOf(zip);
}
int ConvertToZIP(TZipArchiver& zip) {
    return toZipOf(zip);
}

}  // namespace zipaccess
