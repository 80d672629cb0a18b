#include "stream_scan.h"

#include "byte_order.h"

namespace {

// The stream's bytes through a window of the buffer's size, by offset in the stream.
class StreamWindow {
 public:
  StreamWindow(platform::File* file, const ArchiveTrailer& trailer, uint8_t* buffer, size_t capacity)
      : file_(file), base_(trailer.archive_offset), end_(trailer.archive_size), buffer_(buffer),
        capacity_(capacity) {}

  uint64_t end() const { return end_; }

  // The byte at `at` (inside the stream); false when it cannot be read.
  bool ByteAt(uint64_t at, uint8_t* byte) {
    if (at < start_ || at >= start_ + filled_) {
      const uint64_t want = end_ - at < capacity_ ? end_ - at : capacity_;
      if (!platform::SeekTo(file_, base_ + at)) return false;
      filled_ = platform::ReadBytes(file_, buffer_, static_cast<size_t>(want));
      start_ = at;
      if (filled_ == 0) return false;
    }
    *byte = buffer_[at - start_];
    return true;
  }

 private:
  platform::File* file_;
  uint64_t base_;
  uint64_t end_;
  uint8_t* buffer_;
  size_t capacity_;
  uint64_t start_ = 0;
  size_t filled_ = 0;
};

}  // namespace

bool StreamHoldsWholeEntries(platform::File* file, const ArchiveTrailer& trailer, uint8_t* buffer, size_t capacity) {
  StreamWindow stream(file, trailer, buffer, capacity);
  uint64_t at = 0;
  while (at < stream.end()) {
    uint8_t size_bytes[4];
    if (stream.end() - at < sizeof size_bytes) return false;
    for (uint8_t& b : size_bytes) {
      if (!stream.ByteAt(at++, &b)) return false;
    }
    // The name runs to its zero, which must come before the stream's end.
    for (uint8_t c = 1; c != 0;) {
      if (at >= stream.end() || !stream.ByteAt(at++, &c)) return false;
    }
    const uint32_t size = LoadLe32(size_bytes);
    if (size == kDirectoryEntrySize) continue;
    if (stream.end() - at < size) return false;
    at += size;
  }
  return true;
}
