#include "music/song_conversion.h"

#include <system_error>
#include <utility>

namespace launcher {
namespace fs = std::filesystem;
namespace {

std::string AbsoluteUtf8(const fs::path& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return PathToUtf8(ec ? path : absolute);
}

}  // namespace

SongConversion ConvertSong(Platform& platform, const Converters& converters, const SongJob& job) {
  SongConversion result;
  if (converters.cancel != nullptr && converters.cancel->load()) return result;
  const std::string source = AbsoluteUtf8(job.source);
  const std::string output = AbsoluteUtf8(job.output);
  platform.Run(ProbeCommand(converters.ffprobe, source), converters.cwd, {},
               [&result](const std::string& line) { ParseProbeLine(line, result.probe); },
               converters.cancel);
  const int exit_code =
      platform.Run(ConvertCommand(converters.ffmpeg, source, output), converters.cwd, {},
                   [&result](const std::string& line) { KeepLastLine(line, result.last_line); },
                   converters.cancel);
  std::error_code ec;
  result.converted = exit_code == 0 && fs::exists(job.output, ec);
  return result;
}

SongConversionQueue::SongConversionQueue(Platform& platform, Converters converters,
                                         unsigned threads)
    : platform_(platform), converters_(std::move(converters)), max_threads_(threads ? threads : 1) {}

SongConversionQueue::~SongConversionQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    waiting_.clear();
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void SongConversionQueue::Add(std::size_t id, SongJob job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.emplace_back(id, std::move(job));
  }
  changed_.notify_all();
  // Threads start as the work arrives, up to the limit.
  if (threads_.size() < max_threads_) {
    try {
      threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // No further thread to be had: the ones running take the song in turn, or, with none
      // at all, Take converts it itself.
    }
  }
}

SongConversion SongConversionQueue::Take(std::size_t id) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (threads_.empty()) {
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
      if (it->first != id) continue;
      const SongJob job = std::move(it->second);
      waiting_.erase(it);
      lock.unlock();
      return ConvertSong(platform_, converters_, job);
    }
  }
  changed_.wait(lock, [&] { return done_.count(id) != 0; });
  SongConversion result = std::move(done_[id]);
  done_.erase(id);
  return result;
}

void SongConversionQueue::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
    if (stopping_) return;
    auto [id, job] = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    SongConversion result = ConvertSong(platform_, converters_, job);
    lock.lock();
    done_[id] = std::move(result);
    changed_.notify_all();
  }
}

}  // namespace launcher
