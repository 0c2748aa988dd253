// Test-side stand-in for the component: loads ZAEngine190.so with dlopen, fills a job record
// and answers the engine's callbacks from scripted settings, recording what it was told.
#pragma once

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ZEJob.h"

namespace zetest {

namespace fs = std::filesystem;

struct EngineLib {
    void* handle = nullptr;
    ZE_ExecFn exec = nullptr;
    ZE_VersionFn version = nullptr, privVersion = nullptr;
    ZE_AbortFn abort = nullptr;
    ZE_NameFn name = nullptr;
    ZE_BannerFn banner = nullptr;
    void* path = nullptr;

    static EngineLib& get() {
        static EngineLib lib;
        if (!lib.handle) {
            // TARVIK_ENGINE names another build of the library (benchmarks compare two).
            const char* other = getenv("TARVIK_ENGINE");
            lib.handle =
                dlopen(other && *other ? other : TARVIK_ENGINE_PATH, RTLD_NOW | RTLD_LOCAL);
            if (lib.handle) {
                lib.exec = reinterpret_cast<ZE_ExecFn>(dlsym(lib.handle, "ZE_Exec"));
                lib.version = reinterpret_cast<ZE_VersionFn>(dlsym(lib.handle, "ZE_Version"));
                lib.privVersion =
                    reinterpret_cast<ZE_VersionFn>(dlsym(lib.handle, "ZE_PrivVersion"));
                lib.abort = reinterpret_cast<ZE_AbortFn>(dlsym(lib.handle, "ZE_Abort"));
                lib.name = reinterpret_cast<ZE_NameFn>(dlsym(lib.handle, "ZE_Name"));
                lib.banner = reinterpret_cast<ZE_BannerFn>(dlsym(lib.handle, "ZE_Banner"));
                lib.path = dlsym(lib.handle, "ZE_Path");
            }
        }
        return lib;
    }
};

inline std::string utf16ToUtf8(const char16_t* w) {
    std::string out;
    for (; w && *w; ++w) {
        uint32_t c = *w;
        if (c >= 0xD800 && c < 0xDC00 && w[1] >= 0xDC00 && w[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (w[1] - 0xDC00);
            ++w;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct Skip {
    std::string name;
    int err;
    int type;
};

// In-memory stream object for the stream callback.
struct MemStream {
    std::vector<uint8_t> data;
    size_t pos = 0;
};

class Harness {
public:
    // Settings answered through the data request.
    std::string archive, password, root, base, comment, storeSuffixes, tempDir;
    std::vector<std::string> includes, excludes;
    int level = 6, writeEncoding = 0, encoding = 0, passwordTries = 0, verbosity = 0;
    uint32_t extraFlags = 0;
    // Scripted answers.
    std::vector<std::string> passwordAnswers;  // one per prompt; exhausted -> cancel (2)
    int overwriteAnswer = 0, crcAnswer = 0, skipAnswer = 0;
    std::function<std::string(const std::string&)> addName, extractName, fileComment;
    std::function<int(const std::string&)> levelFor;
    std::string extraData;
    bool abortOnFirstProgress = false;
    std::map<int, MemStream*> streams;
    // What the engine reported.
    std::vector<std::pair<int, std::string>> messages;
    std::vector<Skip> skips;
    std::vector<std::string> items, passwordPrompts, overwriteAsked, crcErrors;
    std::vector<int> actions;
    int abortHandle = 0;
    int64_t progressBytes = 0;

    int32_t run(uint32_t flags, ZEMemJob* mem = nullptr) {
        ZEJobRec job;
        memset(&job, 0, sizeof job);
        job.Caller = this;
        job.Version = ZE_INTERFACE_VERSION;
        job.Callback = &Harness::callback;
        job.StreamFn = &Harness::stream;
        job.Encoding = encoding;
        job.Verbosity = verbosity;
        job.MemJob = mem;
        job.Flags = ZE_FLAG_ALWAYS | flags | extraFlags;
        job.PasswordTries = passwordTries;
        job.WriteEncoding = writeEncoding;
        job.Level = level;
        job.Check = ZE_JOB_CHECK;
        return EngineLib::get().exec(&job);
    }
    int32_t add(uint32_t flags = 0) { return run(ZE_FLAG_ADD | flags); }
    int32_t extract(uint32_t flags = ZE_FLAG_DIRNAMES) { return run(ZE_FLAG_EXTRACT | flags); }
    int32_t test(uint32_t flags = 0) { return run(ZE_FLAG_TEST | flags); }

private:
    std::string reply_;

    void setReply(ZECallbackRec* rec, const std::string& s) {
        reply_ = s;
        reply_.append(4, '\0');
        rec->Text = reply_.data();
        bool multi = false;
        for (char c : s)
            multi = multi || (uint8_t(c) & 0x80);
        rec->TextEncoding = multi ? 2 : 0;
        rec->Arg1 = int32_t(s.size());
    }

    static std::string text(ZECallbackRec* rec, void* p) {
        if (!p)
            return {};
        if (rec->TextEncoding)
            return utf16ToUtf8(static_cast<const char16_t*>(p));
        return static_cast<const char*>(p);
    }

    static int32_t callback(ZECallbackRec* rec) {
        if (rec->Check != ZE_CALLBACK_CHECK)
            return -5;
        return static_cast<Harness*>(rec->Caller)->onCallback(rec);
    }

    int32_t onCallback(ZECallbackRec* rec) {
        int action = rec->Action & 0x3F;
        actions.push_back(action);
        std::string t1 = text(rec, rec->Text);
        switch (action) {
            case ZE_CB_NEW_ITEM:
                if (rec->Size != -1)
                    items.push_back(t1);
                return 0;
            case ZE_CB_PROGRESS:
                progressBytes += rec->Size;
                if (abortOnFirstProgress && abortHandle)
                    EngineLib::get().abort(abortHandle);
                return 0;
            case ZE_CB_MESSAGE:
                messages.emplace_back(rec->Arg1, t1);
                return 0;
            case ZE_CB_ADD_NAME:
                if (addName) {
                    std::string n = addName(text(rec, rec->Text2));
                    if (n != text(rec, rec->Text2)) {
                        setReply(rec, n);
                        return 1;
                    }
                }
                return 0;
            case ZE_CB_PASSWORD: {
                passwordPrompts.push_back(t1);
                if (passwordAnswers.empty()) {
                    rec->Arg1 = 0;
                    return 2;
                }
                std::string p = passwordAnswers.front();
                passwordAnswers.erase(passwordAnswers.begin());
                if (p == "<abort>")
                    return -3;
                setReply(rec, p);
                return 1;
            }
            case ZE_CB_CRC_ERROR:
                crcErrors.push_back(t1);
                return crcAnswer;
            case ZE_CB_OVERWRITE:
                overwriteAsked.push_back(t1);
                return overwriteAnswer;
            case ZE_CB_SKIPPED:
                skips.push_back({t1, rec->Arg1, rec->Arg2 - 1});
                return skipAnswer;
            case ZE_CB_COMMENT:
                if (fileComment) {
                    setReply(rec, fileComment(t1));
                    return 1;
                }
                return 0;
            case ZE_CB_LEVEL_EXTRA: {
                int r = 0;
                if (levelFor) {
                    int l = levelFor(t1);
                    if (l >= 0) {
                        rec->Arg2 = l;
                        r |= 2;
                    }
                }
                if (!extraData.empty()) {
                    int l = rec->Arg2;
                    setReply(rec, extraData);
                    rec->Arg2 = l;
                    r |= 1;
                }
                return r;
            }
            case ZE_CB_EXTRACT_NAME:
                if (extractName) {
                    std::string n = extractName(t1);
                    if (n != t1) {
                        setReply(rec, n);
                        return 1;
                    }
                }
                return 0;
            case ZE_CB_ABORT_HANDLE:
                abortHandle = rec->Arg1;
                return 0;
            case ZE_CB_DATA:
                return dataRequest(rec);
            default:
                return action <= 7 ? 0 : -1;
        }
    }

    int32_t dataRequest(ZECallbackRec* rec) {
        int item = rec->Arg1, index = rec->Arg3;
        if (item < 0 || item > 8)
            return -5;
        auto list = [&](const std::vector<std::string>& l) {
            if (index < 0)
                return -5;
            rec->Arg3 = int32_t(l.size());
            if (size_t(index) >= l.size()) {
                setReply(rec, "");
                return 0;
            }
            setReply(rec, l[size_t(index)]);
            return 1;
        };
        switch (item) {
            case 0:
                setReply(rec, archive);
                break;
            case 1:
                setReply(rec, password);
                break;
            case 2:
                setReply(rec, root);
                break;
            case 3:
                setReply(rec, base);
                break;
            case 4:
                setReply(rec, comment);
                rec->TextEncoding = 0;
                break;
            case 5:
                return list(includes);
            case 6:
                return list(excludes);
            case 7:
                setReply(rec, storeSuffixes);
                break;
            case 8:
                setReply(rec, tempDir);
                break;
            default:
                setReply(rec, "");
                break;
        }
        return 1;
    }

    static int32_t stream(ZEStreamRec* rec) {
        if (rec->Check != ZE_STREAM_CHECK)
            return -5;
        auto* h = static_cast<Harness*>(rec->Caller);
        switch (rec->Operation) {
            case ZE_SOP_IDENTIFY: {
                auto it = h->streams.find(rec->StreamNumber);
                if (it == h->streams.end())
                    return 0;
                rec->Position = int64_t(it->second->data.size());
                rec->Date = 0x5A210000;  // 2025-01-01
                return 1;
            }
            case ZE_SOP_OPEN: {
                auto it = h->streams.find(rec->StreamNumber);
                if (it == h->streams.end())
                    return 0;
                it->second->pos = 0;
                rec->Stream = it->second;
                return 1;
            }
            case ZE_SOP_CLOSE:
                return 1;
            case ZE_SOP_READ: {
                auto* s = static_cast<MemStream*>(rec->Stream);
                size_t n = std::min(size_t(rec->Count), s->data.size() - s->pos);
                memcpy(rec->Buffer, s->data.data() + s->pos, n);
                s->pos += n;
                rec->Count = int32_t(n);
                return 1;
            }
            case ZE_SOP_WRITE: {
                auto* s = static_cast<MemStream*>(rec->Stream);
                auto* p = static_cast<const uint8_t*>(rec->Buffer);
                s->data.insert(s->data.end(), p, p + rec->Count);
                return 1;
            }
            default:
                return 0;
        }
    }
};

// Temporary folder removed at the end of a test.
struct TempDir {
    fs::path path;
    TempDir() {
        char tmpl[] = "/tmp/zetestXXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& s) const { return (path / s).string(); }
};

inline void writeFile(const fs::path& p, const std::string& data) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << data;
}

// Modification time in whole seconds (what zip timestamps keep).
inline int64_t mtimeSeconds(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? int64_t(st.st_mtime) : -1;
}

inline std::string readFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Runs a shell command; returns its exit status. Output is discarded unless the command
// redirects it itself.
inline int sh(const std::string& cmd) {
    bool redirected = cmd.find("> '") != std::string::npos;
    int r = std::system((cmd + (redirected ? " 2>/dev/null" : " >/dev/null 2>&1")).c_str());
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

}  // namespace zetest
