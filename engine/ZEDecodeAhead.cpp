#include "ZEDecodeAhead.h"

#include <algorithm>

namespace ze {

namespace {
constexpr uint64_t kMaxEntry = 64ull << 20;
constexpr uint64_t kMaxInFlight = 256ull << 20;
constexpr size_t kMaxAhead = 64;
}  // namespace

DecodeAhead::DecodeAhead(Archive& ar, const std::vector<size_t>& order, std::atomic<bool>& abort)
    : ar_(ar), order_(order), abort_(abort), items_(order.size()), eligible_(order.size(), 0) {
    size_t eligibleCount = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const Entry& e = ar.entries()[order[i]];
        eligible_[i] = !e.encrypted() && e.localError == 0 && !e.nameMismatch && !e.isDir() &&
                       !e.isSymlink() && methodSupported(e.method) && e.usize <= kMaxEntry;
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

void DecodeAhead::run() {
    for (;;) {
        size_t i;
        uint64_t need;
        {
            std::unique_lock<std::mutex> g(m_);
            for (;;) {
                while (next_ < items_.size() && !eligible_[next_])
                    ++next_;
                if (quit_ || next_ >= items_.size() || abort_.load())
                    return;
                need = ar_.entries()[order_[next_]].usize;
                if (next_ < consumed_ + kMaxAhead &&
                    (inFlight_ + need <= kMaxInFlight || next_ <= consumed_))
                    break;
                cv_.wait(g);
            }
            i = next_++;
            inFlight_ += need;
        }
        const Entry& e = ar_.entries()[order_[i]];
        Decoded d;
        d.data.reserve(size_t(e.usize));
        OutSink sink(&d.data, e.usize);
        d.result = decodeEntry(e.method, ar_.data() + e.dataStart, size_t(e.csize), e.usize,
                               e.flags & 2, sink);
        d.crc = sink.crc();
        {
            std::lock_guard<std::mutex> g(m_);
            d.done = true;
            items_[i] = std::move(d);
        }
        done_.notify_all();
    }
}

Decoded& DecodeAhead::get(size_t pos) {
    std::unique_lock<std::mutex> g(m_);
    if (threads_.empty() && !items_[pos].done) {
        // Too few entries for the workers: decode here.
        g.unlock();
        const Entry& e = ar_.entries()[order_[pos]];
        Decoded& d = items_[pos];
        OutSink sink(&d.data, e.usize);
        d.result = decodeEntry(e.method, ar_.data() + e.dataStart, size_t(e.csize), e.usize,
                               e.flags & 2, sink);
        d.crc = sink.crc();
        d.done = true;
        return d;
    }
    done_.wait(g, [&] { return items_[pos].done; });
    return items_[pos];
}

void DecodeAhead::release(size_t pos) {
    std::lock_guard<std::mutex> g(m_);
    consumed_ = std::max(consumed_, pos + 1);
    if (eligible_[pos]) {
        uint64_t sz = ar_.entries()[order_[pos]].usize;
        inFlight_ -= std::min(inFlight_, sz);
        std::vector<uint8_t>().swap(items_[pos].data);
    }
    cv_.notify_all();
}

}  // namespace ze
