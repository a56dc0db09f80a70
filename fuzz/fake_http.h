// An Http that answers the fuzz input's documents in order, one per Get, whatever the URL; a Get
// after the last one gets a 404.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/http.h"

namespace launcher::fuzz {

class ScriptedHttp final : public Http {
 public:
  explicit ScriptedHttp(std::vector<std::string> bodies) : bodies_(std::move(bodies)) {}

  bool Get(const std::string& url, uint64_t offset, const BodySink& sink, uint64_t* total,
           std::string& error, const std::atomic<bool>*) override {
    if (next_ >= bodies_.size()) {
      error = "the server answered 404 for " + url;
      return false;
    }
    const std::string& body = bodies_[next_++];
    if (total != nullptr) *total = body.size();
    constexpr size_t kPiece = 64 * 1024;
    for (size_t at = std::min<uint64_t>(offset, body.size()); at < body.size(); at += kPiece) {
      const size_t take = std::min(kPiece, body.size() - at);
      if (!sink(reinterpret_cast<const uint8_t*>(body.data() + at), take)) {
        error = "stopped";
        return false;
      }
    }
    return true;
  }

 private:
  std::vector<std::string> bodies_;
  size_t next_ = 0;
};

}  // namespace launcher::fuzz
