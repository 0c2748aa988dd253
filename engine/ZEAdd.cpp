// The add job: collects the files, asks the component for names, comments and levels,
// compresses several files at once on worker threads, and writes the new archive to an
// unnamed temporary file that replaces the old one only when it is complete.
#include <dirent.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "ZEArchive.h"
#include "ZEContext.h"
#include "ZECrypt.h"
#include "ZEParallelDeflate.h"
#include "ZESources.h"
#include "ZEWriter.h"
#include "platform/AtomicReplace.h"
#include "platform/DosTime.h"
#include "platform/TempFiles.h"
#include "platform/Trash.h"

namespace ze {

namespace {

constexpr uint64_t kBufferLimit = 4ull << 20;     // larger files are streamed
constexpr uint64_t kInFlightBytes = 16ull << 20;  // read or compressed, waiting to be written
constexpr size_t kInFlightJobs = 64;
constexpr uint64_t kZip64Reserve = 0xF0000000ull;  // streamed files this large get a Zip64 record

struct AddItem {
    Source* src = nullptr;  // new content, or null to copy an old entry
    size_t old = SIZE_MAX;  // index of the old entry copied or replaced
    OutEntry out;
    int level = 6;
    std::string userExtra;
    // Worker results.
    ByteBuffer data;  // compressed (and encrypted) bytes
    int error = 0;
    bool done = false;
    bool streamed = false;
};

struct Settings {
    std::string password;
    bool encrypt = false;
    int writeEncoding = 0, codePage = 0;
};

bool readWholeFile(const std::string& path, uint64_t size, ByteBuffer& buf) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    buf.resize(size_t(size));
    size_t done = 0;
    while (done < buf.size()) {
        ssize_t r = read(fd, buf.data() + done, buf.size() - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += size_t(r);
    }
    close(fd);
    buf.resize(done);
    return true;
}

libdeflate_compressor* compressorFor(int level) {
    thread_local std::map<int,
                          std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>>
        cache;
    auto it = cache.find(level);
    if (it == cache.end())
        it = cache
                 .emplace(level,
                          std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>(
                              libdeflate_alloc_compressor(level), libdeflate_free_compressor))
                 .first;
    return it->second.get();
}

// The component's levels 1-9 on libdeflate's scale (1-12). Every level compresses at least
// as well as Info-ZIP's zip at the same level (measured on sources, documentation, programs
// and a file of numbers; bench/levels.sh), and no level gives larger output than the one
// below it: libdeflate's levels 3 and 4 compress a file of numbers worse than its level 2,
// so level 3 stays at 2 and level 4 starts at 5. Levels 10-12 (near-optimal parsing) are
// left out: two to five times slower than zip -9 for a few percent.
int deflateLevel(int level) {
    static const int kMap[10] = {0, 1, 2, 2, 5, 5, 6, 7, 8, 9};
    return kMap[std::clamp(level, 0, 9)];
}

// Compresses one buffered item (runs on a worker thread; touches no callback).
void compressItem(AddItem& it, const Settings& set) {
    // Reused by the worker from file to file: its memory stays flat, and the result held
    // for the writer is exactly as large as the stored data.
    thread_local ByteBuffer in, packed;
    in.clear();
    const Source& s = *it.src;
    if (s.stream >= 0) {
        in.assign(s.streamData.data(), s.streamData.size());
    } else if (s.isLink) {
        in.assign(reinterpret_cast<const uint8_t*>(s.linkTarget.data()), s.linkTarget.size());
    } else if (!readWholeFile(s.path, uint64_t(s.st.st_size), in)) {
        it.error = ZE_ERR_NO_PERMISSION;
        return;
    }
    it.out.usize = in.size();
    it.out.crc = crc32(0, in.data(), in.size());
    it.out.method = 0;
    const uint8_t* payload = in.data();
    size_t len = in.size();
    if (it.level > 0 && !in.empty()) {
        libdeflate_compressor* c = compressorFor(deflateLevel(it.level));
        packed.resize(libdeflate_deflate_compress_bound(c, in.size()));
        size_t n =
            libdeflate_deflate_compress(c, in.data(), in.size(), packed.data(), packed.size());
        if (n > 0 && n < in.size()) {
            it.out.method = 8;
            payload = packed.data();
            len = n;
        }
    }
    const size_t head = set.encrypt ? 12 : 0;  // the encryption header comes first
    it.data.resize(head + len);
    if (len > 0)
        memcpy(it.data.data() + head, payload, len);
    if (set.encrypt) {
        ZipCrypto zc(set.password);
        ZipCrypto::makeHeader(it.data.data(), uint8_t(it.out.crc >> 24));
        zc.encrypt(it.data.data(), it.data.size());
        it.out.flags |= 1;
    }
    it.out.csize = it.data.size();
}

// Stored form of a new name and comment as the write encoding asks.
void encodeName(OutEntry& e, const std::string& name, const std::string& comment,
                const Settings& set) {
    bool needName = platform::NeedsEncoding(name), needComment = platform::NeedsEncoding(comment);
    e.name = name;
    e.comment = comment;
    if (!needName && !needComment)
        return;
    int enc = set.writeEncoding;
    if (enc == ZE_ENC_AUTO)
        enc = needName && needComment ? ZE_ENC_UTF8 : ZE_ENC_UPATH;
    auto unicodeRecord = [&](uint16_t tag, const std::string& stored, const std::string& utf8) {
        if (const auto r = zrec::MakeExtraRecord(tag, zrec::BuildUnicodeData(stored, utf8)))
            e.extra += *r;
    };
    switch (enc) {
        case ZE_ENC_UTF8:
            e.flags |= 0x800;
            break;
        case ZE_ENC_NONE:
            e.name =
                platform::ConvertCodePage(name, platform::kCodePageUtf8, unsigned(set.codePage));
            e.comment =
                platform::ConvertCodePage(comment, platform::kCodePageUtf8, unsigned(set.codePage));
            break;
        case ZE_ENC_OEM:
            e.name = platform::Utf8ToOem(name);
            e.comment = platform::Utf8ToOem(comment);
            break;
        default:  // Unicode path records beside OEM names
            e.name = platform::Utf8ToOem(name);
            e.comment = platform::Utf8ToOem(comment);
            if (needName && e.name.size() + name.size() < 0xFF00)
                unicodeRecord(zrec::kTagUnicodePath, e.name, name);
            if (needComment && e.comment.size() + comment.size() < 0xFF00)
                unicodeRecord(zrec::kTagUnicodeComment, e.comment, comment);
            break;
    }
}

// The modification time as an extended timestamp record (Unix seconds).
std::string timestampExtra(time_t mtime) {
    zrec::TZAExtTime t;
    t.modified = std::int64_t(mtime);
    return *zrec::MakeExtraRecord(zrec::kTagExtTime, zrec::BuildExtTimeData(t));
}

bool hasStoreSuffix(const std::string& name, const std::vector<std::string>& suffixes) {
    for (const std::string& s : suffixes) {
        if (s.size() > name.size() || s.empty())
            continue;
        if (strcasecmp(name.c_str() + name.size() - s.size(), s.c_str()) == 0)
            return true;
    }
    return false;
}

std::vector<std::string> splitSuffixes(const std::string& list) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < list.size()) {
        size_t e = list.find_first_of(":;|", pos);
        if (e == std::string::npos)
            e = list.size();
        std::string s = list.substr(pos, e - pos);
        while (!s.empty() && s.front() == ' ')
            s.erase(0, 1);
        if (!s.empty() && s != "*")
            out.push_back(s[0] == '.' ? s : "." + s);
        pos = e + 1;
    }
    return out;
}

