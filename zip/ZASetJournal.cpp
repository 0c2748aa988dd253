#include "zip/ZASetJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/AtomicReplace.h"
#include "platform/TempFiles.h"
#include "zip/ZAUtils.h"

namespace {

constexpr const char* kMagic = "tarvik set journal 1";

// Names may hold any byte but NUL: tabs, line ends and "%" are escaped.
std::string encode(const std::string& s) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : s) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string decode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab - at));
        if (tab == std::string::npos) {
            return fields;
        }
        at = tab + 1;
    }
}

bool syncFolderOf(const std::string& path) {
    const std::string folder = ExtractFilePath(path);
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool stagedFilePending(const TZASetJournal::Move& move) {
    struct stat st {};
    return ::stat(move.From.c_str(), &st) == 0 &&
           static_cast<std::uint64_t>(st.st_dev) == move.Device &&
           static_cast<std::uint64_t>(st.st_ino) == move.Inode;
}

}  // namespace

std::string SetJournalPath(const std::string& setName) {
    return ExtractFilePath(setName) + "." + ExtractFileName(setName) + ".tarvik-journal";
}

bool WriteSetJournal(const std::string& path, const TZASetJournal& journal, std::string* error) {
    std::ostringstream text;
    text << kMagic << '\n' << "staging\t" << encode(journal.StagingFolder) << '\n';
    text << "permanent\t" << (journal.Permanent ? 1 : 0) << '\n';
    for (const auto& m : journal.Moves) {
        text << "move\t" << encode(m.From) << '\t' << encode(m.To) << '\t' << m.Device << '\t'
             << m.Inode << '\n';
    }
    for (const auto& s : journal.Stale) {
        text << "stale\t" << encode(s) << '\n';
    }
    for (const auto& t : journal.Temporaries) {
        text << "temp\t" << encode(t) << '\n';
    }
    text << "end\n";
    const std::string temp = path + ".new";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    const std::string bytes = text.str();
    const bool written =
        ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
        ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        *error = std::strerror(written ? errno : saved);
        ::unlink(temp.c_str());
        return false;
    }
    syncFolderOf(path);
    return true;
}

bool ReadSetJournal(const std::string& path, TZASetJournal& journal) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) {
        return false;
    }
    journal = {};
    while (std::getline(in, line)) {
        const std::vector<std::string> f = split(line);
        if (f[0] == "end") {
            return true;
        }
        if (f[0] == "staging" && f.size() == 2) {
            journal.StagingFolder = decode(f[1]);
        } else if (f[0] == "permanent" && f.size() == 2) {
            journal.Permanent = f[1] == "1";
        } else if (f[0] == "move" && f.size() == 5) {
            journal.Moves.push_back(
                {decode(f[1]), decode(f[2]), std::stoull(f[3]), std::stoull(f[4])});
        } else if (f[0] == "stale" && f.size() == 2) {
            journal.Stale.push_back(decode(f[1]));
        } else if (f[0] == "temp" && f.size() == 2) {
            journal.Temporaries.push_back(decode(f[1]));
        } else {
            return false;
        }
    }
    return false;  // cut short: never written whole, so never put in place
}

int CompleteSetExchange(const std::string& setName, std::string* error) {
    const std::string path = SetJournalPath(setName);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return 0;
    }
    TZASetJournal journal;
    if (!ReadSetJournal(path, journal)) {
        *error = "unreadable journal " + path;
        return -1;
    }
    // A staged file still under its staging name with its identity has not
    // been put in place yet; one that was exchanged holds the old part now,
    // one that was moved or copied is gone.
    for (const auto& move : journal.Moves) {
        if (!stagedFilePending(move)) {
            continue;
        }
        if (!platform::MoveSyncedFile(move.From, move.To, error) &&
            !platform::ReplaceFile(move.From, move.To, error)) {
            return -1;
        }
    }
    for (const auto& stale : journal.Stale) {
        if (FileExists(stale)) {
            DeleteFileOrTrash(stale, journal.Permanent);
        }
    }
    for (const auto& temp : journal.Temporaries) {
        if (!temp.empty() && temp.back() == '/') {
            platform::RemoveTree(temp);
        } else {
            ::unlink(temp.c_str());
        }
    }
    platform::RemoveTree(journal.StagingFolder);
    ::unlink(path.c_str());
    syncFolderOf(path);
    return 1;
}
