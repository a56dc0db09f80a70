// A redirect's address, as a server sends it: the wait report names its host, and a transfer's
// error text that quotes it gets its hint; any bytes give a host taken from the address (or
// none) and a hint, never a crash.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/download.h"
#include "platform/wait_reporting_http.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  const std::string url(reinterpret_cast<const char*>(data), size);
  const std::string host = UrlHost(url);
  Check(host.size() <= url.size(), "a host longer than its address");
  Check(host.empty() || url.find(host) != std::string::npos, "a host that is not in the address");
  FetchFaultHint("the server answered 404 for " + url);
  FetchFaultHint(url);
  return 0;
}
