#include "ZEWriteBehind.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "ZEJob.h"
#include "ZEOutput.h"

namespace ze {

namespace {
// Bounds of what waits: every task holds its data (tasks of one folder share its
// descriptor). Enough tasks to reach a few folders ahead: archives list a folder's files
// together, and a folder takes one new file at a time.
constexpr size_t kMaxTasks = 512;
constexpr uint64_t kMaxBytes = 24ull << 20;
// How far a writer looks into the queue for a folder no other writer is creating files in.
constexpr size_t kLookAhead = 128;
constexpr size_t kWritePiece = 1 << 20;
}  // namespace

WriteBehind::WriteBehind(unsigned threads) {
    for (unsigned i = 0; i < threads; ++i)
        threads_.emplace_back([this] { run(); });
}

WriteBehind::~WriteBehind() {
    {
        std::lock_guard<std::mutex> g(m_);
        quit_ = true;
    }
    work_.notify_all();
    for (auto& t : threads_)
        t.join();
}

void WriteBehind::submit(WriteTask task) {
    std::unique_lock<std::mutex> g(m_);
    room_.wait(g, [&] {
        return queue_.empty() || (queue_.size() < kMaxTasks && queuedBytes_ < kMaxBytes);
    });
    queuedBytes_ += task.data.size();
    ++keys_[task.key];
    ++unfinished_;
    queue_.push_back(std::move(task));
    work_.notify_one();
}

bool WriteBehind::busyWith(const std::string& key) {
    std::lock_guard<std::mutex> g(m_);
    if (keys_.empty())
        return false;
    for (size_t i = 0; i <= key.size(); ++i)
        if ((i == key.size() || key[i] == '/') && keys_.count(key.substr(0, i)))
            return true;
    return false;
}

void WriteBehind::drain() {
    std::unique_lock<std::mutex> g(m_);
    room_.wait(g, [&] { return unfinished_ == 0; });
}

std::vector<WriteFailure> WriteBehind::takeFailures() {
    std::vector<WriteFailure> out;
    std::lock_guard<std::mutex> g(m_);
    out.swap(failures_);
    return out;
}

void WriteBehind::run() {
    for (;;) {
        WriteTask t;
        {
            std::unique_lock<std::mutex> g(m_);
            work_.wait(g, [&] { return quit_ || !queue_.empty(); });
            if (queue_.empty())
                return;  // quit with nothing left to do
            // Files of different folders are created at the same time; within one folder
            // the file system makes them one after the other. Tasks never share a path, so
            // their order does not matter.
            auto pick = queue_.begin();
            for (auto it = queue_.begin();
                 it != queue_.end() && size_t(it - queue_.begin()) < kLookAhead; ++it)
                if (std::find(busyDirs_.begin(), busyDirs_.end(), it->dir.get()) ==
                    busyDirs_.end()) {
                    pick = it;
                    break;
                }
            t = std::move(*pick);
            queue_.erase(pick);
            busyDirs_.push_back(t.dir.get());
        }
        const DirHandle* dir = t.dir.get();
        execute(t);
        {
            std::lock_guard<std::mutex> g(m_);
            busyDirs_.erase(std::find(busyDirs_.begin(), busyDirs_.end(), dir));
            queuedBytes_ -= t.data.size();
            if (--keys_[t.key] == 0)
                keys_.erase(t.key);
            --unfinished_;
        }
        room_.notify_all();
    }
}

void WriteBehind::execute(WriteTask& t) {
    auto failed = [&](int err, int skipType, int why) {
        std::lock_guard<std::mutex> g(m_);
        failures_.push_back({t.name, err, skipType, why});
    };
    std::string tmp;
    bool direct = false;
    const int dirFd = t.dir->fd;
    int fd = openOutput(dirFd, t.leaf, t.exists, t.mode, tmp, direct);
    if (fd < 0) {
        failed(ZE_ERR_CREATE, ZE_SKIP_NO_ACCESS, ZE_MSG_CANNOT_CREATE);
    } else {
        const uint8_t* p = t.data.data();
        size_t left = t.data.size();
        while (left > 0) {
            ssize_t w = ::write(fd, p, std::min(left, kWritePiece));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                break;
            p += w;
            left -= size_t(w);
        }
        if (left > 0) {
            close(fd);
            unlinkat(dirFd, tmp.c_str(), 0);
            failed(ZE_ERR_WRITE, ZE_SKIP_GENERAL_EXTRACT_ERROR, ZE_MSG_WRITE_ERROR);
        } else if (!placeFile(dirFd, fd, tmp, t.leaf, direct, t.mode, t.chmod, t.mtime)) {
            failed(ZE_ERR_CREATE, ZE_SKIP_NO_ACCESS, ZE_MSG_CANNOT_CREATE);
        }
    }
    t.dir.reset();  // the folder closes with its last task
}

}  // namespace ze
