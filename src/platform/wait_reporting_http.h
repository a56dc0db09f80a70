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
  // How long the wait of a Get that failed stays shown for a retry to take it on.
  static constexpr std::chrono::milliseconds kDefaultRetryGap{3000};

  // Reports to `report` once a Get has gone `threshold` (at least a second) without a byte.
  WaitReportingHttp(std::unique_ptr<Http> inner, WaitReport report,
                    std::chrono::milliseconds threshold = kDefaultThreshold,
                    std::chrono::milliseconds retry_gap = kDefaultRetryGap);
  // Ends a wait still shown (`report` hears 0) before it returns.
  ~WaitReportingHttp() override;
  WaitReportingHttp(const WaitReportingHttp&) = delete;
  WaitReportingHttp& operator=(const WaitReportingHttp&) = delete;

  // The inner Get, watched. While no byte comes for the threshold, `report` hears the host and the
  // whole seconds without an answer each time that number grows; once a byte arrives, and when
  // the Get ends after such a report, it hears 0. The host is the one the transfer is on: after a
  // redirect to another host, that host, whose silence counts from the redirect.
  //
  // A Get that fails (not by a stop) leaves its wait shown for the retry gap: a Get to the same
  // host started within it (the retries of FetchText and Download) takes the wait on, its count
  // running on from the last byte or the first try's start, so that a wait over several tries
  // reads as one and its text never goes between them. Without such a Get, `report` hears 0 once
  // the gap is over, or when a Get to another host starts.
  //
  // `report` is called on threads of this object's own, never two at once for one wait and never
  // after the destructor has returned; it must not call Get. Gets may run on several threads at
  // once.
  bool Get(const std::string& url, uint64_t offset, const BodySink& sink, uint64_t* total,
           std::string& error, const std::atomic<bool>* cancel) override;

 private:
  class Watch;

  // The wait a Get to `host` carries on: the one a failed Get to the same host left, or a new one.
  std::unique_ptr<Watch> TakeOver(const std::string& host);
  // Keeps the wait of a failed Get shown for the retry gap.
  void Linger(std::unique_ptr<Watch> watch);

  const std::unique_ptr<Http> inner_;
  const WaitReport report_;
  const std::chrono::milliseconds threshold_;
  const std::chrono::milliseconds retry_gap_;

  std::mutex lingering_mutex_;        // guards lingering_
  std::unique_ptr<Watch> lingering_;  // the wait of the last failed Get, while its gap lasts
};

}  // namespace launcher
