// libFuzzer target: arbitrary bytes as an archive, tested and then extracted by the engine
// (linked in-process) into a temporary folder that is emptied after every input. The input
// stays in memory: the engine maps it from a memory file (memfd) it opens by its /proc name.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "ZEJob.h"
#include "tests/fuzz/FuzzEngineReply.h"
#include "tests/fuzz/FuzzScratch.h"

namespace {

struct Env {
    fuzz::Scratch scratch{"fuzz-extract-"};
    std::string dir = scratch.Folder();
    std::string target = scratch.Path("out");
    int fd = ::memfd_create("fuzz-extract-input", MFD_CLOEXEC);
    std::string archive = "/proc/self/fd/" + std::to_string(fd);
    ~Env() { ::close(fd); }
};

Env& env() {
    static Env e;
    return e;
}

int32_t callback(ZECallbackRec* rec) {
    auto set = [rec](const std::string& s) { fuzz::SetReply(rec, s); };
    switch (rec->Action & 0x3F) {
        case ZE_CB_DATA:
            switch (rec->Arg1) {
                case ZE_DATA_ARCHIVE:
                    set(env().archive);
                    return 1;
                case ZE_DATA_PASSWORD:
                    set("password");
                    return 1;
                case ZE_DATA_EXTRBASEDIR:
                    set(env().target);
                    return 1;
                case ZE_DATA_INCLUDE:
                case ZE_DATA_EXCLUDE:
                    rec->Arg3 = 0;
                    set("");
                    return 0;
                default:
                    set("");
                    return 1;
            }
        case ZE_CB_PASSWORD:
            set("1234");
            return 1;
        case ZE_CB_OVERWRITE:
            return 1;
        default:
            return 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Env& e = env();
    if (e.fd < 0)
        __builtin_trap();
    if (::ftruncate(e.fd, 0) != 0 ||
        (size > 0 && ::pwrite(e.fd, data, size, 0) != static_cast<ssize_t>(size)))
        return 0;
    // The output folder stays; only what an input extracted is removed (a new
    // folder for every input costs more than the engine's work on most inputs).
    std::error_code ec;
    std::filesystem::create_directories(e.target, ec);
    for (uint32_t flags : {uint32_t(ZE_FLAG_TEST), uint32_t(ZE_FLAG_EXTRACT | ZE_FLAG_DIRNAMES)}) {
        ZEJobRec job;
        memset(&job, 0, sizeof job);
        job.Version = ZE_INTERFACE_VERSION;
        job.Callback = callback;
        job.Flags = ZE_FLAG_ALWAYS | flags;
        job.PasswordTries = 1;
        job.Check = ZE_JOB_CHECK;
        ZE_Exec(&job);
    }
    // Nothing may have been written beside the target folder.
    for (auto& p : std::filesystem::directory_iterator(e.dir, ec)) {
        std::string n = p.path().filename().string();
        if (n != "out")
            __builtin_trap();
    }
    for (auto& p : std::filesystem::directory_iterator(e.target, ec))
        std::filesystem::remove_all(p.path(), ec);
    return 0;
}
