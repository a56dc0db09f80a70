// Http over the Windows HTTP service (WinHTTP) in its asynchronous mode: one session for the whole
// run, a connection and a request per Get, the body read in 64 KiB pieces. The calling thread
// waits for each step on the launcher's own clock, so that a stop ends any wait within a fraction
// of a second and a stall ends it after 60 s: WinHTTP's receive time-out is not applied
// everywhere (Wine ignores it while waiting for the headers), and a blocked synchronous call
// cannot be ended from outside under Wine.
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http.h"
#include "platform/platform.h"
#include "platform/platform_detail.h"
#include "platform/progress.h"

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace launcher {
namespace {

constexpr wchar_t kUserAgent[] = L"Kelvane launcher/1.0";
constexpr DWORD kPiece = 64 * 1024;

// How often a waiting request looks at the cancel flag, and how long it may go without an answer
// or a byte before it counts as stalled.
constexpr auto kWatchPeriod = std::chrono::milliseconds(100);
constexpr auto kStallLimit = std::chrono::seconds(60);

// WinHTTP's words for its own codes live in winhttp.dll's message table, not the system's. The
// table below stands in where that has none (Wine's has none).
std::string WinHttpWords(DWORD code) {
  if (code < WINHTTP_ERROR_BASE || code >= WINHTTP_ERROR_BASE + 200) return SystemErrorWords(code);
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string words;
  if (buffer != nullptr) {
    words = WideToUtf8(std::wstring_view(buffer, length));
    LocalFree(buffer);
  }
  if (!words.empty()) return words;
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
      return "the operation timed out";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "the server name could not be resolved";
    case ERROR_WINHTTP_OPERATION_CANCELLED:
      return "the operation was ended";
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return "cannot connect to the server";
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return "the connection was reset or ended";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return "the server's answer cannot be read";
    case ERROR_WINHTTP_SECURE_FAILURE:
      return "the secure connection failed";
    default:
      return "";
  }
}

// `text` + " (code: words)" for a WinHTTP failure.
std::string WinHttpErrorText(const char* text, DWORD code) {
  return FormatSystemError(text, code, WinHttpWords(code));
}

// The same for the calling thread's last error.
std::string LastWinHttpErrorText(const char* text) {
  return WinHttpErrorText(text, GetLastError());
}

// Owns one WinHTTP handle.
class Handle {
 public:
  explicit Handle(HINTERNET handle = nullptr) : handle_(handle) {}
  ~Handle() {
    if (handle_) WinHttpCloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

// What a request's status callback hands to the thread that waits for it: whether the step
// that was started has ended, its error (0 for none) and the bytes it found or read, which it
// read into `buffer`.
struct Exchange {
  std::mutex mutex;
  std::condition_variable wake;
  bool completed = false;
  DWORD error = 0;
  DWORD count = 0;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kPiece);
  // Hears the redirects WinHTTP follows while the Get that asked for it runs; null otherwise.
  const RedirectReport* redirected = nullptr;
};

// Passes on a redirect that WinHTTP is about to follow: `url` is the new address, ended by a
// null within `length` characters.
void TellRedirect(Exchange& exchange, const wchar_t* url, DWORD length) {
  if (url == nullptr) return;
  const std::string text = WideToUtf8(std::wstring_view(url, wcsnlen(url, length)));
  std::lock_guard<std::mutex> lock(exchange.mutex);
  if (exchange.redirected != nullptr && *exchange.redirected) (*exchange.redirected)(text);
}

// The status callback of every request. Its context is a heap copy of the request's share of the
// Exchange, released at HANDLE_CLOSING, which WinHTTP sends last.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
  auto* share = reinterpret_cast<std::shared_ptr<Exchange>*>(context);
  if (share == nullptr) return;
  DWORD error = 0;
  DWORD count = 0;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      delete share;
      return;
    case WINHTTP_CALLBACK_STATUS_REDIRECT:
      TellRedirect(**share, static_cast<const wchar_t*>(info), length);
      return;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      count = *static_cast<const DWORD*>(info);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      count = length;
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      error = static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError;
      break;
    default:
      return;
  }
  Exchange& exchange = **share;
  {
    std::lock_guard<std::mutex> lock(exchange.mutex);
    exchange.completed = true;
    exchange.error = error;
    exchange.count = count;
  }
  exchange.wake.notify_all();
}

