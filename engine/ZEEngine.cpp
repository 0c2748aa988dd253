// The library's exported entry points, the job context and the in-memory job.
#include <dlfcn.h>
#include <libdeflate.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "ZEContext.h"
#include "ZEUtil.h"

namespace ze {

namespace {
std::mutex gAbortLock;
std::map<int32_t, std::atomic<bool>*> gAbortFlags;
int32_t gNextHandle = 0;

int32_t registerAbort(std::atomic<bool>* flag) {
    std::lock_guard<std::mutex> g(gAbortLock);
    if (++gNextHandle <= 0)
        gNextHandle = 1;
    gAbortFlags[gNextHandle] = flag;
    return gNextHandle;
}

void unregisterAbort(int32_t h) {
    std::lock_guard<std::mutex> g(gAbortLock);
    gAbortFlags.erase(h);
}

size_t strlenOf(const void* p, bool wide) {
    if (!p)
        return 0;
    size_t n = 0;
    if (wide) {
        auto* w = static_cast<const char16_t*>(p);
        while (w[n])
            ++n;
    } else {
        n = strlen(static_cast<const char*>(p));
    }
    return n;
}
}  // namespace

std::string Reply::raw() const {
    if (!text)
        return {};
    if (encoding == 1) {
        auto* w = static_cast<const char16_t*>(text);
        return platform::Utf16ToUtf8(std::u16string_view(w, strlenOf(w, true)));
    }
    return std::string(static_cast<const char*>(text));
}

std::string Reply::utf8(int codePage) const {
    std::string s = raw();
    if (encoding == 0 && !platform::IsValidUtf8(s))
        return platform::ConvertCodePage(s, unsigned(codePage), platform::kCodePageUtf8);
    return s;
}

std::string Reply::data() const {
    if (!text || arg1 <= 0)
        return {};
    return std::string(static_cast<const char*>(text), size_t(arg1));
}

JobContext::JobContext(ZEJobRec* job) : job_(job) {
    handle_ = registerAbort(&abort_);
}

JobContext::~JobContext() {
    unregisterAbort(handle_);
}

Reply JobContext::call(int action, std::string_view text, std::string_view text2, int64_t size,
                       int64_t written, int32_t a1, int32_t a2, int32_t a3, const void* rawText2) {
    Reply r;
    if (!job_->Callback)
        return r;
    // Names from the disk need not be UTF-8: such bytes are read as Windows-1252, by the
    // rule for names from Unix hosts.
    auto wide = [](std::string_view s) {
        return platform::IsValidUtf8(s) ? platform::Utf8ToUtf16(s) : platform::AnsiToUtf16(s);
    };
    std::u16string t1 = wide(text), t2 = wide(text2);
    ZECallbackRec rec;
    memset(&rec, 0, sizeof rec);
    rec.Caller = job_->Caller;
    rec.IsAdd = (job_->Flags & ZE_FLAG_ADD) ? 1 : 0;
    rec.Action = action;
    rec.TextEncoding = 1;
    rec.Text = t1.data();
    rec.Text2 = rawText2 ? const_cast<void*>(rawText2) : static_cast<void*>(t2.data());
    rec.Size = size;
    rec.Written = written;
    rec.Arg1 = a1;
    rec.Arg2 = a2;
    rec.Arg3 = a3;
    rec.Check = ZE_CALLBACK_CHECK;
    r.answer = job_->Callback(&rec);
    r.arg1 = rec.Arg1;
    r.arg2 = rec.Arg2;
    r.arg3 = rec.Arg3;
    r.encoding = rec.TextEncoding;
    r.text = rec.Text == t1.data() ? nullptr : rec.Text;
    // -1 answers an action the component does not know; every other negative answer is its
    // cancel (-2), an abort from a password prompt (-3), a failed handler (-4) or a record it
    // refused (-5): the job stops.
    if (r.answer < -1)
        stop(r.answer == -4 ? -ZE_ERR_CALLBACK : r.answer == -5 ? -ZE_ERR_LOGIC : -ZE_ERR_ABORTED);
    return r;
}

std::string JobContext::dataText(int item, int index, bool* ok, int* count, bool raw) {
    Reply r = call(ZE_CB_DATA, {}, {}, 0, 0, item, 0, index);
    if (ok)
        *ok = r.answer == 1;
    if (count)
        *count = r.arg3;
    if (r.answer != 1 || !r.text)
        return {};
    if (item == ZE_DATA_ZIPCOMMENT && r.encoding == 0 && r.arg1 > 0)
        return std::string(static_cast<const char*>(r.text), size_t(r.arg1));
    return raw ? r.raw() : r.utf8(codePage());
}

std::vector<std::string> JobContext::dataList(int item) {
    std::vector<std::string> out;
    for (int i = 0; i < 1000000 && !stopped(); ++i) {
        bool ok = false;
        int count = 0;
        std::string s = dataText(item, i, &ok, &count);
        if (!ok)
            break;
        if (!s.empty())
            out.push_back(s);
        if (i + 1 >= count)
            break;
    }
    return out;
}

void JobContext::message(int err, const std::string& text) {
    call(ZE_CB_MESSAGE, text, {}, 0, 0, err);
}

void JobContext::say(int err, int id, const std::string& arg1, const std::string& arg2) {
    call(ZE_CB_MESSAGE, arg1, arg2, 0, 0, err, id);
}

bool JobContext::skip(const std::string& name, int err, int skipType) {
    Reply r = call(ZE_CB_SKIPPED, name, {}, 0, 0, err, skipType + 1);
    if (r.answer == 1) {
        stop(-(err ? err : ZE_ERR_SKIPPING));
        return true;
    }
    return false;
}

void JobContext::totals(int64_t count, int64_t bytes) {
    // The count goes in arg 1 (where the component reads it) and, for older readers, the size.
    call(ZE_CB_TOTAL_COUNT, {}, {}, count, 0, int32_t(std::min<int64_t>(count, INT32_MAX)));
    call(ZE_CB_TOTAL_SIZE, {}, {}, bytes);
}

void JobContext::newItem(const std::string& name, int64_t size) {
    call(ZE_CB_NEW_ITEM, name, {}, size);
}

void JobContext::endItem(const std::string& name) {
    Reply r = call(ZE_CB_NEW_ITEM, name, {}, -1);
    if (r.answer == 1)
        stop(-ZE_ERR_ABORTED);
}

bool JobContext::progress(int64_t bytes) {
    call(ZE_CB_PROGRESS, {}, {}, bytes);
    return !stopped();
}

void JobContext::step(int number, int64_t size) {
    call(ZE_CB_NEW_EXTRA, {}, {}, size, 0, number);
}

// Reads the input stream through the stream callback, deflates or stores it and writes the
// result to the output stream.
int32_t runMemoryJob(JobContext& ctx) {
    ZEJobRec& job = ctx.job();
    ZEMemJob* mj = job.MemJob;
    if (!job.StreamFn || !mj->Input || !mj->Output || mj->Size < 0)
        return -ZE_ERR_BAD_OPTIONS;
    ctx.announce();
    auto stream = [&](void* obj, int op, void* buf, int32_t count, int32_t& moved) {
        ZEStreamRec rec;
        memset(&rec, 0, sizeof rec);
        rec.Caller = job.Caller;
        rec.Stream = obj;
        rec.Operation = uint8_t(op);
        rec.Buffer = buf;
        rec.Count = count;
        rec.Check = ZE_STREAM_CHECK;
        int32_t a = job.StreamFn(&rec);
        moved = rec.Count;
        return a;
    };
    std::vector<uint8_t> in(size_t(mj->Size));
    size_t done = 0;
    while (done < in.size()) {
        int32_t want = int32_t(std::min<size_t>(in.size() - done, 1 << 20)), got = 0;
        if (stream(mj->Input, ZE_SOP_READ, in.data() + done, want, got) != 1 && got <= 0)
            return -ZE_ERR_READ;
        if (got <= 0)
            return -ZE_ERR_READ;
        done += size_t(got);
    }
    mj->Crc32 = crc32(0, in.data(), in.size());
    std::vector<uint8_t> out;
    int32_t method = 0;
    if (mj->Method == 8 && !in.empty()) {
        std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(
            libdeflate_alloc_compressor(9), libdeflate_free_compressor);
        out.resize(libdeflate_deflate_compress_bound(c.get(), in.size()));
        size_t n =
            libdeflate_deflate_compress(c.get(), in.data(), in.size(), out.data(), out.size());
        if (n > 0 && n < in.size()) {
            out.resize(n);
            method = 8;
        }
    }
    if (method == 0)
        out = in;
    for (size_t off = 0; off < out.size();) {
        int32_t want = int32_t(std::min<size_t>(out.size() - off, 1 << 20)), put = 0;
        if (stream(mj->Output, ZE_SOP_WRITE, out.data() + off, want, put) != 1 || put <= 0)
            return -ZE_ERR_WRITE;
        off += size_t(put);
    }
    mj->Method = method;
    return 1;
}

}  // namespace ze

