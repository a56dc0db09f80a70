// An Http over another that tells when a server keeps its caller waiting: once no byte has come
// for a while, it names the host and how long it has had no answer, about once a second, so that
// the player sees why nothing moves and that Stop is the way out.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/http.h"

namespace launcher {

// `seconds` (1 or more) without an answer from `host`; 0 once that wait is over.
using WaitReport = std::function<void(const std::string& host, int seconds)>;

// The host of an http or https URL as the player knows it: without the scheme, a user, the port
// and an IPv6 address's brackets. "" when the URL has none.
std::string UrlHost(const std::string& url);

class WaitReportingHttp final : public Http {
 public:
  static constexpr std::chrono::milliseconds kDefaultThreshold{5000};

  // Reports to `report` once a Get has gone `threshold` (at least a second) without a byte.
  WaitReportingHttp(std::unique_ptr<Http> inner, WaitReport report,
                    std::chrono::milliseconds threshold = kDefaultThreshold);

  // The inner Get, watched. While no byte comes for the threshold, `report` hears the host and the
  // whole seconds without an answer each time that number grows; once a byte arrives, and when
  // the Get ends after such a report, it hears 0. The quiet time of a Get that brought no byte at
  // all runs on into the next Get to the same host started soon after (the retries of FetchText
  // and Download), so that a wait over several tries reads as one. `report` is called only on a
  // watcher thread of this Get, which is joined before Get returns; it must not call Get. Gets
  // may run on several threads at once.
  bool Get(const std::string& url, uint64_t offset, const BodySink& sink, uint64_t* total,
           std::string& error, const std::atomic<bool>* cancel) override;

 private:
  using Clock = std::chrono::steady_clock;

  // When the quiet of a Get to `host` began: carried over from the Get before, or now.
  Clock::time_point QuietSince(const std::string& host, Clock::time_point now);
  // Keeps a Get's quiet for the next Get to the same host when it brought no byte.
  void EndQuiet(const std::string& host, bool got_bytes, Clock::time_point since);

  const std::unique_ptr<Http> inner_;
  const WaitReport report_;
  const std::chrono::milliseconds threshold_;

  std::mutex carry_mutex_;  // guards the three fields below
  std::string quiet_host_;         // the host of the last Get
  Clock::time_point quiet_since_;  // when its quiet began
  Clock::time_point quiet_ended_;  // when it ended with no byte; long ago when it brought some
};

}  // namespace launcher
