#include "platform/wait_reporting_http.h"

#include <algorithm>
#include <condition_variable>
#include <thread>
#include <utility>

namespace launcher {
namespace {

using Clock = std::chrono::steady_clock;

// How often the watcher looks: a byte ends a shown wait within about this.
constexpr auto kLookInterval = std::chrono::milliseconds(200);
// A Get to the same host that starts this soon after one that brought nothing is its retry.
constexpr auto kRetryGap = std::chrono::seconds(2);

// One Get's watcher thread. The caller's sink marks each piece with a relaxed store, which is all
// a fast transfer pays; the watcher reads the mark, keeps the clock and calls the report.
class Watch {
 public:
  Watch(const std::string& host, Clock::time_point since, std::chrono::milliseconds threshold,
        const WaitReport& report)
      : host_(host),
        since_(since),
        threshold_(std::max<std::chrono::milliseconds>(threshold, std::chrono::seconds(1))),
        report_(report),
        thread_([this] { Run(); }) {}
  ~Watch() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  void Arrived() { arrived_.store(true, std::memory_order_relaxed); }

 private:
  void Run() {
    int shown = 0;  // the seconds last reported; 0 while no wait is shown
    for (bool first = true;; first = false) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!first) wake_.wait_for(lock, kLookInterval, [this] { return ended_; });
        if (ended_) break;
      }
      const Clock::time_point now = Clock::now();
      if (arrived_.exchange(false, std::memory_order_relaxed)) {
        since_ = now;
        if (shown != 0) report_(host_, 0);
        shown = 0;
        continue;
      }
      if (now - since_ < threshold_) continue;
      const int seconds =
          static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(now - since_).count());
      if (seconds != shown) report_(host_, seconds);
      shown = seconds;
    }
    if (shown != 0) report_(host_, 0);
  }

  const std::string& host_;
  Clock::time_point since_;  // the watcher's own: when the last byte came, or the quiet began
  const std::chrono::milliseconds threshold_;
  const WaitReport& report_;
  std::atomic<bool> arrived_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ended_ = false;  // under mutex_
  std::thread thread_;  // last: starts once the members above are made
};

}  // namespace

std::string UrlHost(const std::string& url) {
  const size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return "";
  const size_t start = scheme_end + 3;
  const size_t end = std::min(url.find_first_of("/?#", start), url.size());
  std::string host = url.substr(start, end - start);
  const size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  if (!host.empty() && host[0] == '[') {
    const size_t close = host.find(']');
    return close == std::string::npos ? host.substr(1) : host.substr(1, close - 1);
  }
  return host.substr(0, host.find(':'));
}

WaitReportingHttp::WaitReportingHttp(std::unique_ptr<Http> inner, WaitReport report,
                                     std::chrono::milliseconds threshold)
    : inner_(std::move(inner)), report_(std::move(report)), threshold_(threshold) {}

bool WaitReportingHttp::Get(const std::string& url, uint64_t offset, const BodySink& sink,
                            uint64_t* total, std::string& error,
                            const std::atomic<bool>* cancel) {
  if (!report_) return inner_->Get(url, offset, sink, total, error, cancel);
  const std::string host = UrlHost(url);
  const Clock::time_point since = QuietSince(host, Clock::now());
  bool got_bytes = false;
  bool ok = false;
  {
    Watch watch(host, since, threshold_, report_);
    const BodySink watched = [&](const uint8_t* data, uint64_t size) {
      got_bytes = true;
      watch.Arrived();
      return sink(data, size);
    };
    ok = inner_->Get(url, offset, watched, total, error, cancel);
  }
  EndQuiet(host, got_bytes, since);
  return ok;
}

Clock::time_point WaitReportingHttp::QuietSince(const std::string& host, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(carry_mutex_);
  if (host == quiet_host_ && now - quiet_ended_ < kRetryGap) return quiet_since_;
  return now;
}

void WaitReportingHttp::EndQuiet(const std::string& host, bool got_bytes,
                                 Clock::time_point since) {
  std::lock_guard<std::mutex> lock(carry_mutex_);
  quiet_host_ = host;
  quiet_since_ = since;
  // A Get that brought bytes leaves nothing to carry: no later Get is within the gap of this.
  quiet_ended_ = got_bytes ? Clock::time_point{} : Clock::now();
}

}  // namespace launcher
