// Text fetches with retries and resumable, checksummed downloads, on top of Http.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/http.h"
#include "platform/progress.h"

namespace launcher {

// Fetches a small text document whole into `out`, trying three times in all. A set `cancel`
// ends it with kCancelled.
bool FetchText(Http& http, const std::string& url, std::string& out, std::string& error,
               const std::atomic<bool>* cancel = nullptr);

// Brings `url` to `dest`, resuming from "<dest>.part", checking the SHA-256 `sha256` when it is
// not empty (any letter case), and moving the file into place only when it is complete.
bool Download(Http& http, const std::string& url, const std::filesystem::path& dest,
              const std::string& sha256, uint64_t size, const ProgressFn& progress,
              const std::atomic<bool>* cancel, std::string& error);

}  // namespace launcher
