// The launcher's only way onto the network: a GET of a URL from a byte offset on, streaming the
// body to a sink. CreateHttp gives the implementation for the system being built (WinHTTP on
// Windows, libcurl elsewhere); both send the user agent "Kelvane launcher/1.0".
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace launcher {

// Receives the body in pieces of at most 64 KiB; returning false stops the transfer.
using BodySink = std::function<bool(const uint8_t* data, uint64_t size)>;
// Hears the URL that a followed redirect leads to, before the request goes there.
using RedirectReport = std::function<void(const std::string& url)>;

class Http {
 public:
  virtual ~Http() = default;

  // Fetches `url` from byte `offset` on (a ranged request when offset > 0) and hands the body
  // to `sink`. When `total` is given it receives the whole resource's size as the answer tells
  // it (0 when unknown), before the first piece. Redirects are followed; only the final answer
  // counts. A server that ignores the range (200) has the bytes before the offset dropped.
  // True when the whole body from the offset on was delivered. Otherwise `error` is one of:
  //   "bad address " + url                        (no http/https scheme, no host, host over 255
  //                                                characters, path of 4096 or more)
  //   "the request failed (code: words)"          (no connection, no answer, time-out)
  //   "the server answered N for " + url          (any final status but 200 and 206)
  //   "the download stopped (code: words)"        (the body broke off or stalled for 60 s)
  //   "stopped"                                   (the sink returned false)
  //   kCancelled                                  (`cancel` was set; may be null)
  // or, on Windows only, "WinHTTP is unavailable (...)", "cannot reach the server (...)" and
  // "cannot open the request (...)".
  virtual bool Get(const std::string& url, uint64_t offset, const BodySink& sink, uint64_t* total,
                   std::string& error, const std::atomic<bool>* cancel) = 0;

  // Get, telling `redirected` of each redirect it follows, on Get's thread or one of the
  // system's, never after it has returned. An Http that cannot tell keeps this default: the plain
  // Get, which tells nothing.
  virtual bool GetTellingRedirects(const std::string& url, uint64_t offset, const BodySink& sink,
                                   uint64_t* total, std::string& error,
                                   const std::atomic<bool>* cancel,
                                   const RedirectReport& redirected) {
    (void)redirected;
    return Get(url, offset, sink, total, error, cancel);
  }
};

// Never fails: an implementation that cannot reach the system's HTTP service reports that on
// every Get.
std::unique_ptr<Http> CreateHttp();

}  // namespace launcher
