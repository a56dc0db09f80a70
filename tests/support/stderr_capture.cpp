#include "support/stderr_capture.h"

#include <cstdio>
#include <thread>

namespace launcher::test {

std::string StderrCapture::Text() const {
  std::fflush(stderr);
  return ReadFile(dir_ / "stderr.txt");
}

std::string StderrCapture::WaitFor(const std::string& needle,
                                   std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string text = Text();
  while (text.find(needle) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    text = Text();
  }
  return text;
}

}  // namespace launcher::test
