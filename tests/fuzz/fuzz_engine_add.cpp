// The engine's add to an existing archive: the input (after its first byte)
// is the archive, to which two files are added, one of them with a name the
// seeds' archives already hold, so that old entries are copied and one is
// replaced. The first byte picks update mode and encryption. The engine must
// refuse a damaged archive cleanly; when it reports success, the archive it
// wrote must read back with the new file in it; and nothing but the archive
// may be left in the scratch folder (no temporary file).
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "ZEArchive.h"
#include "ZEJob.h"
#include "tests/fuzz/FuzzEngineReply.h"
#include "tests/fuzz/FuzzScratch.h"

namespace {

struct Env {
    fuzz::Scratch scratch{"fuzz-engine-add-"};
    std::string archive = scratch.Path("alt.zip");
    std::string root = scratch.Path("src/");
    std::string temp = scratch.Path("tmp/");
    Env() {
        std::filesystem::create_directories(root);
        std::filesystem::create_directories(temp);
        for (const char* name : {"neu.txt", "liesmich.txt"}) {
            if (FILE* f = std::fopen((root + name).c_str(), "wb")) {
                std::fputs("Tarvik fuzz: new content\n", f);
                std::fclose(f);
            }
        }
    }
};

Env& env() {
    static Env e;
    return e;
}

constexpr const char* kIncludes[] = {"neu.txt", "liesmich.txt"};
int32_t callback(ZECallbackRec* rec) {
    auto set = [rec](const std::string& s) { fuzz::SetReply(rec, s); };
    switch (rec->Action & 0x3F) {
        case ZE_CB_DATA:
            switch (rec->Arg1) {
                case ZE_DATA_ARCHIVE:
                    set(env().archive);
                    return 1;
                case ZE_DATA_PASSWORD:
                    set("pw");
                    return 1;
                case ZE_DATA_ROOTDIR:
                    set(env().root);
                    return 1;
                case ZE_DATA_TEMPDIR:
                    set(env().temp);
                    return 1;
                case ZE_DATA_INCLUDE:
                    if (rec->Arg3 < 2) {
                        set(kIncludes[rec->Arg3]);
                        rec->Arg3 = 2;
                        return 1;
                    }
                    rec->Arg3 = 0;
                    set("");
                    return 0;
                case ZE_DATA_EXCLUDE:
                case ZE_DATA_ZIPCOMMENT:
                    rec->Arg3 = 0;
                    set("");
                    return 0;
                default:
                    set("");
                    return 1;
            }
        case ZE_CB_PASSWORD:
            set("pw");
            return 1;
        default:
            return 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    Env& e = env();
    if (!fuzz::WriteInput(e.archive, data + 1, size - 1))
        return 0;
    ZEJobRec job;
    std::memset(&job, 0, sizeof job);
    job.Version = ZE_INTERFACE_VERSION;
    job.Callback = callback;
    job.Flags = ZE_FLAG_ADD | ZE_FLAG_NO_EMPTY_DIRS;
    if (data[0] & 1)
        job.Flags |= ZE_FLAG_UPDATE;
    if (data[0] & 2)
        job.Flags |= ZE_FLAG_ENCRYPT;
    job.Level = data[0] >> 4 & 7;
    job.Check = ZE_JOB_CHECK;
    const int32_t rc = ZE_Exec(&job);
    if (rc >= 0) {
        ze::Archive written;
        if (written.open(e.archive) != 0)
            __builtin_trap();  // the engine reported success but wrote an unreadable archive
        bool found = false;
        for (const ze::Entry& entry : written.entries())
            found = found || entry.name == "neu.txt";
        if (!found && (data[0] & 1) == 0)
            __builtin_trap();  // the new file is missing
    }
    std::error_code ec;
    for (const auto& p : std::filesystem::directory_iterator(e.scratch.Folder(), ec)) {
        const std::string n = p.path().filename().string();
        if (n != "alt.zip" && n != "src" && n != "tmp")
            __builtin_trap();
    }
    if (!std::filesystem::is_empty(e.temp, ec))
        __builtin_trap();
    return 0;
}
