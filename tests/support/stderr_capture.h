// Sends the process's standard error (descriptor 2, which the C library's stderr writes to)
// into a file for as long as the object lives, then puts the old standard error back.
#pragma once

#include <chrono>
#include <string>

#include "support/scratch.h"

namespace launcher::test {

class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written to standard error since the capture began.
  std::string Text() const;
  // Waits until Text() holds `needle`, polling; Text() as it was at the end.
  std::string WaitFor(const std::string& needle,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

 private:
  ScratchDir dir_;
  int saved_ = -1;  // a duplicate of the original descriptor 2
};

}  // namespace launcher::test
