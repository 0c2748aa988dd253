// The extract and test job: selects entries, asks for names, passwords and overwrite
// decisions, decrypts and decompresses each entry with bounded output, checks its CRC and
// puts the file in place only when it is good.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <thread>
#include <unordered_map>

#include "ZEArchive.h"
#include "ZEContext.h"
#include "ZECrypt.h"
#include "ZEDecode.h"
#include "ZEDecodeAhead.h"
#include "ZEOutput.h"
#include "ZEUtil.h"
#include "ZEWriteBehind.h"

namespace ze {

namespace {

// Pieces of a large plain entry's mapped data handed to a decoder at a time: the pages
// behind are let go after each.
constexpr size_t kStreamPiece = 8u << 20;

struct ExtractJob {
    JobContext& ctx;
    Archive& ar;
    bool test;
    std::vector<std::string> passwords;
    bool noMorePrompts = false;
    std::unique_ptr<TargetDir> target;
    struct DirTime {
        std::vector<std::string> parts;
        time_t mtime;
        unsigned mode;
    };
    std::vector<DirTime> dirTimes;
    mode_t umask_ = 022;
    std::string base;

    bool fail(const std::string& name, int err, int skipType, int why,
              const std::string& detail = {}) {
        if (detail.empty())
            ctx.say(err, why, name);
        else
            ctx.say(err, why, detail, name);
        ctx.skip(name, err, skipType);
        return false;
    }

    bool passwordFits(const Entry& e, const std::string& pw, int aesStrength) {
        const uint8_t* d = ar.data() + e.dataStart;
        if (aesStrength)
            return aesCheckPassword(pw, aesStrength, d, size_t(e.csize));
        if (e.csize < 12)
            return false;
        uint8_t h[12];
        memcpy(h, d, 12);
        ZipCrypto zc(pw);
        zc.decrypt(h, 12);
        if (e.flags & 8)
            return h[11] == uint8_t(e.dosTime >> 8) || h[11] == uint8_t(e.crc >> 24);
        return h[11] == uint8_t(e.crc >> 24);
    }

    // Finds a password for the entry: known ones first, then the component is asked.
    // 0 found, 1 none (skip the entry).
    int findPassword(const Entry& e, const std::string& name, int aes, std::string& pw) {
        for (const std::string& p : passwords)
            if (passwordFits(e, p, aes)) {
                pw = p;
                return 0;
            }
        int tries = ctx.job().PasswordTries;
        while (tries > 0 && !noMorePrompts && !ctx.stopped()) {
            Reply r = ctx.call(ZE_CB_PASSWORD, name, {}, 0, 0, tries);
            if (ctx.stopped())
                return 1;
            if (r.answer == 3)
                noMorePrompts = true;
            if (r.answer != 1 || !r.text)
                return 1;
            std::string p = r.raw();
            if (!p.empty() && passwordFits(e, p, aes)) {
                passwords.push_back(p);
                pw = p;
                return 0;
            }
            tries = std::min(tries - 1, r.arg1 > 0 ? r.arg1 : tries - 1);
        }
        return 1;
    }

    DecodeAhead* ahead = nullptr;
    WriteBehind* writer = nullptr;

