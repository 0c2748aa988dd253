#include "ZEDecodeAhead.h"

#include <algorithm>

namespace ze {

namespace {
constexpr uint64_t kMaxInFlight = 24ull << 20;
constexpr size_t kMaxAhead = 256;
constexpr uint64_t kBatchBytes = 1u << 20;
constexpr size_t kBatchCount = 32;
}  // namespace

DecodeAhead::DecodeAhead(Archive& ar, const std::vector<size_t>& order, std::atomic<bool>& abort)
    : ar_(ar), order_(order), abort_(abort), items_(order.size()), eligible_(order.size(), 0) {
    size_t eligibleCount = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const Entry& e = ar.entries()[order[i]];
        eligible_[i] = !e.encrypted() && e.localError == 0 && !e.nameMismatch && !e.isDir() &&
                       !e.isSymlink() && methodSupported(e.method) && e.usize <= kWholeBufferMax;
        eligibleCount += eligible_[i] != 0;
    }
    if (eligibleCount < 2)
        return;
    unsigned n = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    for (unsigned i = 0; i < n; ++i)
        threads_.emplace_back([this] { run(); });
}

DecodeAhead::~DecodeAhead() {
    {
        std::lock_guard<std::mutex> g(m_);
        quit_ = true;
    }
    cv_.notify_all();
    for (auto& t : threads_)
        t.join();
}

void DecodeAhead::decode(size_t pos, Decoded& d) {
    const Entry& e = ar_.entries()[order_[pos]];
    OutSink sink(&d.data, e.usize);
    d.result = decodeEntry(e.method, ar_.data() + e.dataStart, size_t(e.csize), e.usize,
                           e.flags & 2, sink);
    d.crc = sink.crc();
    d.done = true;
}

void DecodeAhead::run() {
    std::vector<std::pair<size_t, Decoded>> batch;
    for (;;) {
        batch.clear();
        {
            // Claims a run of entries (small ones in batches, so that the threads meet
            // at the lock once per batch rather than once per file).
            std::unique_lock<std::mutex> g(m_);
            uint64_t claimed = 0;
            for (;;) {
                while (next_ < items_.size() && !eligible_[next_])
                    ++next_;
                if (quit_ || abort_.load() || next_ >= items_.size())
                    break;
                uint64_t need = ar_.entries()[order_[next_]].usize;
                bool fits = next_ < consumed_ + kMaxAhead &&
                            (inFlight_ + need <= kMaxInFlight || next_ <= consumed_);
                if (!fits) {
                    if (!batch.empty())
                        break;
                    ++idle_;
                    cv_.wait(g);
                    --idle_;
                    continue;
                }
                batch.emplace_back(next_++, Decoded{});
                inFlight_ += need;
                claimed += need;
                if (claimed >= kBatchBytes || batch.size() >= kBatchCount)
                    break;
            }
            if (batch.empty())
                return;
        }
        for (auto& [i, d] : batch)
            decode(i, d);
        bool wake;
        {
            std::lock_guard<std::mutex> g(m_);
            for (auto& [i, d] : batch)
                items_[i] = std::move(d);
            wake = waiting_;
        }
        if (wake)
            done_.notify_all();
    }
}

Decoded& DecodeAhead::get(size_t pos) {
    std::unique_lock<std::mutex> g(m_);
    if (threads_.empty() && !items_[pos].done) {
        // Too few entries for the workers: decode here.
        g.unlock();
        decode(pos, items_[pos]);
        return items_[pos];
    }
    waiting_ = true;
    done_.wait(g, [&] { return items_[pos].done; });
    waiting_ = false;
    return items_[pos];
}

void DecodeAhead::release(size_t pos) {
    std::lock_guard<std::mutex> g(m_);
    consumed_ = std::max(consumed_, pos + 1);
    if (eligible_[pos]) {
        uint64_t sz = ar_.entries()[order_[pos]].usize;
        inFlight_ -= std::min(inFlight_, sz);
        items_[pos].data.release();
    }
    if (idle_)
        cv_.notify_all();
}

}  // namespace ze