// The worker pool: workers take items in order, at most a window ahead of the writer.
class Pool {
public:
    Pool(std::vector<AddItem>& items, const Settings& set, std::atomic<bool>& abort)
        : items_(items), set_(set), abort_(abort) {
        unsigned n = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
        for (unsigned i = 0; i < n; ++i)
            threads_.emplace_back([this] { run(); });
    }
    ~Pool() {
        {
            std::lock_guard<std::mutex> g(m_);
            quit_ = true;
        }
        cv_.notify_all();
        for (auto& t : threads_)
            t.join();
    }
    // Waits until item i is compressed.
    void wait(size_t i) {
        std::unique_lock<std::mutex> g(m_);
        done_.wait(g, [&] { return items_[i].done; });
    }
    // The writer has consumed item i (its buffer is freed).
    void release(size_t i) {
        std::lock_guard<std::mutex> g(m_);
        written_ = i + 1;
        inFlight_ -= std::min(inFlight_, items_[i].data.capacity());
        items_[i].data.release();
        cv_.notify_all();
    }

private:
    void run() {
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> g(m_);
                for (;;) {
                    while (next_ < items_.size() &&
                           (!items_[next_].src || items_[next_].streamed || items_[next_].done))
                        ++next_;
                    if (quit_ || next_ >= items_.size())
                        return;
                    if (next_ < written_ + kInFlightJobs &&
                        (inFlight_ < kInFlightBytes || next_ <= written_))
                        break;
                    cv_.wait(g);
                }
                i = next_++;
                inFlight_ += uint64_t(std::max<off_t>(0, items_[i].src->st.st_size));
            }
            if (!abort_.load())
                compressItem(items_[i], set_);
            {
                std::lock_guard<std::mutex> g(m_);
                inFlight_ -= std::min<uint64_t>(
                    inFlight_, uint64_t(std::max<off_t>(0, items_[i].src->st.st_size)));
                inFlight_ += items_[i].data.capacity();
                items_[i].done = true;
            }
            done_.notify_all();
        }
    }
    std::vector<AddItem>& items_;
    const Settings& set_;
    std::atomic<bool>& abort_;
    std::mutex m_;
    std::condition_variable cv_, done_;
    std::vector<std::thread> threads_;
    size_t next_ = 0, written_ = 0;
    uint64_t inFlight_ = 0;
    bool quit_ = false;
};

