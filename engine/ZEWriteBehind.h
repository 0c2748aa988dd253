// Writes small extracted files on worker threads: creating a file is the costliest step of
// extracting many small ones, and the file system does it for several folders at once. The
// job's thread decides everything first (name, folder, overwrite, CRC); a task only creates,
// writes, dates and closes the file. Failures come back to the job's thread to be reported.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "ZEOutput.h"
#include "ZEUtil.h"

namespace ze {

struct WriteTask {
    Dir dir;  // kept open while the task waits
    std::string leaf;
    bool exists = false;  // a file is there: write a temporary file and rename it over
    unsigned mode = 0;
    bool chmod = false;
    time_t mtime = 0;
    ByteBuffer data;
    std::string name;  // the entry's name, for reports
    std::string key;   // the target path relative to the extract folder
};

struct WriteFailure {
    std::string name;
    int err;
    int skipType;
    int why;  // ZE_MSG_* number of the reason
};

class WriteBehind {
public:
    explicit WriteBehind(unsigned threads);
    ~WriteBehind();  // finishes every task
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Queues a task; waits while too much is queued.
    void submit(WriteTask task);
    // True when a queued or running task writes `key` or a path that `key` continues
    // ("a/b" for "a/b/c").
    bool busyWith(const std::string& key);
    // Waits until every task is done.
    void drain();
    std::vector<WriteFailure> takeFailures();

private:
    void run();
    void execute(WriteTask& t);
    std::mutex m_;
    std::condition_variable work_, room_;
    std::deque<WriteTask> queue_;
    std::unordered_map<std::string, int> keys_;  // paths of unfinished tasks
    std::vector<WriteFailure> failures_;
    std::vector<const DirHandle*> busyDirs_;  // folders the writers are creating files in
    std::vector<std::thread> threads_;
    uint64_t queuedBytes_ = 0;
    size_t unfinished_ = 0;
    bool quit_ = false;
};

}  // namespace ze
