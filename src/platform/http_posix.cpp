// Http over libcurl. It behaves as the Windows client does: redirects followed, a ranged request
// from the offset, only 200 and 206 accepted, the body skipped up to the offset when the server
// ignored the range, and the same error texts ("bad address ", "the request failed (...)",
// "the server answered N for URL", "the download stopped (...)", "stopped").
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ascii.h"
#include "platform/http.h"
#include "platform/log.h"
#include "platform/progress.h"

namespace launcher {
namespace {

constexpr const char* kUserAgent = "Kelvane launcher/1.0";
constexpr uint64_t kPiece = 64 * 1024;

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// How often a transfer looks at its cancel flag while nothing arrives.
constexpr int kCancelPollMs = 100;

// Tells `redirected` (may be null) when the transfer's URL has changed since `last`: libcurl
// moves its effective URL on as it follows a redirect, before it connects there.
void TellRedirect(CURL* easy, std::string& last, const RedirectReport* redirected) {
  if (redirected == nullptr || !*redirected) return;
  const char* url = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || url == nullptr) return;
  if (last == url) return;
  last = url;
  (*redirected)(last);
}

// Runs one easy transfer on a multi handle of its own, so that the wait for the network is
// never longer than kCancelPollMs: a set `cancel` ends it at the next look, whether it is
// resolving, connecting, waiting for the answer or inside the body. `cancelled` tells whether
// that happened. Each look also tells `redirected` of a redirect followed since the last one.
CURLcode Perform(CURL* easy, const std::string& url, const std::atomic<bool>* cancel,
                 const RedirectReport* redirected, bool& cancelled) {
  cancelled = false;
  const std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
  CURLcode result = CURLE_OK;
  std::string effective = url;
  for (int running = 1; running > 0;) {
    if (cancel && cancel->load()) {
      cancelled = true;
      break;
    }
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) break;
    TellRedirect(easy, effective, redirected);
    if (curl_multi_poll(multi.get(), nullptr, 0, kCancelPollMs, nullptr) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
  }
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy) result = message->data.result;
  }
  curl_multi_remove_handle(multi.get(), easy);
  return result;
}

// What one transfer learns from the answer and tells the caller.
struct Transfer {
  uint64_t offset = 0;
  const BodySink* sink = nullptr;
  uint64_t* total = nullptr;

  // The header block being read (a redirect's, then the final answer's).
  long block_status = 0;
  uint64_t block_length = 0;
  bool block_location = false;

  bool final_headers = false;  // the final answer's headers are in; its body follows
  long status = 0;
  uint64_t to_skip = 0;
  bool stopped = false;  // the sink refused a piece
};

// What the Windows URL splitter accepts: an http or https scheme, a host of 1 to 255 characters,
// a decimal port when one is given, and a path of fewer than 4096 characters. Checked here so
// that a bad URL gets the same text on both systems.
bool IsUsableHttpUrl(const std::string& url) {
  const size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return false;
  const std::string scheme = url.substr(0, scheme_end);
  if (!AsciiEqualFolded(scheme, "http") && !AsciiEqualFolded(scheme, "https")) return false;
  const size_t authority_start = scheme_end + 3;
  const size_t authority_end = std::min(url.find_first_of("/?#", authority_start), url.size());
  std::string host = url.substr(authority_start, authority_end - authority_start);
  const size_t at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  const size_t colon = host.find(':', host.empty() || host[0] != '[' ? 0 : host.find(']'));
  if (colon != std::string::npos) {
    const std::string port = host.substr(colon + 1);
    host.resize(colon);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) > 65535) {
      return false;
    }
  }
  if (host.empty() || host.size() > 255) return false;
  const size_t path_end = std::min(url.find_first_of("?#", authority_end), url.size());
  return path_end - authority_end < 4096;
}