// One request in WinHTTP's asynchronous mode, its steps started and waited for here. The wait
// looks at the cancel flag every kWatchPeriod and gives up after kStallLimit without an answer
// or a byte, so that a stop and a stall end it on the launcher's own clock whatever WinHTTP's
// time-outs do. A request given up on is closed and may finish inside WinHTTP after Get has
// returned: the Exchange lives on with the callback until then.
class AsyncRequest {
 public:
  enum class Outcome { kDone, kFailed, kCancelled, kStalled };

  AsyncRequest(HINTERNET request, const std::atomic<bool>* cancel, const RedirectReport* redirected)
      : request_(request), cancel_(cancel), error_(request ? 0 : GetLastError()) {
    if (!request_) return;
    exchange_ = std::make_shared<Exchange>();
    exchange_->redirected = redirected;
    last_ = std::chrono::steady_clock::now();
    auto* share = new std::shared_ptr<Exchange>(exchange_);
    context_ = reinterpret_cast<DWORD_PTR>(share);
    if (!WinHttpSetOption(request_, WINHTTP_OPTION_CONTEXT_VALUE, &context_, sizeof(context_)) ||
        WinHttpSetStatusCallback(request_, OnStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS |
                                     WINHTTP_CALLBACK_FLAG_HANDLES | WINHTTP_CALLBACK_FLAG_REDIRECT,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
      error_ = GetLastError();
      delete share;
      context_ = 0;
    }
  }
  ~AsyncRequest() {
    if (exchange_) {
      // The caller's report goes with the Get: a request given up on tells nobody.
      std::lock_guard<std::mutex> lock(exchange_->mutex);
      exchange_->redirected = nullptr;
    }
    if (request_) WinHttpCloseHandle(request_);
  }
  AsyncRequest(const AsyncRequest&) = delete;
  AsyncRequest& operator=(const AsyncRequest&) = delete;

  // False when the request could not be opened or given its callback; error() tells why.
  bool ok() const { return request_ != nullptr && context_ != 0; }
  HINTERNET get() const { return request_; }
  DWORD_PTR context() const { return context_; }
  DWORD error() const { return error_; }
  DWORD count() const { return count_; }
  const uint8_t* data() const { return exchange_->buffer.data(); }
  uint8_t* buffer() { return exchange_->buffer.data(); }

  // Starts a step with `start`, the WinHTTP call, and waits for its end.
  template <typename Start>
  Outcome Step(Start start) {
    Exchange& exchange = *exchange_;
    {
      std::lock_guard<std::mutex> lock(exchange.mutex);
      exchange.completed = false;
    }
    if (!start()) {
      error_ = GetLastError();
      return Outcome::kFailed;
    }
    std::unique_lock<std::mutex> lock(exchange.mutex);
    while (!exchange.completed) {
      if (cancel_ && cancel_->load()) return Outcome::kCancelled;
      if (std::chrono::steady_clock::now() - last_ >= kStallLimit) return Outcome::kStalled;
      exchange.wake.wait_for(lock, kWatchPeriod);
    }
    last_ = std::chrono::steady_clock::now();
    error_ = exchange.error;
    count_ = exchange.count;
    return error_ == 0 ? Outcome::kDone : Outcome::kFailed;
  }

 private:
  HINTERNET request_;
  const std::atomic<bool>* cancel_;
  DWORD error_;
  std::shared_ptr<Exchange> exchange_;
  std::chrono::steady_clock::time_point last_;
  DWORD_PTR context_ = 0;
  DWORD count_ = 0;
};

// The error text of a step that did not end well.
std::string StepError(const AsyncRequest& request, AsyncRequest::Outcome outcome,
                      const char* text) {
  switch (outcome) {
    case AsyncRequest::Outcome::kCancelled:
      return kCancelled;
    case AsyncRequest::Outcome::kStalled:
      return WinHttpErrorText(text, ERROR_WINHTTP_TIMEOUT);
    case AsyncRequest::Outcome::kDone:
    case AsyncRequest::Outcome::kFailed:
      break;
  }
  return WinHttpErrorText(text, request.error());
}

// The Content-Length header as a number, 0 when absent.
uint64_t ContentLength(HINTERNET request) {
  wchar_t text[32] = L"";
  DWORD size = sizeof(text);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           text, &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  uint64_t value = 0;
  for (const wchar_t* c = text; *c >= L'0' && *c <= L'9'; ++c) value = value * 10 + (*c - L'0');
  return value;
}

class WinHttp final : public Http {
 public:
  WinHttp() {
    session_ = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (!session_) {
      session_ = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    }
    if (session_) WinHttpSetTimeouts(session_, 15000, 15000, 30000, 60000);
  }
  ~WinHttp() override {
    if (session_) WinHttpCloseHandle(session_);
  }
  WinHttp(const WinHttp&) = delete;
  WinHttp& operator=(const WinHttp&) = delete;