bool isEmptyFolder(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (!d)
        return false;
    bool empty = true;
    while (dirent* de = readdir(d))
        if (strcmp(de->d_name, ".") != 0 && strcmp(de->d_name, "..") != 0)
            empty = false;
    closedir(d);
    return empty;
}

// Streams one large file through zlib into the archive; the local header is patched after.
int streamItem(JobContext& ctx, AddItem& it, const Settings& set, OutFile& out) {
    int fd = open(it.src->path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ZE_ERR_NO_PERMISSION;
    OutEntry& e = it.out;
    e.zip64Local = uint64_t(it.src->st.st_size) >= kZip64Reserve;
    e.method = it.level > 0 ? 8 : 0;
    e.needed = versionNeeded(e.method, e.zip64Local, set.encrypt);
    std::unique_ptr<ZipCrypto> zc;
    if (set.encrypt) {
        e.flags |= 1 | 8;  // check byte from the time: the CRC is not known yet
        zc = std::make_unique<ZipCrypto>(set.password);
    }
    e.lho = out.pos();
    if (!out.write(localHeader(e))) {
        close(fd);
        return ZE_ERR_WRITE;
    }
    uint64_t dataStart = out.pos();
    if (zc) {
        uint8_t h[12];
        ZipCrypto::makeHeader(h, uint8_t(e.dosTime >> 8));
        zc->encrypt(h, 12);
        out.write(h, 12);
    }
    uint32_t crc = 0;
    uint64_t total = 0;
    int rc = 0;
    auto emit = [&](uint8_t* p, size_t len) {
        if (zc)
            zc->encrypt(p, len);
        if (!out.write(p, len))
            rc = ZE_ERR_WRITE;
        return rc == 0;
    };
    if (e.method == 8) {
        // Compressed in chunks on all cores, joined into one deflate stream.
        int r = deflateParallel(
            fd, deflateLevel(it.level),
            [&](uint8_t* p, size_t len, size_t raw) {
                return emit(p, len) && (raw == 0 || ctx.progress(int64_t(raw)));
            },
            ctx.abortFlag(), crc, total);
        if (rc == 0 && r != 0)
            rc = r;
    } else {
        ByteBuffer in(1 << 20);
        for (;;) {
            ssize_t n = read(fd, in.data(), in.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                rc = ZE_ERR_READ;
                break;
            }
            if (n == 0)
                break;
            crc = crc32(crc, in.data(), size_t(n));
            total += uint64_t(n);
            if (!emit(in.data(), size_t(n)))
                break;
            if (!ctx.progress(n)) {
                rc = -1;
                break;
            }
        }
    }
    close(fd);
    if (rc)
        return rc;
    e.crc = crc;
    e.usize = total;
    e.csize = out.pos() - dataStart;
    if (!e.zip64Local && (e.usize >= 0xFFFFFFFF || e.csize >= 0xFFFFFFFF))
        return ZE_ERR_READ;  // grew past the reserved size while being read
    if (zc && !out.write(dataDescriptor(e)))
        return ZE_ERR_WRITE;
    if (!out.patch(e.lho, localHeader(e)))
        return ZE_ERR_WRITE;
    return 0;
}

// After a move: removes what was stored, each under the very path it was stored from (a
// stored link is removed as the link), then the folders that became empty, deepest first.
// With undo they go to the trash instead.
void removeMoved(JobContext& ctx, const std::vector<std::string>& moved) {
    const bool undo = ctx.has(ZE_FLAG_UNDO);
    auto remove = [&](const std::string& p) {
        if (undo) {
            const platform::TrashResult r = platform::MoveToTrash(p);
            if (!r)
                ctx.say(ZE_ERR_DELETE, ZE_MSG_CANNOT_DELETE, p);
        } else if (unlink(p.c_str()) != 0) {
            ctx.say(ZE_ERR_DELETE, ZE_MSG_CANNOT_DELETE, p);
        }
    };
    std::vector<std::string> files, dirs;
    for (const std::string& p : moved) {
        struct stat st {};
        if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            dirs.push_back(p);
        else
            files.push_back(p);
    }
    for (const std::string& p : files)
        remove(p);
    std::sort(dirs.rbegin(), dirs.rend());
    for (const std::string& d : dirs) {
        if (!undo)
            rmdir(d.c_str());
        else if (isEmptyFolder(d))
            remove(d);
    }
}

}  // namespace

