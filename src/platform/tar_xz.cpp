#include "platform/tar_xz.h"

#include <lzma.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/archive_file.h"
#include "platform/platform.h"
#include "platform/tar_reader.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

constexpr size_t kInputSize = 1 << 20;   // compressed bytes per read
constexpr size_t kOutputSize = 4 << 20;  // decoded bytes per decoder call

// Decoded chunks in flight between the decoder and the tar reader's thread.
constexpr size_t kOutputBuffers = 3;

// The largest dictionary a stream may ask for. liblzma limits the decoder's whole memory, so
// the limit carries an allowance for its own state; the next LZMA2 dictionary size after
// 1 GiB is 1.5 GiB, so the rule stays the one on the dictionary.
constexpr uint64_t kDictionaryLimit = uint64_t{1} << 30;
constexpr uint64_t kDecoderAllowance = uint64_t{16} << 20;

// The numbers of the damaged-data message (the classic xz decoder's result codes).
int ResultNumber(lzma_ret result) {
  switch (result) {
    case LZMA_MEM_ERROR: return 3;
    case LZMA_MEMLIMIT_ERROR: return 4;
    case LZMA_FORMAT_ERROR: return 5;
    case LZMA_OPTIONS_ERROR: return 6;
    case LZMA_DATA_ERROR: return 7;
    default: return 8;  // LZMA_BUF_ERROR before the input ends, LZMA_PROG_ERROR
  }
}

class XzDecoder {
 public:
  XzDecoder() = default;
  ~XzDecoder() { lzma_end(&stream_); }
  XzDecoder(const XzDecoder&) = delete;
  XzDecoder& operator=(const XzDecoder&) = delete;

  // One decoder thread per core. A stream of many blocks (xz -T) is decoded in parallel while
  // its memory fits the limit; a stream of one block, or one that does not fit, is decoded on
  // one thread. A stream that needs more than the limit even then fails.
  bool Init() {
    lzma_mt options;
    std::memset(&options, 0, sizeof options);
    options.threads = std::max(1u, std::thread::hardware_concurrency());
    options.timeout = 0;
    options.memlimit_stop = kDictionaryLimit + kDecoderAllowance;
    const uint64_t quarter = lzma_physmem() / 4;
    options.memlimit_threading =
        quarter == 0 ? options.memlimit_stop : std::min(quarter, options.memlimit_stop);
    return lzma_stream_decoder_mt(&stream_, &options) == LZMA_OK;
  }

  lzma_stream& stream() { return stream_; }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
};

// Runs the tar reader on a thread of its own, so that files are written while the decoder
// works on the next chunk. Chunks reach the reader whole and in order; once it fails it takes
// no more, and the driver stops before its next decoder call. Without a thread (one could not
// be started) each chunk is read at once on the calling thread.
class ChunkPipeline {
 public:
  explicit ChunkPipeline(TarReader& reader) : reader_(reader) {}
  ~ChunkPipeline() { Finish(); }
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  bool Start() {
    for (size_t i = 0; i < kOutputBuffers; ++i) {
      buffers_.emplace_back(new (std::nothrow) uint8_t[kOutputSize]);
      if (!buffers_.back()) return false;
      free_.push_back(buffers_.back().get());
    }
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // Read on the calling thread instead.
    }
    return true;
  }

  // The buffer for the next decoder call; waits while every buffer is with the reader.
  uint8_t* Buffer() {
    if (current_ == nullptr) {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !free_.empty(); });
      current_ = free_.back();
      free_.pop_back();
    }
    return current_;
  }

  // Hands the first `size` bytes of the current buffer to the reader.
  void Hand(size_t size) {
    if (size == 0) return;
    uint8_t* chunk = current_;
    current_ = nullptr;
    if (!thread_.joinable()) {
      Read(chunk, size);
      free_.push_back(chunk);
      return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back({chunk, size});
    changed_.notify_all();
  }

  bool failed() const { return failed_.load(); }

  // Waits until the reader has had every chunk handed to it; false with its error when it
  // failed on one of them.
  bool Finish(std::string& error) {
    Finish();
    if (!failed_) return true;
    error = error_;
    return false;
  }

 private:
  struct Chunk {
    uint8_t* data;
    size_t size;
  };

  void Finish() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      changed_.notify_all();
    }
    thread_.join();
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return !queued_.empty() || closed_; });
      if (queued_.empty()) return;
      const Chunk chunk = queued_.front();
      queued_.pop_front();
      lock.unlock();
      Read(chunk.data, chunk.size);
      lock.lock();
      free_.push_back(chunk.data);
      changed_.notify_all();
    }
  }

  void Read(const uint8_t* data, size_t size) {
    if (failed_) return;
    if (!reader_.Feed(data, size, error_)) failed_ = true;
  }

  TarReader& reader_;
  std::vector<std::unique_ptr<uint8_t[]>> buffers_;
  uint8_t* current_ = nullptr;  // the decoder's buffer; touched only by the calling thread

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint8_t*> free_;
  std::deque<Chunk> queued_;
  bool closed_ = false;

  std::atomic<bool> failed_{false};
  std::string error_;  // written by the reader's thread before failed_ is set
  std::thread thread_;
};

