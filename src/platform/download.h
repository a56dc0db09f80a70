// Text fetches with retries and resumable, checksummed downloads, on top of Http.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/http.h"
#include "platform/progress.h"

namespace launcher {

// What a failed fetch's error text says happened: the server could not be reached or stalled
// (no connection, no answer, a body that broke off; also an address the system cannot use and a
// system HTTP service that cannot be opened, so that no request went out), it answered with a
// fault of its own (5xx), it has no such file (404), it refused the download (403), it has had too
// many requests (429), it answered with another status, or anything else (a damaged file, a stop).
enum class FetchFault {
  kOther,
  kUnreachable,
  kServer,
  kMissing,
  kRefused,
  kRateLimited,
  kOtherStatus
};
FetchFault FetchFaultOf(const std::string& error);

// A hint in parentheses, with a leading space, for the player after a fetch's error text: what
// to do about an unreachable server or a server fault, naming `button` after "press"
// (kSameButton); "" for the other failures.
std::string FetchFaultHint(const std::string& error, const std::string& button = kSameButton);

// Fetches a small text document whole into `out`, trying three times in all. A set `cancel`
// ends it with kCancelled.
bool FetchText(Http& http, const std::string& url, std::string& out, std::string& error,
               const std::atomic<bool>* cancel = nullptr);

// Brings `url` to `dest`, resuming from "<dest>.part", checking the SHA-256 `sha256` when it is
// not empty (any letter case), and moving the file into place only when it is complete. With a
// known `size` it refuses at once a file whose bytes still to come do not fit on the drive. A set
// `cancel` ends it with kCancelled within a fraction of a second and keeps the ".part" file.
bool Download(Http& http, const std::string& url, const std::filesystem::path& dest,
              const std::string& sha256, uint64_t size, const ProgressFn& progress,
              const std::atomic<bool>* cancel, std::string& error);

}  // namespace launcher
