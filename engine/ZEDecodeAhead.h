// Decodes the plain (unencrypted) entries of an extract or test job on worker threads ahead
// of the calling thread, which asks the component its questions and writes the files in
// archive order. Results wait in memory within a bounded window.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "ZEArchive.h"
#include "ZEDecode.h"

namespace ze {

struct Decoded {
    bool done = false;
    DecodeResult result = kDecodeOk;
    uint32_t crc = 0;
    ByteBuffer data;
};

class DecodeAhead {
public:
    // order: indexes of the entries in the order the job handles them.
    DecodeAhead(Archive& ar, const std::vector<size_t>& order, std::atomic<bool>& abort);
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    bool eligible(size_t pos) const { return eligible_[pos] != 0; }
    // Waits for the entry at position pos of the order; the caller may take its data.
    Decoded& get(size_t pos);
    // The job is done with position pos: its memory is released.
    void release(size_t pos);

private:
    void run();
    void decode(size_t pos, Decoded& d);
    Archive& ar_;
    const std::vector<size_t>& order_;
    std::atomic<bool>& abort_;
    std::vector<Decoded> items_;
    std::vector<char> eligible_;  // fixed at construction; read without the lock
    std::mutex m_;
    std::condition_variable cv_, done_;
    std::vector<std::thread> threads_;
    size_t next_ = 0, consumed_ = 0;
    uint64_t inFlight_ = 0;
    bool quit_ = false;
    int idle_ = 0;          // workers waiting for room in the window
    bool waiting_ = false;  // the job's thread waits for a result
};

}  // namespace ze
