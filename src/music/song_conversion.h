// Converting songs with ffprobe and ffmpeg, several at once: one song per logical processor,
// each on a thread of its own, taken in the order they were queued, their results collected
// in any order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "music/ffmpeg_commands.h"
#include "platform/platform.h"

namespace launcher {

// What is needed to convert one song.
struct SongJob {
  std::filesystem::path source;  // the music file
  std::filesystem::path output;  // the WMA file to write
};

struct SongConversion {
  ProbeResult probe;
  bool converted = false;  // ffmpeg ended with 0 and the output exists
  std::string last_line;   // ffmpeg's last output line, its reason when it failed
};

// The converters to run and where: ffprobe and ffmpeg (paths or bare names found through the
// search path), the working folder, and the cancel flag that stops them.
struct Converters {
  std::string ffprobe;
  std::string ffmpeg;
  std::filesystem::path cwd;
  const std::atomic<bool>* cancel = nullptr;
};

// Probes and converts one song on the calling thread. Paths are made absolute first, since
// the converters run in `converters.cwd`.
SongConversion ConvertSong(Platform& platform, const Converters& converters, const SongJob& job);

class SongConversionQueue {
 public:
  // `threads` is the most songs converted at once (at least one).
  SongConversionQueue(Platform& platform, Converters converters, unsigned threads);
  // Drops the songs not yet started and waits for those running (the cancel flag ends them).
  ~SongConversionQueue();
  SongConversionQueue(const SongConversionQueue&) = delete;
  SongConversionQueue& operator=(const SongConversionQueue&) = delete;

  // Queues song `id` (any number, each once).
  void Add(std::size_t id, SongJob job);
  // Waits until song `id` has been converted (or has failed) and hands over its result.
  SongConversion Take(std::size_t id);

 private:
  void Work();

  Platform& platform_;
  const Converters converters_;
  const unsigned max_threads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<std::size_t, SongJob>> waiting_;
  std::map<std::size_t, SongConversion> done_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace launcher