int32_t runAdd(JobContext& ctx) {
    // Large buffers freed during the job are kept for the next file or chunk; they leave
    // the process with the job.
    ByteBuffer::KeepFreed keepFreed;
    ctx.announce();
    ZEJobRec& job = ctx.job();
    Settings set;
    set.writeEncoding = job.WriteEncoding & 0x7F;
    set.codePage = job.NameCodePage;
    set.encrypt = ctx.has(ZE_FLAG_ENCRYPT);
    std::string archive = ctx.dataText(ZE_DATA_ARCHIVE, 0);
    if (set.encrypt)
        set.password = ctx.dataText(ZE_DATA_PASSWORD, 0, nullptr, nullptr, true);
    std::string root = ctx.dataText(ZE_DATA_ROOTDIR, 0);
    bool commentGiven = false;
    std::string comment = ctx.dataText(ZE_DATA_ZIPCOMMENT, 0, &commentGiven);
    std::vector<std::string> includes = ctx.dataList(ZE_DATA_INCLUDE);
    std::vector<std::string> excludes = ctx.dataList(ZE_DATA_EXCLUDE);
    std::vector<std::string> suffixes = splitSuffixes(ctx.dataText(ZE_DATA_STORESUFFIXES, 0));
    std::string tempDir = ctx.dataText(ZE_DATA_TEMPDIR, 0);
    if (!tempDir.empty() && tempDir.back() != '/')
        tempDir += '/';
    platform::SetWaitForDisk(ctx.has(ZE_FLAG_WAIT_FOR_DISK));
    if (ctx.stopped())
        return ctx.stopResult();
    if (archive.empty())
        return -ZE_ERR_BAD_OPTIONS;
    if (set.encrypt && set.password.empty()) {
        Reply r = ctx.call(ZE_CB_PASSWORD, archive, {}, 0, 0, 1);
        if (ctx.stopped())
            return ctx.stopResult();
        if (r.answer == 1 && r.text)
            set.password = r.raw();
        if (set.password.empty())
            return -ZE_ERR_PASSWORD_CANCELLED;
    }
    char cwd[4096];
    if (root.empty())
        root = getcwd(cwd, sizeof cwd) ? cwd : "/";
    if (root.front() != '/' && getcwd(cwd, sizeof cwd))
        root = std::string(cwd) + "/" + root;
    if (root.back() != '/')
        root += '/';

    // The existing archive is kept as it is; its entries are copied into the new one.
    Archive old;
    struct stat ast {};
    bool haveOld = stat(archive.c_str(), &ast) == 0 && ast.st_size > 0;
    if (haveOld) {
        int rc = old.open(archive);
        if (rc) {
            ctx.say(rc,
                    rc == ZE_ERR_OPEN_ZIP || rc == ZE_ERR_NOT_FOUND ? ZE_MSG_CANNOT_READ
                                                                    : ZE_MSG_NOT_A_ZIP,
                    archive);
            return -rc;
        }
        if (!commentGiven || comment.empty())
            comment = old.comment();
    }
    std::vector<Entry>& oldEntries = old.entries();
    std::map<std::string, size_t> oldByName;
    for (size_t i = 0; i < oldEntries.size(); ++i)
        oldByName.emplace(Archive::decodeName(oldEntries[i], ZE_ENC_AUTO, set.codePage), i);

    SourceOptions so;
    so.root = root;
    so.recurse = ctx.has(ZE_FLAG_RECURSE);
    so.dirNames = !ctx.has(ZE_FLAG_NO_DIRNAMES);
    so.dirEntries = !ctx.has(ZE_FLAG_NO_EMPTY_DIRS);
    so.hidden = ctx.has(ZE_FLAG_HIDDEN);
    so.followLinks = ctx.has(ZE_FLAG_FOLLOW_LINKS);
    so.exact = ctx.has(ZE_FLAG_EXACT_NAMES);
    so.dateLimit = job.DateLimit;
    bool freshen = ctx.has(ZE_FLAG_FRESHEN), update = ctx.has(ZE_FLAG_UPDATE);
    if (freshen || update) {
        // Old entries matching a specification are candidates even when the walk above
        // would not name them (for example "*.*" with paths).
        so.hidden = true;
    }
    std::vector<Source> sources = collectSources(ctx, includes, excludes, so);
    if (haveOld) {
        // Never add the archive to itself.
        sources.erase(std::remove_if(sources.begin(), sources.end(),
                                     [&](const Source& src) {
                                         return src.stream < 0 && src.st.st_dev == ast.st_dev &&
                                                src.st.st_ino == ast.st_ino;
                                     }),
                      sources.end());
    }
    if (ctx.stopped())
        return ctx.stopResult();
    if (freshen || update) {
        std::map<std::string, bool> have;
        for (const Source& s : sources)
            have[s.name] = true;
        for (size_t i = 0; i < oldEntries.size(); ++i) {
            std::string n = Archive::decodeName(oldEntries[i], ZE_ENC_AUTO, set.codePage);
            if (have.count(n) || n.empty() || n.back() == '/')
                continue;
            bool match = false;
            for (const std::string& inc : includes)
                match = match || (so.exact ? inc == n : MatchFileSpecs(inc, n, true));
            if (!match)
                continue;
            Source s;
            s.path = root + n;
            s.name = n;
            if (stat(s.path.c_str(), &s.st) == 0 && S_ISREG(s.st.st_mode))
                sources.push_back(std::move(s));
        }
    }

    // Names, duplicates, freshen/update decisions.
    std::vector<AddItem> newItems;
    std::map<std::string, bool> taken;
    for (Source& s : sources) {
        if (ctx.stopped())
            return ctx.stopResult();
        if (s.stream >= 0 && !readStream(ctx, s)) {
            ctx.skip(s.name, ZE_ERR_READ, ZE_SKIP_NO_OPEN);
            continue;
        }
        Reply r = ctx.call(ZE_CB_ADD_NAME, s.stream >= 0 ? s.name : s.path, s.name);
        if (r.answer == 1 && r.text) {
            std::string n = r.utf8(set.codePage);
            std::replace(n.begin(), n.end(), '\\', '/');
            while (!n.empty() && n.front() == '/')
                n.erase(0, 1);
            if (s.isDir && !n.empty() && n.back() != '/')
                n += '/';
            if (n.empty()) {
                ctx.skip(s.path, ZE_ERR_INVALID_NAME, ZE_SKIP_BAD_NAME);
                continue;
            }
            s.name = n;
        }
        if (!taken.emplace(s.name, true).second) {
            ctx.skip(s.name, ZE_ERR_DUPLICATE, ZE_SKIP_DUP_NAME);
            continue;
        }
        auto oi = oldByName.find(s.name);
        uint32_t fileDos = platform::TimeToDos(s.st.st_mtime);
        if (freshen && oi == oldByName.end())
            continue;
        if ((freshen || update) && oi != oldByName.end() && !s.isDir &&
            fileDos <= oldEntries[oi->second].dosTime)
            continue;
        if ((freshen || update) && s.isDir && oi != oldByName.end())
            continue;
        AddItem it;
        it.src = &s;
        it.old = oi == oldByName.end() ? SIZE_MAX : oi->second;
        newItems.push_back(std::move(it));
    }
    if (newItems.empty()) {
        if (ctx.stopped())
            return ctx.stopResult();
        ctx.say(0, ZE_MSG_NOTHING_TO_DO);
        return 0;
    }

    // Per-file questions: comment, level and extra data.
    int64_t totalBytes = 0;
    for (AddItem& it : newItems) {
        if (ctx.stopped())
            return ctx.stopResult();
        Source& s = *it.src;
        std::string oldComment = it.old != SIZE_MAX ? oldEntries[it.old].comment : std::string();
        std::string fileComment = oldComment;
        Reply rc = ctx.call(ZE_CB_COMMENT, s.name, oldComment);
        if (rc.answer == 1)
            fileComment = rc.text ? rc.utf8(set.codePage).substr(0, 255) : "";
        it.level = std::clamp(job.Level, 0, 9);
        if (hasStoreSuffix(s.name, suffixes) || s.isDir || s.isLink)
            it.level = 0;
        Reply rl = ctx.call(ZE_CB_LEVEL_EXTRA, s.name, {}, 0, 0, 0, it.level, 0, "");
        if ((rl.answer & 2) && rl.arg2 >= 0 && rl.arg2 <= 9)
            it.level = rl.arg2;
        if ((rl.answer & 1) && rl.text && rl.arg1 > 0)
            it.userExtra = rl.data().substr(0, 2047);
        OutEntry& e = it.out;
        encodeName(e, s.name, fileComment, set);
        e.dosTime = platform::TimeToDos(s.st.st_mtime);
        e.extra += timestampExtra(s.st.st_mtime);
        e.extra += zrec::CleanExtraWithout(it.userExtra, {zrec::kTagZip64, zrec::kTagExtTime});
        e.extAttr = (uint32_t(s.st.st_mode & 0xFFFF) << 16) | (s.isDir ? 0x10 : 0) |
                    ((s.st.st_mode & 0222) ? 0 : 0x01);
        e.madeBy = 0x031E;
        if (s.isDir) {
            e.needed = 20;
            it.done = true;
        } else if (s.stream < 0 && uint64_t(s.st.st_size) > kBufferLimit) {
            it.streamed = true;
        }
        totalBytes += s.isDir ? 0 : int64_t(s.st.st_size);
    }

    // Writing order: old entries in place (replaced ones by their new content), then the rest.
    std::vector<AddItem> items;
    items.reserve(oldEntries.size() + newItems.size());
    std::vector<size_t> replacement(oldEntries.size(), SIZE_MAX);
    for (size_t k = 0; k < newItems.size(); ++k)
        if (newItems[k].old != SIZE_MAX)
            replacement[newItems[k].old] = k;
    for (size_t i = 0; i < oldEntries.size(); ++i) {
        if (replacement[i] != SIZE_MAX) {
            items.push_back(std::move(newItems[replacement[i]]));
        } else {
            AddItem it;
            it.old = i;
            it.done = true;
            items.push_back(std::move(it));
        }
    }
    for (AddItem& it : newItems)
        if (it.old == SIZE_MAX)
            items.push_back(std::move(it));

    // The new archive is written to a file without a name in the temporary folder (the
    // folder of the file the archive name leads to, unless TempDir names another), so that a
    // job killed at any moment leaves nothing behind; only a complete archive takes the name.
    const std::string target = platform::ResolveLinks(archive);
    std::string folder = tempDir;
    if (folder.empty())
        folder =
            target.rfind('/') == std::string::npos ? "./" : target.substr(0, target.rfind('/') + 1);
    std::string tmp;  // named only where the file system has no unnamed files
    int fd = platform::CreateUnnamedFile(folder);
    if (fd < 0) {
        tmp = platform::CreateTempFile(folder, ".ztmp");
        fd = tmp.empty() ? -1 : open(tmp.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (fd < 0) {
        if (!tmp.empty())
            unlink(tmp.c_str());
        ctx.say(ZE_ERR_TEMP_FILE, ZE_MSG_NO_TEMP_FILE, archive);
        return -ZE_ERR_TEMP_FILE;
    }
    auto fail = [&](int32_t result) {
        close(fd);
        if (!tmp.empty())
            unlink(tmp.c_str());
        return result;
    };
    ctx.totals(int64_t(newItems.size()), totalBytes);
    OutFile out(fd);
    std::vector<OutEntry> central;
    central.reserve(items.size());
    int32_t added = 0;
    std::vector<std::string> moved;
    // Whatever stands in front of the old archive (a self-extractor stub with its
    // configuration block) stays in front; the offsets written count from the file start.
    if (haveOld && old.start() > 0)
        out.write(old.data(), size_t(old.start()));
    {
        Pool pool(items, set, ctx.abortFlag());
        for (size_t i = 0; i < items.size(); ++i) {
            if (ctx.stopped())
                break;
            AddItem& it = items[i];
            if (!it.src) {
                // Copy an old entry unchanged: local header, data and descriptor.
                const Entry& oe = oldEntries[it.old];
                if (oe.localError) {
                    pool.release(i);
                    return fail(-oe.localError);
                }
                OutEntry ce;
                ce.name = oe.name;
                ce.extra = zrec::CleanExtraWithout(oe.extra, {zrec::kTagZip64});
                ce.comment = oe.comment;
                ce.madeBy = oe.madeBy;
                ce.needed = oe.needed;
                ce.flags = oe.flags;
                ce.method = oe.method;
                ce.dosTime = oe.dosTime;
                ce.crc = oe.crc;
                ce.extAttr = oe.extAttr;
                ce.intAttr = oe.intAttr;
                ce.csize = oe.csize;
                ce.usize = oe.usize;
                ce.lho = out.pos();
                out.write(old.data() + oe.lho, size_t(oe.rangeEnd - oe.lho));
                old.dropPagesBelow(oe.rangeEnd);
                central.push_back(std::move(ce));
                pool.release(i);
                continue;
            }
            Source& s = *it.src;
            ctx.newItem(s.name, s.isDir ? 0 : int64_t(s.st.st_size));
            if (it.streamed) {
                int rc = streamItem(ctx, it, set, out);
                pool.release(i);
                if (rc == -1 || ctx.stopped())
                    break;
                if (rc) {
                    if (rc == ZE_ERR_WRITE)
                        return fail(-ZE_ERR_WRITE);
                    ctx.skip(s.path, rc, ZE_SKIP_NO_OPEN);
                    if (ctx.stopped())
                        break;
                    continue;
                }
            } else {
                pool.wait(i);
                if (ctx.stopped())
                    break;
                if (it.error) {
                    ctx.skip(s.path, it.error, ZE_SKIP_NO_OPEN);
                    pool.release(i);
                    if (ctx.stopped())
                        break;
                    continue;
                }
                OutEntry& e = it.out;
                e.needed = versionNeeded(e.method, e.csize >= 0xFFFFFFFF || e.usize >= 0xFFFFFFFF,
                                         e.flags & 1);
                e.zip64Local = e.csize >= 0xFFFFFFFF || e.usize >= 0xFFFFFFFF;
                e.lho = out.pos();
                out.write(localHeader(e));
                out.write(it.data.data(), it.data.size());
                if (!s.isDir)
                    ctx.progress(int64_t(e.usize));
                pool.release(i);
            }
            if (out.failed())
                return fail(-ZE_ERR_WRITE);
            central.push_back(it.out);
            if (ctx.verbose()) {
                const OutEntry& e = it.out;
                int pct = e.usize ? int(100 - (100 * e.csize) / std::max<uint64_t>(e.usize, 1)) : 0;
                ctx.message(0, "added: " + s.name + (e.method == 8 ? " (deflated " : " (stored ") +
                                   std::to_string(std::max(pct, 0)) + "%)");
            }
            ctx.endItem(s.name);
            ++added;
            // A file reached through a followed link lives elsewhere: it stays.
            if (s.stream < 0 && !s.throughLink)
                moved.push_back(s.path);
        }
    }
    if (ctx.stopped())
        return fail(ctx.stopResult());

    uint64_t cdOffset = out.pos();
    int64_t cdBytes = 0;
    for (const OutEntry& e : central)
        cdBytes += int64_t(46 + e.name.size() + e.extra.size() + e.comment.size());
    ctx.step(7, cdBytes);
    for (const OutEntry& e : central)
        out.write(centralHeader(e));
    uint64_t cdSize = out.pos() - cdOffset;
    out.write(endRecords(central.size(), cdOffset, cdSize, comment));
    if (!out.flush() || out.failed())
        return fail(-ZE_ERR_WRITE);
    if (ctx.stopped())
        return fail(ctx.stopResult());
    // With undo the trash keeps the old archive (a second name of it) while its name moves
    // to the new one, as the component's own rewrites do.
    if (haveOld && ctx.has(ZE_FLAG_UNDO) && !ctx.has(ZE_FLAG_TEMP_ARCHIVE)) {
        const platform::TrashResult kept = platform::LinkToTrash(archive);
        if (!kept && ctx.verbose())
            ctx.message(0, "Keeping " + archive + " in the trash failed: " + kept.error);
    }
    std::string error;
    const bool replaced = tmp.empty() ? platform::ReplaceFileFrom(fd, archive, &error)
                                      : platform::ReplaceFile(tmp, archive, &error);
    if (!replaced) {
        fail(0);
        ctx.say(ZE_ERR_CREATE, ZE_MSG_CANNOT_REPLACE, archive);
        return -ZE_ERR_CREATE;
    }
    close(fd);
    if (ctx.has(ZE_FLAG_ZIPTIME) && !central.empty()) {
        uint32_t newest = 0;
        for (const OutEntry& e : central)
            newest = std::max(newest, e.dosTime);
        if (const std::optional<time_t> t = platform::DosToTime(newest)) {
            struct timespec ts[2] = {{0, UTIME_OMIT}, {*t, 0}};
            utimensat(AT_FDCWD, archive.c_str(), ts, 0);
        }
    }
    if (ctx.has(ZE_FLAG_MOVE))
        removeMoved(ctx, moved);
    return added;
}

}  // namespace ze
