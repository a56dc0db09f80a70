#include "platform/wait_reporting_http.h"

#include <algorithm>
#include <condition_variable>
#include <thread>
#include <utility>

#include "platform/progress.h"

namespace launcher {
namespace {

using Clock = std::chrono::steady_clock;

// How often the watcher looks: a byte ends a shown wait within about this.
constexpr auto kLookInterval = std::chrono::milliseconds(200);

}  // namespace

// One wait and its watcher thread, from the Get that began it through the retries that take it
// on. The Get's sink marks each piece with a relaxed store, which is all a fast transfer pays; the
// watcher reads the mark, keeps the clock and calls the report.
class WaitReportingHttp::Watch {
 public:
  Watch(std::string first_host, std::chrono::milliseconds threshold, const WaitReport& report)
      : first_host_(std::move(first_host)),
        host_(first_host_),
        since_(Clock::now()),
        threshold_(std::max<std::chrono::milliseconds>(threshold, std::chrono::seconds(1))),
        report_(report),
        thread_([this] { Run(); }) {}
  // Ends the wait: a shown one hears 0 before this returns.
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

  // The host of the Get that began the wait, which its retries ask again.
  const std::string& first_host() const { return first_host_; }

  // A piece of the body came.
  void Arrived() { arrived_.store(true, std::memory_order_relaxed); }

  // The transfer follows a redirect to `host`; from any thread.
  void Moved(const std::string& host) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      moved_to_ = host;
    }
    wake_.notify_all();
  }

  // The Get ended without success: the shown wait stays, its count held, until `until`; then it
  // hears 0 and the watcher ends.
  void Linger(Clock::time_point until) {
    std::lock_guard<std::mutex> lock(mutex_);
    lingering_ = true;
    linger_until_ = until;
  }

  // A retry takes the wait on and its count runs on. False when the linger has run out already.
  bool Resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (expired_) return false;
    lingering_ = false;
    return true;
  }

 private:
  void Run() {
    int shown = 0;  // the seconds last reported; 0 while no wait is shown
    for (bool first = true;; first = false) {
      std::string moved_to;
      bool lingering = false;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!first) {
          wake_.wait_for(lock, kLookInterval, [this] { return ended_ || !moved_to_.empty(); });
        }
        if (ended_) break;
        if (lingering_ && Clock::now() >= linger_until_) {
          expired_ = true;
          break;
        }
        lingering = lingering_;
        moved_to.swap(moved_to_);
      }
      const Clock::time_point now = Clock::now();
      // The host that sent the redirect has answered; the silence of the next one begins.
      const bool answered = !moved_to.empty() && moved_to != host_;
      if (arrived_.exchange(false, std::memory_order_relaxed) || answered) {
        since_ = now;
        if (shown != 0) report_(host_, 0);
        shown = 0;
        if (answered) host_ = moved_to;
        continue;
      }
      if (lingering || now - since_ < threshold_) continue;
      const int seconds =
          static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(now - since_).count());
      if (seconds != shown) report_(host_, seconds);
      shown = seconds;
    }
    if (shown != 0) report_(host_, 0);
  }

  const std::string first_host_;
  std::string host_;         // the watcher's own: the host the transfer waits for
  Clock::time_point since_;  // the watcher's own: when the last byte came, or the quiet began
  const std::chrono::milliseconds threshold_;
  const WaitReport& report_;
  std::atomic<bool> arrived_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  // Under mutex_:
  bool ended_ = false;
  std::string moved_to_;  // the host of a redirect the watcher has not seen yet
  bool lingering_ = false;
  Clock::time_point linger_until_;
  bool expired_ = false;  // the linger ran out and the watcher has ended, or is ending
  std::thread thread_;    // last: starts once the members above are made
};

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
                                     std::chrono::milliseconds threshold,
                                     std::chrono::milliseconds retry_gap)
    : inner_(std::move(inner)),
      report_(std::move(report)),
      threshold_(threshold),
      retry_gap_(retry_gap) {}

WaitReportingHttp::~WaitReportingHttp() {
  std::lock_guard<std::mutex> lock(lingering_mutex_);
  lingering_.reset();
}

bool WaitReportingHttp::Get(const std::string& url, uint64_t offset, const BodySink& sink,
                            uint64_t* total, std::string& error,
                            const std::atomic<bool>* cancel) {
  if (!report_) return inner_->Get(url, offset, sink, total, error, cancel);
  std::unique_ptr<Watch> watch = TakeOver(UrlHost(url));
  const BodySink watched = [&](const uint8_t* data, uint64_t size) {
    watch->Arrived();
    return sink(data, size);
  };
  const RedirectReport moved = [&](const std::string& to) { watch->Moved(UrlHost(to)); };
  const bool ok = inner_->GetTellingRedirects(url, offset, watched, total, error, cancel, moved);
  // A stop ends the wait at once: no retry follows it.
  const bool stopped = error == kCancelled || (cancel != nullptr && cancel->load());
  if (!ok && !stopped) Linger(std::move(watch));
  return ok;
}

std::unique_ptr<WaitReportingHttp::Watch> WaitReportingHttp::TakeOver(const std::string& host) {
  std::unique_ptr<Watch> last;
  {
    std::lock_guard<std::mutex> lock(lingering_mutex_);
    last = std::move(lingering_);
  }
  if (last && last->first_host() == host && last->Resume()) return last;
  // Another host's wait ends, and says so, before this one begins.
  last.reset();
  return std::make_unique<Watch>(host, threshold_, report_);
}

void WaitReportingHttp::Linger(std::unique_ptr<Watch> watch) {
  watch->Linger(Clock::now() + retry_gap_);
  std::unique_ptr<Watch> older;  // a failed Get's on another thread, which no retry took on
  std::lock_guard<std::mutex> lock(lingering_mutex_);
  older = std::move(lingering_);
  lingering_ = std::move(watch);
}

}  // namespace launcher