uint64_t ParseDecimal(const char* text, size_t size) {
  uint64_t value = 0;
  size_t i = 0;
  while (i < size && (text[i] == ' ' || text[i] == '\t')) ++i;
  for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

bool IsFollowedRedirect(long status, bool location) {
  return location && (status == 301 || status == 302 || status == 303 || status == 307 ||
                      status == 308);
}

// The final answer's headers are complete: decide on the status, the total and the skip.
// Returns false to end the transfer (a status other than 200 and 206).
bool OnFinalHeaders(Transfer& t) {
  t.final_headers = true;
  t.status = t.block_status;
  if (t.status != 200 && t.status != 206) return false;
  if (t.total) {
    *t.total = (t.status == 206 && t.block_length != 0) ? t.block_length + t.offset
                                                        : t.block_length;
  }
  t.to_skip = t.status == 200 ? t.offset : 0;
  return true;
}

size_t OnHeader(char* data, size_t, size_t size, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  if (StartsWithFolded(std::string_view(data, size), "HTTP/")) {
    const char* space = static_cast<const char*>(std::memchr(data, ' ', size));
    t.block_status = space ? static_cast<long>(ParseDecimal(space, size - (space - data))) : 0;
    t.block_length = 0;
    t.block_location = false;
  } else if (StartsWithFolded(std::string_view(data, size), "content-length:")) {
    t.block_length = ParseDecimal(data + 15, size - 15);
  } else if (StartsWithFolded(std::string_view(data, size), "location:")) {
    t.block_location = true;
  } else if ((size == 2 && data[0] == '\r') || (size == 1 && data[0] == '\n')) {
    const bool interim = t.block_status >= 100 && t.block_status < 200;
    if (!interim && !IsFollowedRedirect(t.block_status, t.block_location) && !OnFinalHeaders(t)) {
      return 0;
    }
  }
  return size;
}

size_t OnBody(char* data, size_t, size_t size, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  if (!t.final_headers) return size;  // the body of a redirect
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data);
  uint64_t left = size;
  const uint64_t skip = std::min<uint64_t>(t.to_skip, left);
  t.to_skip -= skip;
  bytes += skip;
  left -= skip;
  while (left > 0) {
    const uint64_t piece = std::min(left, kPiece);
    if (!(*t.sink)(bytes, piece)) {
      t.stopped = true;
      return 0;
    }
    bytes += piece;
    left -= piece;
  }
  return size;
}

// `text` followed by " (code: words)", the shape of the system's error texts.
std::string CurlErrorText(const char* text, CURLcode code, const char* detail) {
  const char* words = (detail && *detail) ? detail : curl_easy_strerror(code);
  return std::string(text) + " (" + std::to_string(static_cast<int>(code)) + ": " + words + ")";
}

// A libcurl older than the one built against (a system library swapped under the program) may
// refuse CURLOPT_QUICK_EXIT: transfers still work, but a stop may then wait for a hung name
// lookup. Said once per run.
void LogQuickExitRefused() {
  static std::once_flag once;
  std::call_once(once, [] {
    LogPrintf(4, "http: libcurl %s refuses CURLOPT_QUICK_EXIT; a stop may wait for a name lookup",
              curl_version_info(CURLVERSION_NOW)->version);
  });
}

class CurlHttp final : public Http {
 public:
  CurlHttp() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  }

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
    if (!IsUsableHttpUrl(url)) {
      error = "bad address " + url;
      return false;
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
      error = "the request failed (HTTP is unavailable)";
      return false;
    }
    std::unique_ptr<curl_slist, ListDeleter> headers;
    if (offset > 0) {
      const std::string range = "Range: bytes=" + std::to_string(offset) + "-";
      headers.reset(curl_slist_append(nullptr, range.c_str()));
    }

    Transfer t;
    t.offset = offset;
    t.sink = &sink;
    t.total = total;
    char detail[CURL_ERROR_SIZE] = "";

    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // The name lookup runs on a thread of libcurl's that cannot be ended, and without this the
    // handle's removal and cleanup wait for it to finish: a stop, or the connect time-out, would
    // then wait as long as a name server that never answers keeps the system's resolver. With
    // it the lookup thread is left to end by itself and frees what it holds.
    if (curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L) != CURLE_OK) LogQuickExitRefused();
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, 15000L);
    // A body that brings no byte for 60 s fails, as the receive time-out does on Windows.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(kPiece));
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, detail);

    bool cancelled = false;
    const CURLcode code = Perform(e, url, cancel, redirected, cancelled);
    if (cancelled || (code != CURLE_OK && cancel && cancel->load())) {
      error = kCancelled;
      return false;
    }
    if (t.stopped) {
      error = "stopped";
      return false;
    }
    if (t.final_headers && t.status != 200 && t.status != 206) {
      error = "the server answered " + std::to_string(t.status) + " for " + url;
      return false;
    }
    if (code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL) {
      error = "bad address " + url;
      return false;
    }
    if (code != CURLE_OK) {
      error = CurlErrorText(t.final_headers ? "the download stopped" : "the request failed", code,
                            detail);
      return false;
    }
    return true;
  }
};

}  // namespace

std::unique_ptr<Http> CreateHttp() { return std::make_unique<CurlHttp>(); }

}  // namespace launcher
