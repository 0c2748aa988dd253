// The byte streams the component hands around: in-memory data given to an
// operation through pipes, and archives written to memory. A small
// interface so that file-backed streams can be added beside the memory one.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

enum TZASeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

class TZAStream {
public:
    virtual ~TZAStream() = default;

    // Reads up to `count` bytes at the position; returns the bytes read.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Writes `count` bytes at the position; returns the bytes written.
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Moves the position; returns the new position, or -1 when it would be negative.
    virtual std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) = 0;
    virtual std::int64_t Size() const = 0;
    // Cuts or extends (with zero bytes) the stream; false when not possible.
    virtual bool SetSize(std::int64_t size) = 0;

    std::int64_t Position() { return Seek(0, soCurrent); }
    void Rewind() { Seek(0, soBeginning); }
    // Reads or writes exactly the span; false when fewer bytes moved.
    bool ReadExact(std::span<std::uint8_t> out);
    bool WriteAll(std::span<const std::uint8_t> in);
};

class TZAMemoryStream : public TZAStream {
public:
    TZAMemoryStream() = default;
    explicit TZAMemoryStream(std::vector<std::uint8_t> data) : data_(std::move(data)) {}

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TZASeekOrigin origin) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }
    bool SetSize(std::int64_t size) override;

    const std::vector<std::uint8_t>& Data() const { return data_; }
    std::vector<std::uint8_t>& Data() { return data_; }

private:
    std::vector<std::uint8_t> data_;
    std::int64_t pos_ = 0;
};
