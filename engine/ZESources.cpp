#include "ZESources.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "ZEContext.h"
#include "ZEUtil.h"
#include "platform/DosTime.h"

namespace ze {

namespace {

// A path below the root as it is stored: no leading "/", no "." parts, and
// ".." taking back the part before it ("src/./x/../a.txt" is "src/a.txt");
// a ".." with nothing before it is dropped ("../x/a.txt" is "x/a.txt"), as
// other zip tools do, since a stored ".." would point outside the folder it
// is extracted to. A trailing "/" is kept.
std::string withoutDotParts(const std::string& path) {
    std::vector<std::string_view> parts;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        const std::string_view part(path.data() + pos, end - pos);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    std::string out;
    for (const std::string_view part : parts) {
        if (!out.empty())
            out += '/';
        out.append(part);
    }
    if (!out.empty() && path.back() == '/')
        out += '/';
    return out;
}

struct Collector {
    JobContext& ctx;
    const SourceOptions& opt;
    const std::vector<std::string>& excludes;
    std::vector<Source> out;

    std::string storedName(const std::string& path) const {
        std::string n;
        if (path.compare(0, opt.root.size(), opt.root) == 0)
            n = path.substr(opt.root.size());
        else
            n = path;
        n = withoutDotParts(n);
        if (!opt.dirNames) {
            size_t s = n.rfind('/');
            if (s != std::string::npos)
                n = n.substr(s + 1);
        }
        return n;
    }

    bool excluded(const std::string& name, const std::string& path) const {
        std::string base =
            name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
        for (const std::string& ex : excludes) {
            if (opt.exact ? ex == name || ex == path || ex == base
                          : MatchFileSpecs(ex, name, true) || MatchFileSpecs(ex, path, true) ||
                                MatchFileSpecs(ex, base, true))
                return true;
        }
        return false;
    }

    void addFile(const std::string& path, const struct stat& st, bool throughLink) {
        Source s;
        s.path = path;
        s.name = storedName(path);
        s.st = st;
        s.throughLink = throughLink;
        if (s.name.empty() || excluded(s.name, path))
            return;
        if (opt.dateLimit && platform::TimeToDos(st.st_mtime) < opt.dateLimit)
            return;
        if (S_ISLNK(st.st_mode)) {
            std::vector<char> target(size_t(std::max<off_t>(st.st_size, 255)) + 1);
            ssize_t n = readlink(path.c_str(), target.data(), target.size());
            if (n <= 0 || size_t(n) >= target.size())
                return;
            s.isLink = true;
            s.linkTarget.assign(target.data(), size_t(n));
            s.st.st_size = off_t(n);
        }
        out.push_back(std::move(s));
    }

    void addDirEntry(const std::string& path, const struct stat& st, bool throughLink) {
        if (!opt.dirEntries || !opt.dirNames)
            return;
        Source s;
        s.path = path;
        s.name = storedName(path);
        if (s.name.empty())
            return;
        if (s.name.back() != '/')
            s.name += '/';
        if (excluded(s.name, path))
            return;
        s.st = st;
        s.isDir = true;
        s.throughLink = throughLink;
        out.push_back(std::move(s));
    }

    // What a name in a walked folder is: a link itself (lstat), unless links are followed;
    // a link whose target is missing stays a link.
    bool inspect(const std::string& path, struct stat& st, bool& followed) const {
        followed = false;
        if (lstat(path.c_str(), &st) != 0)
            return false;
        if (S_ISLNK(st.st_mode) && opt.followLinks) {
            struct stat target {};
            if (stat(path.c_str(), &target) == 0) {
                st = target;
                followed = true;
            }
        }
        return true;
    }

    // Adds the matching files of one folder, and with recursion those of its sub-folders.
    // `chain` holds the folders from the folder a file spec names down to this one: a folder
    // met again inside itself (through a followed link) is a loop and is not entered again;
    // every other folder is, even when it was reached before by another path, so that each
    // file is stored under each of its paths.
    size_t walk(const std::string& dir, const std::string& pattern, bool recurse, bool allFiles,
                std::vector<std::pair<dev_t, ino_t>>& chain, bool throughLink) {
        size_t found = 0;
        DIR* d = opendir(dir.c_str());
        if (!d)
            return 0;
        std::vector<std::string> names;
        while (dirent* de = readdir(d)) {
            if (strcmp(de->d_name, ".") == 0 || strcmp(de->d_name, "..") == 0)
                continue;
            names.emplace_back(de->d_name);
        }
        closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            if (ctx.stopped())
                break;
            if (!opt.hidden && n[0] == '.')
                continue;
            std::string p = dir + (dir.back() == '/' ? "" : "/") + n;
            struct stat st {};
            bool followed = false;
            if (!inspect(p, st, followed))
                continue;
            if (S_ISDIR(st.st_mode)) {
                if (!recurse)
                    continue;
                const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
                if (std::find(chain.begin(), chain.end(), id) != chain.end()) {
                    ctx.skip(p, ZE_ERR_INVALID_NAME, ZE_SKIP_CANNOT_DO);  // a loop
                    continue;
                }
                if (allFiles)
                    addDirEntry(p, st, throughLink);
                chain.push_back(id);
                found += walk(p, pattern, true, allFiles, chain, throughLink || followed);
                chain.pop_back();
            } else if ((S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) &&
                       (allFiles || MatchFileSpecs(pattern, n, true))) {
                addFile(p, st, throughLink);
                ++found;
            }
        }
        return found;
    }

