#include "zip/ZAPipes.h"

#include <climits>

#include "platform/DosTime.h"
#include "zip/ZAXcpt.h"

TZAPipeImp::TZAPipeImp() : dosDate_(platform::CurrentDosDateTime()) {}

TZAPipeImp::~TZAPipeImp() {
    dropStream();
}

void TZAPipeImp::dropStream() {
    if (stream_ != nullptr && ownsStream_) {
        std::unique_ptr<TZAStream> owned(stream_);
    }
    stream_ = nullptr;
}

void TZAPipeImp::SetSize(std::int32_t value) {
    if (stream_ == nullptr) {
        size_ = 0;
        return;
    }
    const std::int64_t have = stream_->Size();
    size_ = value > have ? static_cast<std::int32_t>(have) : value;
}

void TZAPipeImp::SetStream(TZAStream* value) {
    if (value == stream_)
        return;
    dropStream();
    stream_ = value;
    if (stream_ == nullptr)
        return;
    const std::int64_t have = stream_->Size();
    size_ = have > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(have);
    stream_->Rewind();
}

void TZAPipeImp::SetStream(std::unique_ptr<TZAStream> value) {
    SetStream(value.get());
    if (value) {
        ownsStream_ = true;
        value.release();
    }
}

// --- TZAPipeListImp ----------------------------------------------------------

void TZAPipeListImp::checkIndex(int index) {
    if (index < 0 || index >= kMaxPipes)
        throw EZipArchiver(ZA_CODE(199), {std::int64_t{index}, std::int64_t{kMaxPipes - 1}});
}

TZAPipe& TZAPipeListImp::Pipe(int index) {
    checkIndex(index);
    Grow(index + 1);
    auto& slot = pipes_[static_cast<std::size_t>(index)];
    if (!slot)
        slot = std::make_unique<TZAPipeImp>();
    return *slot;
}

TZAPipe* TZAPipeListImp::Find(int index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return pipes_[static_cast<std::size_t>(index)].get();
}

void TZAPipeListImp::Grow(int n) {
    if (n < 0 || n > kMaxPipes)
        checkIndex(n);
    if (n > Count())
        pipes_.resize(static_cast<std::size_t>(n));
}

void TZAPipeListImp::Put(int index, std::unique_ptr<TZAPipe> pipe) {
    checkIndex(index);
    Grow(index + 1);
    pipes_[static_cast<std::size_t>(index)] = std::move(pipe);
}

int TZAPipeListImp::Add(TZAStream* stream, const std::string& name, bool ownsStream) {
    const int index = Count();
    checkIndex(index);
    auto pipe = std::make_unique<TZAPipeImp>();
    pipe->SetOwnsStream(ownsStream);
    pipe->SetStream(stream);
    pipe->SetName(name);
    pipes_.push_back(std::move(pipe));
    return index;
}

int TZAPipeListImp::Add(std::unique_ptr<TZAStream> stream, const std::string& name) {
    const int index = Count();
    checkIndex(index);
    return Add(stream.release(), name, true);
}

void TZAPipeListImp::Clear() {
    pipes_.clear();
}

void TZAPipeListImp::MoveTo(TZAPipeListImp& other) {
    if (&other == this)
        return;
    other.Clear();
    other.pipes_ = std::move(pipes_);
    pipes_.clear();
}
