// zedrive: a tiny command-line driver for ZAEngine190.so, for benchmarks and manual checks.
//   zedrive a [-0..-9] [-r] [-j] [-H] [-P pw] ARCHIVE ROOTDIR SPEC...   add (-r recurse,
//                                           -j junk paths, -H hidden files)
//   zedrive x [-o] [-P pw] ARCHIVE DESTDIR [SPEC...]              extract with folder names
//   zedrive t [-P pw] ARCHIVE [SPEC...]                           test
// Prints the engine's result; -v also prints messages and skipped files.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../tests/ZEngineHarness.h"

using namespace zetest;

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: zedrive a|x|t [options] ARCHIVE ...\n");
        return 2;
    }
    std::string cmd = argv[1];
    Harness h;
    uint32_t flags = 0;
    bool verbose = false;
    int i = 2;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        std::string o = argv[i];
        if (o.size() == 2 && o[1] >= '0' && o[1] <= '9')
            h.level = o[1] - '0';
        else if (o == "-r")
            flags |= ZE_FLAG_RECURSE;
        else if (o == "-j")
            flags |= ZE_FLAG_NO_DIRNAMES;
        else if (o == "-H")
            flags |= ZE_FLAG_HIDDEN;
        else if (o == "-o")
            flags |= ZE_FLAG_OVERWRITE;
        else if (o == "-v")
            verbose = true;
        else if (o == "-P" && i + 1 < argc)
            h.password = argv[++i];
        else {
            fprintf(stderr, "unknown option %s\n", o.c_str());
            return 2;
        }
    }
    if (!EngineLib::get().exec) {
        fprintf(stderr, "cannot load %s: %s\n", TARVIK_ENGINE_PATH, dlerror());
        return 2;
    }
    if (i >= argc)
        return 2;
    h.archive = argv[i++];
    int32_t r;
    if (cmd == "a") {
        if (i >= argc)
            return 2;
        h.root = argv[i++];
        for (; i < argc; ++i)
            h.includes.push_back(argv[i]);
        if (!h.password.empty())
            flags |= ZE_FLAG_ENCRYPT;
        r = h.add(flags);
    } else if (cmd == "x") {
        if (i >= argc)
            return 2;
        h.base = argv[i++];
        for (; i < argc; ++i)
            h.includes.push_back(argv[i]);
        r = h.extract(ZE_FLAG_DIRNAMES | flags);
    } else {
        for (; i < argc; ++i)
            h.includes.push_back(argv[i]);
        r = h.test(flags);
    }
    if (verbose) {
        for (auto& [code, text] : h.messages)
            printf("message %d: %s\n", code, text.c_str());
        for (auto& s : h.skips)
            printf("skipped %s (error %d, type %d)\n", s.name.c_str(), s.err, s.type);
    }
    printf("result %d\n", r);
    return r < 0 ? 1 : 0;
}