// Reads the archive, reports progress after every read, checks the cancel flag before every
// decoder call and hands each call's output to the pipeline. True at the end of the xz
// stream; false with `error` for the decoder's failures, or with no error when the reader
// failed (the pipeline holds its error).
bool Decode(std::ifstream& in, const fs::path& archive, uint64_t total, XzDecoder& decoder,
            ChunkPipeline& pipeline, uint8_t* input, const ProgressFn& progress,
            const std::atomic<bool>* cancel, std::string& error) {
  lzma_stream& stream = decoder.stream();
  stream.next_in = input;
  stream.avail_in = 0;
  uint64_t done = 0;
  bool input_ended = false;
  for (;;) {
    if (cancel != nullptr && cancel->load()) {
      error = "cancelled";
      return false;
    }
    if (pipeline.failed()) return false;
    if (stream.avail_in == 0) {
      in.read(reinterpret_cast<char*>(input), kInputSize);
      const size_t count = static_cast<size_t>(in.gcount());
      done += count;
      if (progress) progress(done, total);
      input_ended = count == 0;
      stream.next_in = input;
      stream.avail_in = count;
    }
    uint8_t* out = pipeline.Buffer();
    stream.next_out = out;
    stream.avail_out = kOutputSize;
    const lzma_ret result = lzma_code(&stream, input_ended ? LZMA_FINISH : LZMA_RUN);
    pipeline.Hand(kOutputSize - stream.avail_out);
    if (result == LZMA_STREAM_END) return true;
    if (result == LZMA_OK || result == LZMA_UNSUPPORTED_CHECK) continue;
    if (result == LZMA_BUF_ERROR && input_ended) {
      error = "the xz file ends early: " + PathToUtf8(archive);
    } else {
      error = "the xz data is damaged (" + std::to_string(ResultNumber(result)) + ") in " +
              PathToUtf8(archive);
    }
    return false;
  }
}

}  // namespace

bool ExtractTarXz(const fs::path& archive, const fs::path& dest, const NameMapper& mapper,
                  const ProgressFn& progress, const std::atomic<bool>* cancel,
                  std::string& error) {
  std::ifstream in(archive, std::ios::binary);
  if (!in) {
    error = "cannot open " + PathToUtf8(archive);
    return false;
  }
  std::error_code ec;
  uint64_t total = fs::file_size(archive, ec);
  if (ec) total = 0;

  XzDecoder decoder;
  std::unique_ptr<uint8_t[]> input(new (std::nothrow) uint8_t[kInputSize]);
  TarReader reader(dest, mapper);
  ChunkPipeline pipeline(reader);
  if (!input || !decoder.Init() || !pipeline.Start()) {
    error = "out of memory for the xz decoder";
    return false;
  }

  std::string decode_error;
  const bool decoded = Decode(in, archive, total, decoder, pipeline, input.get(), progress,
                              cancel, decode_error);
  // What the reader found in the chunks decoded before the decoder stopped comes first.
  if (!pipeline.Finish(error)) return false;
  if (!decoded) {
    error = decode_error;
    return false;
  }
  return reader.Close(error);
}

}  // namespace launcher