using namespace ze;

extern "C" {

__attribute__((visibility("default"))) int32_t ZE_Exec(ZEJobRec* job) {
    if (!job || job->Check != ZE_JOB_CHECK || job->Version != ZE_INTERFACE_VERSION)
        return -ZE_ERR_BAD_OPTIONS;
    try {
        JobContext ctx(job);
        if (job->MemJob)
            return runMemoryJob(ctx);
        if (job->Flags & ZE_FLAG_ADD)
            return runAdd(ctx);
        if (job->Flags & (ZE_FLAG_EXTRACT | ZE_FLAG_TEST))
            return runExtract(ctx);
        return -ZE_ERR_BAD_OPTIONS;
    } catch (const std::bad_alloc&) {
        return -ZE_ERR_NO_MEMORY;
    } catch (...) {
        return -ZE_ERR_FATAL;
    }
}

__attribute__((visibility("default"))) int32_t ZE_Version(void) {
    return ZE_INTERFACE_VERSION;
}

__attribute__((visibility("default"))) int32_t ZE_PrivVersion(void) {
    return ZE_PRIV_VERSION;
}

__attribute__((visibility("default"))) int32_t ZE_Abort(int32_t handle) {
    std::lock_guard<std::mutex> g(gAbortLock);
    auto it = gAbortFlags.find(handle);
    if (it == gAbortFlags.end())
        return 0;
    it->second->store(true);
    return 1;
}

__attribute__((visibility("default"))) int32_t ZE_Name(char* buffer, int32_t size, int32_t) {
    static const char kName[] = "ZAEngine190.so";
    if (!buffer || size <= 0)
        return 0;
    size_t n = std::min<size_t>(sizeof kName - 1, size_t(size));
    memcpy(buffer, kName, n);
    buffer[n < size_t(size) ? n : size_t(size) - 1] = 0;
    return int32_t(n);
}

__attribute__((visibility("default"))) const char* ZE_Banner(void) {
    return "Tarvik compression engine 1.9.0.0111 (libdeflate, zlib)";
}

__attribute__((visibility("default"))) const char* ZE_Path(void) {
    static std::string path;
    static std::once_flag once;
    std::call_once(once, [] {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&ZE_Path), &info) && info.dli_fname)
            path = info.dli_fname;
    });
    return path.c_str();
}

}  // extern "C"