    void spec(const std::string& raw) {
        std::string s = raw;
        if (s.size() >= 2 && s[0] >= '0' && s[0] <= '9' && s[1] == ':') {
            Source src;
            src.stream = s[0] - '0';
            src.name = s.substr(2);
            while (!src.name.empty() && (src.name[0] == '/' || src.name[0] == '\\'))
                src.name.erase(0, 1);
            if (src.name.empty())
                src.name = "#stream" + std::to_string(src.stream) + "#";
            out.push_back(std::move(src));
            return;
        }
        // A picked path is a name: on Linux "*", "?", "|" and "\\" are characters of it.
        if (!opt.exact)
            std::replace(s.begin(), s.end(), '\\', '/');
        std::string path = s.front() == '/' ? s : opt.root + s;
        size_t slash = path.rfind('/');
        std::string dir = path.substr(0, slash + 1), pattern = path.substr(slash + 1);
        if (opt.exact || HasNoWildcards(pattern)) {
            struct stat st {};
            if (pattern.empty())
                path = dir;
            // A link named by itself is stored as a link too (also one whose target is
            // missing), unless links are followed; "link/" means the folder it points to.
            struct stat lst {};
            if (!opt.followLinks && !pattern.empty() && lstat(path.c_str(), &lst) == 0 &&
                S_ISLNK(lst.st_mode)) {
                addFile(path, lst, false);
                return;
            }
            if (stat(path.c_str(), &st) != 0) {
                ctx.skip(raw, ZE_ERR_NOT_FOUND, ZE_SKIP_NOT_FOUND);
                return;
            }
            if (S_ISDIR(st.st_mode)) {
                while (path.size() > 1 && path.back() == '/')
                    path.pop_back();
                // A followed link's files live elsewhere (a move leaves them).
                const bool viaLink = lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
                std::vector<std::pair<dev_t, ino_t>> chain{{st.st_dev, st.st_ino}};
                addDirEntry(path, st, false);
                walk(path, "*", opt.recurse, true, chain, viaLink);
            } else if (S_ISREG(st.st_mode)) {
                addFile(path, st, false);
            } else {
                ctx.skip(raw, ZE_ERR_NO_PERMISSION, ZE_SKIP_NO_OPEN);
            }
            return;
        }
        bool all = pattern == "*" || pattern == "*.*";
        const std::string from = dir.empty() ? "/" : dir;
        struct stat dst {};
        std::vector<std::pair<dev_t, ino_t>> chain;
        if (stat(from.c_str(), &dst) == 0)
            chain.emplace_back(dst.st_dev, dst.st_ino);
        if (walk(from, pattern, opt.recurse, all, chain, false) == 0 && !all)
            ctx.skip(raw, ZE_ERR_NOT_FOUND, ZE_SKIP_NOT_FOUND);
    }
};

}  // namespace

std::vector<Source> collectSources(JobContext& ctx, const std::vector<std::string>& includes,
                                   const std::vector<std::string>& excludes,
                                   const SourceOptions& opt) {
    Collector c{ctx, opt, excludes, {}};
    for (const std::string& s : includes) {
        if (ctx.stopped())
            break;
        if (!s.empty())
            c.spec(s);
    }
    return std::move(c.out);
}

bool readStream(JobContext& ctx, Source& src) {
    ZEJobRec& job = ctx.job();
    if (!job.StreamFn)
        return false;
    ZEStreamRec rec;
    auto op = [&](int o, void* buf, int32_t count) {
        rec.Caller = job.Caller;
        rec.StreamNumber = src.stream;
        rec.Operation = uint8_t(o);
        rec.Buffer = buf;
        rec.Count = count;
        rec.Check = ZE_STREAM_CHECK;
        return job.StreamFn(&rec);
    };
    memset(&rec, 0, sizeof rec);
    if (op(ZE_SOP_IDENTIFY, nullptr, 0) != 1)
        return false;
    int64_t size = rec.Position;
    uint32_t date = rec.Date;
    if (size < 0 || op(ZE_SOP_OPEN, nullptr, 0) != 1 || !rec.Stream)
        return false;
    src.streamData.resize(size_t(size));
    size_t done = 0;
    bool ok = true;
    while (done < src.streamData.size()) {
        int32_t want = int32_t(std::min<size_t>(src.streamData.size() - done, 1 << 20));
        op(ZE_SOP_READ, src.streamData.data() + done, want);
        if (rec.Count <= 0) {
            ok = false;
            break;
        }
        done += size_t(rec.Count);
    }
    op(ZE_SOP_CLOSE, nullptr, 0);
    src.st.st_size = off_t(size);
    src.st.st_mtime = platform::DosToTime(date).value_or(time(nullptr));
    src.st.st_mode = S_IFREG | 0644;
    return ok;
}

}  // namespace ze
