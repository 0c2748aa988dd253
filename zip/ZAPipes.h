// Pipes: named in-memory data sources and sinks handed to an operation
// (stream numbers 0-9 of the engine's stream callbacks).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/ZAStream.h"

class TZAPipe {
public:
    virtual ~TZAPipe() = default;
    virtual std::int32_t Attributes() const = 0;
    virtual std::uint32_t DOSDate() const = 0;
    virtual const std::string& Name() const = 0;
    virtual bool OwnsStream() const = 0;
    virtual std::int32_t Size() const = 0;
    virtual TZAStream* Stream() const = 0;
    virtual void SetAttributes(std::int32_t value) = 0;
    virtual void SetDOSDate(std::uint32_t value) = 0;
    virtual void SetName(const std::string& value) = 0;
    virtual void SetOwnsStream(bool value) = 0;
    virtual void SetSize(std::int32_t value) = 0;
    virtual void SetStream(TZAStream* value) = 0;
};

class TZAPipeImp : public TZAPipe {
public:
    // DOSDate starts as the current local date-time.
    TZAPipeImp();
    ~TZAPipeImp() override;
    TZAPipeImp(const TZAPipeImp&) = delete;
    TZAPipeImp& operator=(const TZAPipeImp&) = delete;

    std::int32_t Attributes() const override { return attributes_; }
    std::uint32_t DOSDate() const override { return dosDate_; }
    const std::string& Name() const override { return name_; }
    bool OwnsStream() const override { return ownsStream_; }
    std::int32_t Size() const override { return size_; }
    TZAStream* Stream() const override { return stream_; }

    void SetAttributes(std::int32_t value) override { attributes_ = value; }
    void SetDOSDate(std::uint32_t value) override { dosDate_ = value; }
    void SetName(const std::string& value) override { name_ = value; }
    // Ownership follows the flag: an owned stream is freed with the pipe.
    void SetOwnsStream(bool value) override { ownsStream_ = value; }
    // At most the stream's size; 0 without a stream.
    void SetSize(std::int32_t value) override;
    // A new stream sets Size to its size and is rewound. Null drops the old
    // stream; a replaced or dropped stream is freed when the pipe owns it.
    void SetStream(TZAStream* value) override;
    // Hands an owned stream to the pipe (OwnsStream becomes true).
    void SetStream(std::unique_ptr<TZAStream> value);

private:
    void dropStream();

    std::int32_t attributes_ = 0;
    std::uint32_t dosDate_ = 0;
    std::string name_;
    bool ownsStream_ = false;
    std::int32_t size_ = 0;
    TZAStream* stream_ = nullptr;  // freed in dropStream when ownsStream_
};

class TZAPipeList {
public:
    virtual ~TZAPipeList() = default;
    virtual int Count() const = 0;
    // The pipe at `index` (0-9), created on first use.
    virtual TZAPipe& Pipe(int index) = 0;
};

class TZAPipeListImp : public TZAPipeList {
public:
    static constexpr int kMaxPipes = 10;

    int Count() const override { return static_cast<int>(pipes_.size()); }
    TZAPipe& Pipe(int index) override;
    // The pipe at `index` when there is one, without creating it.
    TZAPipe* Find(int index) const;
    // Extends the list with empty places up to `n` entries; never shrinks.
    void Grow(int n);
    // Puts `pipe` at `index`, freeing a different pipe that was there.
    void Put(int index, std::unique_ptr<TZAPipe> pipe);
    // Appends a pipe for `stream`; returns its index.
    int Add(TZAStream* stream, const std::string& name, bool ownsStream);
    int Add(std::unique_ptr<TZAStream> stream, const std::string& name);
    void Clear();
    // Clears `other` and moves every entry into it; this list ends empty.
    void MoveTo(TZAPipeListImp& other);

private:
    static void checkIndex(int index);
    std::vector<std::unique_ptr<TZAPipe>> pipes_;
};
