// Http over the Windows HTTP service (WinHTTP), synchronous: one session for the whole run, a
// connection and a request per Get, the body read in 64 KiB pieces.
#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/http.h"
#include "platform/platform.h"
#include "platform/progress.h"

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace launcher {
namespace {

constexpr wchar_t kUserAgent[] = L"Kelvane launcher/1.0";
constexpr DWORD kPiece = 64 * 1024;

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
                           WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session_) {
      session_ = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0);
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
    if (cancel && cancel->load()) {
      error = kCancelled;
      return false;
    }
    if (!session_) {
      error = LastErrorText("WinHTTP is unavailable");
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
      error = LastErrorText("cannot reach the server");
      return false;
    }
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    Handle request(WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request) {
      error = LastErrorText("cannot open the request");
      return false;
    }

    std::wstring range;
    if (offset > 0) range = L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n";
    const BOOL sent = WinHttpSendRequest(
        request.get(), range.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : range.c_str(),
        range.empty() ? 0 : static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    if (!sent || !WinHttpReceiveResponse(request.get(), nullptr)) {
      error = LastErrorText("the request failed");
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
    return ReadBody(request.get(), length, to_skip, sink, error);
  }

 private:
  // Reads the body to its end, dropping the first `to_skip` bytes. Each piece is what has
  // arrived, up to 64 KiB: a synchronous read of a whole 64 KiB would hold back bytes that are
  // already here while the server is slow, and the caller's sink (its cancel flag) with them.
  // A body that ends before its Content-Length is a failure, not a short success.
  static bool ReadBody(HINTERNET request, uint64_t length, uint64_t to_skip, const BodySink& sink,
                       std::string& error) {
    std::vector<uint8_t> buffer(kPiece);
    uint64_t read = 0;
    for (;;) {
      DWORD available = 0;
      DWORD got = 0;
      if (!WinHttpQueryDataAvailable(request, &available) ||
          (available > 0 &&
           !WinHttpReadData(request, buffer.data(), available < kPiece ? available : kPiece,
                            &got))) {
        error = LastErrorText("the download stopped");
        return false;
      }
      if (got == 0) {
        if (length == 0 || read >= length) return true;
        SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
        error = LastErrorText("the download stopped");
        return false;
      }
      read += got;
      const DWORD skip = static_cast<DWORD>(to_skip < got ? to_skip : got);
      to_skip -= skip;
      if (got > skip && !sink(buffer.data() + skip, got - skip)) {
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
