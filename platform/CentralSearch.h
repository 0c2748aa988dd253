// The backward search for the central directory, shared by the component
// (which reads the archive in chunks through its work file) and the engine
// (which reads a mapped file): when the end record's offset is wrong, as
// behind a self-extractor stub or data put in front without adjusting the
// offsets, the directory is the chain of central headers that ends exactly
// where the end records start.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace zrec {

// Reads the archive's bytes [offset, offset + out.size()) into `out`; false
// when they cannot all be read. It may throw (a cancelled operation), and
// the search lets the exception pass.
using TZAReadAt = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;

// The first header of the chain of central headers that ends exactly at
// `end`. Walking backward from `end`, a central header belongs to the chain
// when the bytes after its name, extra field and comment are `end` or a
// header already in the chain; the earliest such header is the directory's
// start. Headers are only taken whole before `end`. The bytes are read in
// chunks of 64 KiB; a failed read ends the search with what was found so far.
// Nothing when no header ends the chain at `end`.
std::optional<std::uint64_t> FindCentralStart(const TZAReadAt& read, std::uint64_t end);

// The same over bytes in memory (a mapped file); `end` is at most its size.
std::optional<std::uint64_t> FindCentralStart(std::span<const std::uint8_t> bytes,
                                              std::uint64_t end);

}  // namespace zrec