  bool Get(const std::string& url, uint64_t offset, const BodySink& sink, uint64_t* total,
           std::string& error, const std::atomic<bool>* cancel) override {
    return Fetch(url, offset, sink, total, error, cancel, nullptr);
  }

  bool GetTellingRedirects(const std::string& url, uint64_t offset, const BodySink& sink,
                           uint64_t* total, std::string& error, const std::atomic<bool>* cancel,
                           const RedirectReport& redirected) override {
    return Fetch(url, offset, sink, total, error, cancel, &redirected);
  }

 private:
  bool Fetch(const std::string& url, uint64_t offset, const BodySink& sink, uint64_t* total,
             std::string& error, const std::atomic<bool>* cancel,
             const RedirectReport* redirected) {
    if (cancel && cancel->load()) {
      error = kCancelled;
      return false;
    }
    if (!session_) {
      error = LastWinHttpErrorText("WinHTTP is unavailable");
      return false;
    }

    const std::wstring wide_url = Utf8ToWide(url);
    wchar_t host[256] = L"";
    wchar_t path[4096] = L"";
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 4096;
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);  // the query and fragment, in place
    if (!WinHttpCrackUrl(wide_url.c_str(), 0, 0, &parts)) {
      error = "bad address " + url;
      return false;
    }
    std::wstring object = path;
    if (parts.lpszExtraInfo) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    Handle connection(WinHttpConnect(session_, host, parts.nPort, 0));
    if (!connection) {
      error = LastWinHttpErrorText("cannot reach the server");
      return false;
    }
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    AsyncRequest request(
        WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, flags),
        cancel, redirected);
    if (!request.ok()) {
      error = WinHttpErrorText("cannot open the request", request.error());
      return false;
    }

    std::wstring range;
    if (offset > 0) range = L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n";
    using Outcome = AsyncRequest::Outcome;
    Outcome outcome = request.Step([&] {
      return WinHttpSendRequest(request.get(),
                                range.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : range.c_str(),
                                range.empty() ? 0 : static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA,
                                0, 0, request.context());
    });
    if (outcome == Outcome::kDone) {
      outcome = request.Step([&] { return WinHttpReceiveResponse(request.get(), nullptr); });
    }
    if (outcome != Outcome::kDone) {
      error = StepError(request, outcome, "the request failed");
      return false;
    }

    DWORD status = 0;
    DWORD status_size = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                        WINHTTP_NO_HEADER_INDEX);
    const uint64_t length = ContentLength(request.get());
    if (status != 200 && status != 206) {
      error = "the server answered " + std::to_string(status) + " for " + url;
      return false;
    }
    if (total) *total = (status == 206 && length != 0) ? length + offset : length;
    uint64_t to_skip = status == 200 ? offset : 0;
    return ReadBody(request, length, to_skip, sink, error);
  }

  // Reads the body to its end, dropping the first `to_skip` bytes. Each piece is what has
  // arrived, up to 64 KiB, so that bytes already here are not held back while the server is
  // slow. A body that ends before its Content-Length is a failure, not a short success.
  static bool ReadBody(AsyncRequest& request, uint64_t length, uint64_t to_skip,
                       const BodySink& sink, std::string& error) {
    using Outcome = AsyncRequest::Outcome;
    uint64_t read = 0;
    for (;;) {
      Outcome outcome =
          request.Step([&] { return WinHttpQueryDataAvailable(request.get(), nullptr); });
      const DWORD available = request.count();
      if (outcome == Outcome::kDone && available > 0) {
        outcome = request.Step([&] {
          return WinHttpReadData(request.get(), request.buffer(),
                                 available < kPiece ? available : kPiece, nullptr);
        });
      }
      if (outcome != Outcome::kDone) {
        error = StepError(request, outcome, "the download stopped");
        return false;
      }
      const DWORD got = available > 0 ? request.count() : 0;
      if (got == 0) {
        if (length == 0 || read >= length) return true;
        error = WinHttpErrorText("the download stopped", ERROR_WINHTTP_CONNECTION_ERROR);
        return false;
      }
      read += got;
      const DWORD skip = static_cast<DWORD>(to_skip < got ? to_skip : got);
      to_skip -= skip;
      if (got > skip && !sink(request.data() + skip, got - skip)) {
        error = "stopped";
        return false;
      }
    }
  }

  HINTERNET session_ = nullptr;
};

}  // namespace

std::unique_ptr<Http> CreateHttp() { return std::make_unique<WinHttp>(); }

}  // namespace launcher
