// Stand-ins for an opened disc image file, to hand to OpenDiscImage(image, file, ...): an image
// held in memory, and a wrapper that records every read attempt and can make attempts fail.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/disc_image.h"

namespace launcher::test {

// Reads from bytes in memory; at or past the end a read succeeds with 0 bytes, like a file.
class MemoryDiscFile final : public DiscFile {
 public:
  explicit MemoryDiscFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  DiscReadResult ReadAt(uint64_t offset, void* buffer, uint32_t size) override {
    if (offset >= bytes_.size()) return {0, 0};
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(size, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, count);
    return {count, 0};
  }
  uint64_t Size() override { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

// One attempt as seen by the wrapper: where, how much was asked, what came back.
struct DiscReadAttempt {
  uint64_t offset = 0;
  uint32_t asked = 0;
  DiscReadResult result;
};

// Passes reads on to `inner`, recording them. A `fault` function, when set, sees each attempt
// first and may replace its outcome: it returns true and fills `result` (and, for a partial
// read, it should forward to the inner file itself through `inner()`).
class RecordingDiscFile final : public DiscFile {
 public:
  using Fault = std::function<bool(uint64_t offset, void* buffer, uint32_t size,
                                   DiscReadResult& result)>;

  explicit RecordingDiscFile(std::unique_ptr<DiscFile> inner) : inner_(std::move(inner)) {}

  DiscReadResult ReadAt(uint64_t offset, void* buffer, uint32_t size) override {
    DiscReadResult result;
    Fault fault;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fault = fault_;
    }
    if (!fault || !fault(offset, buffer, size, result)) result = inner_->ReadAt(offset, buffer, size);
    std::lock_guard<std::mutex> lock(mutex_);
    attempts_.push_back({offset, size, result});
    return result;
  }
  uint64_t Size() override { return inner_->Size(); }

  DiscFile& inner() { return *inner_; }
  void set_fault(Fault fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    fault_ = std::move(fault);
  }
  std::vector<DiscReadAttempt> attempts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return attempts_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    attempts_.clear();
  }

 private:
  std::unique_ptr<DiscFile> inner_;
  std::mutex mutex_;
  Fault fault_;
  std::vector<DiscReadAttempt> attempts_;
};

}  // namespace launcher::test
