#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "support/stderr_capture.h"

namespace launcher::test {

StderrCapture::StderrCapture() {
  std::fflush(stderr);
  const int fd = open((dir_ / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  saved_ = dup(2);
  if (fd < 0 || saved_ < 0 || dup2(fd, 2) < 0) ADD_FAILURE() << "cannot capture standard error";
  if (fd >= 0) close(fd);
}

StderrCapture::~StderrCapture() {
  std::fflush(stderr);
  if (saved_ >= 0) {
    dup2(saved_, 2);
    close(saved_);
  }
}

}  // namespace launcher::test
