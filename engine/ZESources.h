// Collecting the files of an add job: include specifications with wildcards and recursion,
// exclusions, hidden files, the date limit, junked paths, symbolic links and streams of the
// component.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ze {

class JobContext;

struct Source {
    std::string path;  // file-system path ("" for a stream)
    std::string name;  // stored name, UTF-8, "/" separated; folders end in "/"
    struct stat st {};
    bool isDir = false;
    bool isLink = false;       // a symbolic link stored as one: its target is the content
    bool throughLink = false;  // reached through a followed link to a folder
    std::string linkTarget;
    int stream = -1;                  // stream number of the component's pipe, or -1
    std::vector<uint8_t> streamData;  // the bytes of a stream source
};

struct SourceOptions {
    std::string root;  // RootDir, "/"-terminated, absolute
    bool recurse = false, dirNames = true, dirEntries = true, hidden = false;
    bool followLinks = false;  // links are followed instead of stored as links
    bool exact = false;        // specifications are paths taken literally: no wildcards,
                               // no "|" lists, "\\" a character of the name
    uint32_t dateLimit = 0;
};

// Resolves the specifications into sources; unmatched ones are reported as skipped.
std::vector<Source> collectSources(JobContext& ctx, const std::vector<std::string>& includes,
                                   const std::vector<std::string>& excludes,
                                   const SourceOptions& opt);

// Reads a stream of the component (identify, open, read, close) into src.
bool readStream(JobContext& ctx, Source& src);

}  // namespace ze
