#include "platform/download.h"

#include <fstream>
#include <string_view>
#include <system_error>

#include "platform/archive_file.h"
#include "platform/ascii.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/sha.h"

namespace launcher {
namespace {
namespace fs = std::filesystem;

constexpr int kAttempts = 5;
constexpr int kTextAttempts = 3;
// Below this much free room a failed write is taken for a full drive.
constexpr uint64_t kFullDrive = 1024 * 1024;

// The folder whose drive receives `dest`.
fs::path FolderOf(const fs::path& dest) {
  return dest.has_parent_path() ? dest.parent_path() : fs::path(".");
}

// The text for a ".part" file that could not be written; a full drive says so.
std::string CannotWrite(const fs::path& part) {
  std::error_code ec;
  const fs::space_info space = fs::space(FolderOf(part), ec);
  const bool full = !ec && space.available < kFullDrive;
  return "cannot write " + PathToUtf8(part) + (full ? " (is the drive full?)" : "");
}

// False with the sentence when the bytes still to come after the ".part" file's `length` cannot
// fit on the destination's drive. A drive whose room cannot be read is not refused.
bool CheckRoom(const fs::path& dest, const std::string& name, uint64_t size, uint64_t length,
               std::string& error) {
  if (size == 0 || length >= size) return true;
  std::error_code ec;
  const fs::space_info space = fs::space(FolderOf(dest), ec);
  if (ec || space.available >= size - length) return true;
  error = "the download of " + name + " needs " + FormatSize(size - length) + ", " +
          FormatSize(space.available) + " free on this drive";
  return false;
}

// The length of a file, or 0 when it does not exist.
uint64_t LengthOf(const fs::path& path) {
  std::error_code ec;
  const uint64_t length = fs::file_size(path, ec);
  return ec ? 0 : length;
}

// True when `dest` already holds the wanted file, so that nothing needs to be fetched.
bool IsComplete(const fs::path& dest, const std::string& digest, uint64_t size) {
  std::error_code ec;
  if (!fs::is_regular_file(dest, ec)) return false;
  if (!digest.empty()) return Sha256File(dest) == digest;
  return size == 0 || LengthOf(dest) == size;
}

// One transfer into the ".part" file, from its current length on.
struct Attempt {
  Http& http;
  const std::string& url;
  const fs::path& part;
  uint64_t size;
  const ProgressFn& progress;
  const std::atomic<bool>* cancel;

  // "opened": false when the ".part" file cannot be opened; otherwise the transfer's result.
  bool Run(uint64_t length, bool& opened, std::string& error) const {
    std::ofstream out(part, std::ios::binary | std::ios::app);
    opened = out.is_open();
    if (!opened) return false;
    uint64_t received = length;
    uint64_t total = size;
    const BodySink sink = [&](const uint8_t* data, uint64_t count) {
      if (cancel && cancel->load()) return false;
      out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
      received += count;
      if (progress) progress(received, total != 0 ? total : received);
      return out.good();
    };
    const bool ok = http.Get(url, length, sink, &total, error, cancel);
    out.close();
    if (out.fail()) {
      // A failed write (a full disk) stopped the transfer: say so rather than "stopped".
      error = CannotWrite(part);
      return false;
    }
    return ok;
  }
};

// What follows the file's name when attempt `count` (from 0) brought a damaged file: the last
// attempt says the download failed, the others that it goes on.
std::string DamagedText(const char* check, int count) {
  if (count + 1 == kAttempts) return std::string(" failed its check (") + check + ")";
  return std::string(" is damaged (") + check + "), trying again";
}

}  // namespace

FetchFault FetchFaultOf(const std::string& error) {
  constexpr std::string_view kAnswered = "the server answered ";
  const size_t answered = error.find(kAnswered);
  if (answered != std::string::npos) {
    const std::string_view status = std::string_view(error).substr(answered + kAnswered.size());
    if (status.starts_with('5')) return FetchFault::kServer;
    if (status.starts_with("404 ")) return FetchFault::kMissing;
    if (status.starts_with("403 ")) return FetchFault::kRefused;
    if (status.starts_with("429 ")) return FetchFault::kRateLimited;
    return FetchFault::kOtherStatus;
  }
  // The transport's texts on both systems, and the Windows service's own failures before any
  // request goes out.
  for (const char* transport :
       {"the request failed (", "the download stopped (", "cannot reach the server (",
        "bad address ", "WinHTTP is unavailable (", "cannot open the request ("}) {
    if (error.find(transport) != std::string::npos) return FetchFault::kUnreachable;
  }
  return FetchFault::kOther;
}

std::string FetchFaultHint(const std::string& error, const std::string& button) {
  switch (FetchFaultOf(error)) {
    case FetchFault::kUnreachable:
      return " (the server could not be reached; press " + button + " to carry on)";
    case FetchFault::kServer:
      return " (the server has a fault of its own; press " + button + " later)";
    case FetchFault::kMissing:
    case FetchFault::kRefused:
    case FetchFault::kRateLimited:
    case FetchFault::kOtherStatus:
    case FetchFault::kOther:
      break;
  }
  return "";
}

bool FetchText(Http& http, const std::string& url, std::string& out, std::string& error,
               const std::atomic<bool>* cancel) {
  const BodySink append = [&out](const uint8_t* data, uint64_t size) {
    out.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
    return true;
  };
  for (int attempt = 1;; ++attempt) {
    out.clear();
    if (cancel && cancel->load()) {
      error = kCancelled;
      return false;
    }
    if (http.Get(url, 0, append, nullptr, error, cancel)) return true;
    if (attempt == kTextAttempts) return false;
  }
}

bool Download(Http& http, const std::string& url, const fs::path& dest, const std::string& sha256,
              uint64_t size, const ProgressFn& progress, const std::atomic<bool>* cancel,
              std::string& error) {
  const std::string digest = AsciiLower(sha256);
  if (IsComplete(dest, digest, size)) return true;

  std::error_code ec;
  if (dest.has_parent_path()) fs::create_directories(dest.parent_path(), ec);
  fs::path part = dest;
  part += ".part";
  const std::string name = PathToUtf8(dest.filename());
  const Attempt attempt{http, url, part, size, progress, cancel};
  if (!CheckRoom(dest, name, size, LengthOf(part), error)) return false;

  std::string last_error;
  bool done = false;
  for (int count = 0; count < kAttempts && !done; ++count) {
    last_error.clear();
    uint64_t length = LengthOf(part);
    if (size != 0 && length > size) {
      fs::remove(part, ec);
      length = 0;
    }
    if (size == 0 || length < size) {
      bool opened = false;
      const bool ok = attempt.Run(length, opened, last_error);
      if (!opened) {
        error = CannotWrite(part);
        return false;
      }
      if (cancel && cancel->load()) {
        error = kCancelled;
        return false;
      }
      if (!ok) continue;
    }
    if (!digest.empty()) {
      if (Sha256File(part) == digest) {
        done = true;
      } else {
        last_error = "the download of " + name + DamagedText("checksum", count);
        fs::remove(part, ec);
      }
    } else if (size != 0 && LengthOf(part) != size) {
      // Without a digest the size is the only check: a server that sent more or fewer bytes
      // than the file has must not put a wrong file in place. A longer ".part" is removed by
      // the next attempt, a shorter one is resumed.
      last_error = "the download of " + name + DamagedText("size", count);
    } else {
      done = true;
    }
  }
  if (!done) {
    error = last_error.empty() ? "the download of " + url + " failed" : last_error;
    return false;
  }

  fs::rename(part, dest, ec);
  if (ec) {
    error = "cannot rename " + PathToUtf8(part) + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace launcher
