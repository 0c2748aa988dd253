// The running job as the engine sees it: the job record, the callbacks to the component and
// the cancel state. Every callback goes through here and runs on the thread that called
// ZE_Exec.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ZEJob.h"

namespace ze {

struct Reply {
    int32_t answer = 0;
    int32_t arg1 = 0, arg2 = 0, arg3 = 0;
    int32_t encoding = 0;
    const void* text = nullptr;
    // The reply text as UTF-8 (8-bit replies are taken in the job's code page).
    std::string utf8(int codePage) const;
    // The reply text's bytes unchanged (UTF-8 replies stay UTF-8).
    std::string raw() const;
    // Arg1 bytes of raw data at the text pointer.
    std::string data() const;
};

class JobContext {
public:
    explicit JobContext(ZEJobRec* job);
    ~JobContext();
    JobContext(const JobContext&) = delete;
    JobContext& operator=(const JobContext&) = delete;

    ZEJobRec& job() { return *job_; }
    // Tells the component the handle it can pass to ZE_Abort (action 18).
    void announce() { call(ZE_CB_ABORT_HANDLE, {}, {}, 0, 0, handle_); }
    uint32_t flags() const { return job_->Flags; }
    bool has(uint32_t f) const { return (job_->Flags & f) != 0; }
    int codePage() const { return job_->NameCodePage; }
    bool verbose() const { return job_->Verbosity != 0; }

    // Calls the component. A negative answer to an action that does not define one stops the
    // job (see stopped()/result()).
    Reply call(int action, std::string_view text = {}, std::string_view text2 = {},
               int64_t size = 0, int64_t written = 0, int32_t a1 = 0, int32_t a2 = 0,
               int32_t a3 = 0, const void* rawText2 = nullptr);

    // Data request (action 19). ok=false when the component has no such item.
    std::string dataText(int item, int index, bool* ok = nullptr, int* count = nullptr,
                         bool raw = false);
    std::vector<std::string> dataList(int item);

    void message(int err, const std::string& text);
    // A message the component takes from its catalogue: number `id` with up to two
    // string arguments, so that it reaches the user in the user's language.
    void say(int err, int id, const std::string& arg1 = {}, const std::string& arg2 = {});
    // Reports a skipped file; true when the component wants the job aborted.
    bool skip(const std::string& name, int err, int skipType);
    void totals(int64_t count, int64_t bytes);
    void newItem(const std::string& name, int64_t size);
    void endItem(const std::string& name);
    bool progress(int64_t bytes);
    void step(int number, int64_t size);

    // Cancel state: set by ZE_Abort, by a negative answer or by an aborting skip.
    bool stopped() const { return stopResult_ != 0 || abort_.load(std::memory_order_relaxed); }
    void stop(int32_t result) {
        if (stopResult_ == 0)
            stopResult_ = result;
    }
    int32_t stopResult() const {
        if (stopResult_)
            return stopResult_;
        return abort_ ? -ZE_ERR_CANCELLED : 0;
    }
    std::atomic<bool>& abortFlag() { return abort_; }

private:
    ZEJobRec* job_;
    std::atomic<bool> abort_{false};
    int32_t handle_ = 0;
    int32_t stopResult_ = 0;
};

int32_t runAdd(JobContext& ctx);
int32_t runExtract(JobContext& ctx);
int32_t runMemoryJob(JobContext& ctx);

}  // namespace ze