    bool entry(size_t index, size_t pos, Entry& e, const std::string& name);
};

bool ExtractJob::entry(size_t index, size_t pos, Entry& e, const std::string& name) {
    if (e.localError)
        return fail(name, e.localError, ZE_SKIP_ZIP_FORMAT_WRONG, ZE_MSG_BAD_LOCAL);
    if (e.nameMismatch)
        return fail(name, ZE_ERR_INVALID_ZIP, ZE_SKIP_ZIP_FORMAT_WRONG, ZE_MSG_NAMES_DIFFER);
    bool isDir = e.isDir();
    int aes = 0, aesVersion = 0;
    uint16_t method = e.method;
    if (e.encrypted()) {
        if (e.strongEncryption())
            return fail(name, ZE_ERR_ERROR, ZE_SKIP_COMPRESSION_UNKNOWN, ZE_MSG_ENCRYPTION);
        uint16_t real = 0;
        if (e.aesInfo(aes, real, aesVersion))
            method = real;
        else if (e.method == 99)
            return fail(name, ZE_ERR_ERROR, ZE_SKIP_COMPRESSION_UNKNOWN, ZE_MSG_ENCRYPTION);
    }
    if (!isDir && !methodSupported(method))
        return fail(name, ZE_ERR_ERROR, ZE_SKIP_COMPRESSION_UNKNOWN, ZE_MSG_METHOD,
                    std::to_string(method));

    std::vector<std::string> parts;
    std::string key;  // the target path below the extract folder
    Dir dir;
    int dirFd = -1;
    bool exists = false;
    std::string leaf;
    if (!test) {
        std::string rel = name;
        if (!safeComponents(rel, parts) || (parts.empty() && !isDir))
            return fail(name, ZE_ERR_INVALID_NAME, ZE_SKIP_BAD_NAME, ZE_MSG_UNSAFE_NAME);
        if (parts.empty())
            return true;  // "./": the target folder itself
        if (!ctx.has(ZE_FLAG_DIRNAMES)) {
            if (isDir)
                return true;  // folders are not made without folder names
            parts.erase(parts.begin(), parts.end() - 1);
        }
        std::string shown;
        for (const std::string& p : parts)
            shown += (shown.empty() ? "" : "/") + p;
        if (isDir)
            shown += '/';
        Reply r = ctx.call(ZE_CB_EXTRACT_NAME, shown, base);
        if (ctx.stopped())
            return false;
        if (r.answer == 1 && r.text) {
            std::string n = r.utf8(ctx.codePage());
            auto endsSep = [](const std::string& s) {
                return !s.empty() && (s.back() == '/' || s.back() == '\\');
            };
            std::vector<std::string> np;
            if (n != shown && endsSep(n) == endsSep(shown)) {
                if (!safeComponents(n, np) || np.empty())
                    return fail(n, ZE_ERR_INVALID_NAME, ZE_SKIP_BAD_NAME, ZE_MSG_UNSAFE_NAME);
                parts = np;
            }
        }
        for (const std::string& p : parts) {
            if (!key.empty())
                key += '/';
            key += p;
        }
        // A file still being written at this path (or at one of its folders) must be in
        // place before this entry looks at the disk.
        if (writer && writer->busyWith(key))
            writer->drain();
        dir = target->openDir(parts, isDir ? parts.size() : parts.size() - 1, true);
        if (!dir)
            return fail(
                name, ZE_ERR_CREATE, ZE_SKIP_NO_ACCESS,
                errno == ELOOP || errno == ENOTDIR ? ZE_MSG_FOLDER_IS_LINK : ZE_MSG_CANNOT_MKDIR);
        dirFd = dir->fd;
        if (isDir) {
            unsigned m = e.unixMode();
            dirTimes.push_back({parts, e.mtime(), m});
            return true;
        }
        leaf = parts.back();
        struct stat st {};
        // In a folder the job made, a name it has not written is free: no look needed.
        if (target->mayExist(dir, key) &&
            fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            exists = true;
            if (S_ISDIR(st.st_mode))
                return fail(name, ZE_ERR_CREATE, ZE_SKIP_FILE_EXISTS, ZE_MSG_FOLDER_IN_WAY);
            bool fileOlder = st.st_mtime < e.mtime();
            if ((ctx.has(ZE_FLAG_FRESHEN) || ctx.has(ZE_FLAG_UPDATE)) && !fileOlder)
                return true;
            if (!ctx.has(ZE_FLAG_FRESHEN) && !ctx.has(ZE_FLAG_UPDATE)) {
                bool overwrite = ctx.has(ZE_FLAG_OVERWRITE);
                Reply o = ctx.call(ZE_CB_OVERWRITE, shown, {}, 0, 0, overwrite ? 1 : 0,
                                   int32_t(index), fileOlder ? 1 : 2);
                if (ctx.stopped())
                    return false;
                if (o.answer == 1)
                    overwrite = true;
                else if (o.answer == 2)
                    overwrite = false;
                if (!overwrite) {
                    ctx.skip(shown, 0, ZE_SKIP_NO_OVERWRITE);
                    return false;
                }
            }
        } else if (ctx.has(ZE_FLAG_FRESHEN)) {
            return true;  // freshen only replaces files that exist
        }
    } else if (isDir) {
        return true;
    }

    // Entry data, decrypted when needed, reaches the decoder in bounded pieces; the
    // archive's pages behind it are let go as it reads, whatever the entry's size.
    const uint8_t* data = ar.data() + e.dataStart;
    const size_t len = size_t(e.csize);
    const uint64_t dataStart = e.dataStart;
    auto dropBehind = [this, dataStart](size_t done) { ar.dropPagesBelow(dataStart + done); };
    std::unique_ptr<InSource> source;
    DecryptSource* crypt = nullptr;
    if (e.encrypted()) {
        std::string pw;
        if (findPassword(e, name, aes, pw) != 0) {
            if (ctx.stopped())
                return false;
            return fail(name, ZE_ERR_PASSWORD_FAILED, ZE_SKIP_BAD_PASSWORD, ZE_MSG_PASSWORD);
        }
        auto d = std::make_unique<DecryptSource>(pw, aes, data, len);
        if (!d->ok())
            return fail(name, ZE_ERR_INVALID_ZIP, ZE_SKIP_GENERAL_EXTRACT_ERROR,
                        aes ? ZE_MSG_AUTHENTICATION : ZE_MSG_DATA_ERROR);
        d->consumed = dropBehind;
        crypt = d.get();
        source = std::move(d);
    } else {
        auto m = std::make_unique<MemSource>(data, len, kStreamPiece);
        m->consumed = dropBehind;
        source = std::move(m);
    }
    // AES: the authentication code covers all of the cipher text and is known only at its
    // end, so output already written from data that fails it is thrown away like output
    // that fails its CRC.
    auto notAuthentic = [&] { return crypt && aes && !crypt->authentic(); };

    bool link = e.isSymlink() && !test;
    unsigned mode = e.unixMode() & 0777;
    if (!mode)
        mode = 0666 & ~umask_;
    const bool chmod = (mode & ~umask_) != mode;
    // Decoded ahead: the file is written by the writer threads once the data proved good.
    const bool behind = !test && !link && writer && ahead && ahead->eligible(pos);
    int fd = -1;
    std::string tmp;
    bool direct = false;  // written under its own name (nothing was there to replace)
    if (!test && !link && !behind) {
        fd = openOutput(dirFd, leaf, exists, mode, tmp, direct);
        if (fd < 0)
            return fail(name, ZE_ERR_CREATE, ZE_SKIP_NO_ACCESS, ZE_MSG_CANNOT_CREATE);
    }
    auto discard = [&]() {
        if (fd >= 0) {
            close(fd);
            unlinkat(dirFd, tmp.c_str(), 0);
            fd = -1;
        }
    };
    OutSink sink(fd, e.usize);
    std::string linkTarget;
    sink.progress = [&](uint64_t n) { return ctx.progress(int64_t(n)); };
    DecodeResult dr;
    Decoded* decoded = nullptr;
    if (link) {
        if (e.usize > 4096)
            return fail(name, ZE_ERR_INVALID_NAME, ZE_SKIP_BAD_NAME, ZE_MSG_LINK_TOO_LONG);
        // The link target is small: decode it through a pipe into memory.
        int p[2];
        if (pipe(p) != 0)
            return fail(name, ZE_ERR_CREATE, ZE_SKIP_NO_ACCESS, ZE_MSG_CANNOT_LINK);
        OutSink ls(p[1], e.usize);
        dr = decodeEntry(method, *source, e.usize, e.flags & 2, ls);
        close(p[1]);
        char buf[4097];
        ssize_t got = read(p[0], buf, sizeof buf - 1);
        close(p[0]);
        linkTarget.assign(buf, got > 0 ? size_t(got) : 0);
        if (dr != kDecodeStopped && notAuthentic())
            return fail(name, ZE_ERR_INVALID_ZIP, ZE_SKIP_GENERAL_EXTRACT_ERROR,
                        ZE_MSG_AUTHENTICATION);
        if (dr == kDecodeOk && ls.crc() != e.crc && !(aes && aesVersion == 2))
            return fail(name, ZE_ERR_ERROR, ZE_SKIP_GENERAL_EXTRACT_ERROR, ZE_MSG_CRC_ERROR);
    } else if (ahead && ahead->eligible(pos)) {
        // Decoded by a worker already: replay the bytes through the sink (file, or only
        // size and progress when written behind; CRC).
        decoded = &ahead->get(pos);
        dr = decoded->result;
        if (dr == kDecodeOk &&
            !sink.writeWhole(decoded->data.data(), decoded->data.size(), decoded->crc))
            dr = sink.writeFailed() ? kDecodeWrite : kDecodeStopped;
    } else {
        dr = decodeEntry(method, *source, e.usize, e.flags & 2, sink);
    }
    if (dr != kDecodeStopped && dr != kDecodeWrite && !ctx.stopped() && notAuthentic()) {
        discard();
        return fail(name, ZE_ERR_INVALID_ZIP, ZE_SKIP_GENERAL_EXTRACT_ERROR, ZE_MSG_AUTHENTICATION);
    }
    if (dr != kDecodeOk) {
        discard();
        if (ctx.stopped())
            return false;
        switch (dr) {
            case kDecodeSize:
                return fail(name, ZE_ERR_INVALID_ZIP, ZE_SKIP_SIZE_CHANGE, ZE_MSG_SIZE_MISMATCH);
            case kDecodeWrite:
                return fail(name, ZE_ERR_WRITE, ZE_SKIP_GENERAL_EXTRACT_ERROR, ZE_MSG_WRITE_ERROR);
            case kDecodeUnsupported:
                return fail(name, ZE_ERR_ERROR, ZE_SKIP_COMPRESSION_UNKNOWN, ZE_MSG_METHOD);
            default:
                return fail(name, ZE_ERR_INVALID_ZIP, ZE_SKIP_GENERAL_EXTRACT_ERROR,
                            ZE_MSG_DATA_ERROR);
        }
    }
    bool checkCrc = !(aes && aesVersion == 2);
    if (!link && checkCrc && sink.crc() != e.crc) {
        if (e.encrypted() && !aes) {
            discard();
            return fail(name, ZE_ERR_PASSWORD_FAILED, ZE_SKIP_BAD_PASSWORD, ZE_MSG_PASSWORD);
        }
        Reply r = ctx.call(ZE_CB_CRC_ERROR, name, {}, 0, 0, int32_t(sink.crc()), int32_t(e.crc));
        bool keep = r.answer == 1 && !test;
        if (!keep || ctx.stopped()) {
            discard();
            if (ctx.stopped())
                return false;
            return fail(name, ZE_ERR_ERROR, ZE_SKIP_GENERAL_EXTRACT_ERROR, ZE_MSG_CRC_ERROR);
        }
    }
    if (test)
        return true;
    if (link) {
        if (!symlinkInside(parts, linkTarget))
            return fail(name, ZE_ERR_INVALID_NAME, ZE_SKIP_BAD_NAME, ZE_MSG_LINK_OUTSIDE);
        if (exists)
            unlinkat(dirFd, leaf.c_str(), 0);
        target->noteWritten(dir, key);
        if (symlinkat(linkTarget.c_str(), dirFd, leaf.c_str()) != 0)
            return fail(name, ZE_ERR_CREATE, ZE_SKIP_NO_ACCESS, ZE_MSG_CANNOT_LINK);
        return true;
    }
    target->noteWritten(dir, key);
    if (behind) {
        writer->submit(
            {dir, leaf, exists, mode, chmod, e.mtime(), std::move(decoded->data), name, key});
        return true;
    }
    if (!placeFile(dirFd, fd, tmp, leaf, direct, mode, chmod, e.mtime()))
        return fail(name, ZE_ERR_CREATE, ZE_SKIP_NO_ACCESS, ZE_MSG_CANNOT_CREATE);
    return true;
}

}  // namespace

int32_t runExtract(JobContext& ctx) {
    ctx.announce();
    bool test = ctx.has(ZE_FLAG_TEST);
    std::string archive = ctx.dataText(ZE_DATA_ARCHIVE, 0);
    std::string password = ctx.dataText(ZE_DATA_PASSWORD, 0, nullptr, nullptr, true);
    std::string base = test ? std::string() : ctx.dataText(ZE_DATA_EXTRBASEDIR, 0);
    std::vector<std::string> includes = ctx.dataList(ZE_DATA_INCLUDE);
    std::vector<std::string> excludes = ctx.dataList(ZE_DATA_EXCLUDE);
    if (ctx.stopped())
        return ctx.stopResult();
    if (archive.empty())
        return -ZE_ERR_BAD_OPTIONS;
    Archive ar;
    int rc = ar.open(archive);
    if (rc) {
        ctx.say(
            rc,
            rc == ZE_ERR_OPEN_ZIP || rc == ZE_ERR_NOT_FOUND ? ZE_MSG_CANNOT_READ : ZE_MSG_NOT_A_ZIP,
            archive);
        return -rc;
    }
    ExtractJob job{ctx, ar, test, {}, false, nullptr, {}, 022, base};
    mode_t um = umask(0);
    umask(um);
    job.umask_ = um;
    if (!password.empty())
        job.passwords.push_back(password);
    int baseFd = -1;
    if (!test) {
        if (base.empty())
            base = ".";
        baseFd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (baseFd < 0) {
            ctx.say(ZE_ERR_NOT_FOUND, ZE_MSG_NO_EXTRACT_DIR, base);
            return -ZE_ERR_NOT_FOUND;
        }
        job.target = std::make_unique<TargetDir>(baseFd);
    }
    int enc = ctx.job().Encoding & 0x7F;
    std::vector<std::pair<size_t, std::string>> selected;
    int64_t total = 0;
    auto& entries = ar.entries();
    std::vector<bool> matched(includes.size());
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const Entry& e : entries)
        names.push_back(Archive::decodeName(e, enc, ctx.codePage()));
    std::vector<char> chosen(entries.size(), includes.empty() ? 1 : 0);
    if (ctx.has(ZE_FLAG_EXACT_NAMES)) {
        // Entry names taken literally, found as the component finds them: the entry with
        // the same bytes, else the first equal ignoring case.
        std::unordered_map<std::string_view, size_t> byName;
        byName.reserve(names.size());
        for (size_t i = 0; i < names.size(); ++i)
            byName.emplace(names[i], i);
        auto find = [&](const std::string& name) {
            if (auto it = byName.find(std::string_view(name)); it != byName.end())
                return it->second;
            for (size_t i = 0; i < names.size(); ++i)
                if (CompareFileNames(names[i], name, true) == 0)
                    return i;
            return names.size();
        };
        for (size_t k = 0; k < includes.size(); ++k)
            if (size_t i = find(includes[k]); i < names.size())
                chosen[i] = matched[k] = true;
        for (const std::string& s : excludes)
            if (size_t i = find(s); i < names.size())
                chosen[i] = 0;
    } else {
        for (size_t i = 0; i < entries.size(); ++i) {
            for (size_t k = 0; k < includes.size(); ++k)
                if (MatchFileSpecs(includes[k], names[i], true))
                    chosen[i] = matched[k] = true;
            for (const std::string& s : excludes)
                chosen[i] = chosen[i] && !MatchFileSpecs(s, names[i], true);
        }
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!chosen[i])
            continue;
        const std::string& n = names[i];
        selected.emplace_back(i, n);
        total += int64_t(std::min<uint64_t>(entries[i].usize, INT64_MAX / 4));
    }
    // A name that matches no entry is said, as a file not found.
    for (size_t k = 0; k < includes.size(); ++k)
        if (!matched[k] && ctx.skip(includes[k], ZE_ERR_NOT_FOUND, ZE_SKIP_NOT_FOUND))
            return ctx.stopResult();
    ctx.totals(int64_t(selected.size()), total);
    std::vector<size_t> order;
    for (auto& sel : selected)
        order.push_back(sel.first);
    DecodeAhead ahead(ar, order, ctx.abortFlag());
    job.ahead = &ahead;
    std::unique_ptr<WriteBehind> writer;
    if (!test && selected.size() > 1)
        writer = std::make_unique<WriteBehind>(
            std::max(1u, std::min(2u, std::thread::hardware_concurrency())));
    job.writer = writer.get();
    int32_t done = 0;
    // Files the writer threads could not write count as not done.
    auto reportWriteFailures = [&]() {
        if (!writer)
            return;
        for (const WriteFailure& f : writer->takeFailures()) {
            --done;
            job.fail(f.name, f.err, f.skipType, f.why);
        }
    };
    for (size_t pos = 0; pos < selected.size(); ++pos) {
        auto& [i, n] = selected[pos];
        if (ctx.stopped())
            break;
        ctx.newItem(n, int64_t(entries[i].usize));
        if (ctx.stopped())
            break;
        if (job.entry(i, pos, entries[i], n)) {
            ++done;
            if (ctx.verbose())
                ctx.message(0, (test ? "tested: " : "extracted: ") + n);
        }
        ahead.release(pos);
        ar.dropPagesBelow(entries[i].lho);
        ctx.endItem(n);
        reportWriteFailures();
    }
    if (writer) {
        writer->drain();
        reportWriteFailures();
    }
    if (ctx.stopped())
        ctx.abortFlag().store(true);
    // Folder times last: writing files into them changed them.
    if (job.target) {
        for (auto& d : job.dirTimes) {
            Dir dir = job.target->openDir(d.parts, d.parts.size(), false);
            if (!dir)
                continue;
            const int fd = dir->fd;
            if (d.mode & 0777)
                fchmod(fd, (d.mode & 0777) | 0700);
            struct timespec ts[2] = {{0, UTIME_OMIT}, {d.mtime, 0}};
            futimens(fd, ts);
        }
        job.target.reset();
        close(baseFd);
    }
    if (ctx.stopped())
        return ctx.stopResult();
    return done;
}

}  // namespace ze
