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
#include "platform/progress.h"
#include "platform/tar_reader.h"

namespace launcher {
namespace fs = std::filesystem;
namespace {

constexpr size_t kInputSize = 1 << 20;   // compressed bytes per read
constexpr size_t kOutputSize = 4 << 20;  // decoded bytes per decoder call

// Decoded pieces in flight between the decoder's thread and the caller's.
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
    options.flags = LZMA_CONCATENATED;
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

// One decoder call's worth of the archive: the read that came before the call, if any, and the
// bytes the call decoded.
struct Piece {
  bool read = false;      // the archive was read before this call
  uint64_t done = 0;      // compressed bytes read so far
  uint8_t* data = nullptr;
  size_t size = 0;
  bool last = false;      // the decoder's last call: the end of the xz input, or a failure
};

// Reads the archive and runs the decoder, one call per Step. Every stream of the file is
// decoded, one after the other, with the padding between them, as xz itself reads them.
class XzSource {
 public:
  XzSource(std::ifstream& in, const fs::path& archive, XzDecoder& decoder, uint8_t* input,
           const std::atomic<bool>* cancel)
      : in_(in), archive_(archive), decoder_(decoder), input_(input), cancel_(cancel) {
    decoder_.stream().next_in = input_;
    decoder_.stream().avail_in = 0;
  }

  // Checks the cancel flag, reads the archive when the decoder has used up the last read, and
  // decodes into `out` (kOutputSize bytes). On the last call, `error` is set unless the input
  // ended well.
  void Step(uint8_t* out, Piece& piece) {
    piece = Piece{};
    piece.data = out;
    if (cancel_ != nullptr && cancel_->load()) {
      error_ = kCancelled;
      piece.last = true;
      return;
    }
    lzma_stream& stream = decoder_.stream();
    if (stream.avail_in == 0) {
      in_.read(reinterpret_cast<char*>(input_), kInputSize);
      const size_t count = static_cast<size_t>(in_.gcount());
      done_ += count;
      input_ended_ = count == 0;
      stream.next_in = input_;
      stream.avail_in = count;
      piece.read = true;
      piece.done = done_;
    }
    stream.next_out = out;
    stream.avail_out = kOutputSize;
    const lzma_ret result = lzma_code(&stream, input_ended_ ? LZMA_FINISH : LZMA_RUN);
    piece.size = kOutputSize - stream.avail_out;
    if (result == LZMA_OK || result == LZMA_UNSUPPORTED_CHECK) return;
    piece.last = true;
    if (result == LZMA_STREAM_END) return;
    if (result == LZMA_BUF_ERROR && input_ended_) {
      error_ = "the xz file ends early: " + PathToUtf8(archive_);
    } else {
      error_ = "the xz data is damaged (" + std::to_string(ResultNumber(result)) + ") in " +
               PathToUtf8(archive_);
    }
  }

  // After the last step: true when the input ended well, else false with the error.
  bool Result(std::string& error) const {
    if (error_.empty()) return true;
    error = error_;
    return false;
  }

 private:
  std::ifstream& in_;
  const fs::path& archive_;
  XzDecoder& decoder_;
  uint8_t* const input_;
  const std::atomic<bool>* const cancel_;
  uint64_t done_ = 0;
  bool input_ended_ = false;
  std::string error_;
};

// Runs the source on a thread of its own, a few pieces ahead of the caller, so that the next
// data is decoded while the caller's thread writes files (the tar reader, the name mapper and
// the progress callback stay on the caller's thread). Without a thread (one could not be
// started) each piece is decoded when the caller asks for it.
class DecodeAhead {
 public:
  explicit DecodeAhead(XzSource& source) : source_(source) {}
  ~DecodeAhead() { Stop(); }
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;

  bool Start() {
    for (size_t i = 0; i < kOutputBuffers; ++i) {
      buffers_.emplace_back(new (std::nothrow) uint8_t[kOutputSize]);
      if (!buffers_.back()) return false;
      free_.push_back(buffers_.back().get());
    }
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // Decode on the calling thread instead.
    }
    return true;
  }

  // The next piece, in order; the caller hands it back with Release before asking again.
  void Next(Piece& piece) {
    if (!thread_.joinable()) {
      source_.Step(free_.back(), piece);
      return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty(); });
    piece = ready_.front();
    ready_.pop_front();
  }

  void Release(const Piece& piece) {
    if (!thread_.joinable()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(piece.data);
    changed_.notify_all();
  }

  // Ends the decoding early (or waits for its thread after the last piece).
  void Stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
      changed_.notify_all();
    }
    thread_.join();
  }

 private:
  void Run() {
    for (;;) {
      uint8_t* out = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !free_.empty() || stopped_; });
        if (stopped_) return;
        out = free_.back();
        free_.pop_back();
      }
      Piece piece;
      source_.Step(out, piece);
      std::lock_guard<std::mutex> lock(mutex_);
      ready_.push_back(piece);
      changed_.notify_all();
      if (piece.last) return;
    }
  }

  XzSource& source_;
  std::vector<std::unique_ptr<uint8_t[]>> buffers_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint8_t*> free_;
  std::deque<Piece> ready_;
  bool stopped_ = false;
  std::thread thread_;
};

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
  if (!input || !decoder.Init()) {
    error = "out of memory for the xz decoder";
    return false;
  }
  XzSource source(in, archive, decoder, input.get(), cancel);
  DecodeAhead ahead(source);
  if (!ahead.Start()) {
    error = "out of memory for the xz decoder";
    return false;
  }

  // Pieces are taken in order, so a failure of the reader on early data is what is reported,
  // not the decoder's on later data. After the tar's end marker the rest of the xz input is
  // still decoded (and its checks verified) but nothing more is written.
  TarReader reader(dest, mapper, archive);
  for (;;) {
    Piece piece;
    ahead.Next(piece);
    if (cancel != nullptr && cancel->load()) {
      error = kCancelled;
      return false;
    }
    if (piece.read && progress) progress(piece.done, total);
    if (piece.size > 0 && !reader.ended() && !reader.Feed(piece.data, piece.size, error)) {
      return false;
    }
    ahead.Release(piece);
    if (piece.last) break;
  }
  ahead.Stop();
  if (!source.Result(error)) return false;
  return reader.Finish(error);
}

}  // namespace launcher
