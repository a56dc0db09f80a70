#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "support/stderr_capture.h"

namespace launcher::test {

// The C runtime's descriptor 2 is what stderr writes to; the file is opened in binary mode so
// that line feeds arrive unchanged, and _dup2 carries that mode over to descriptor 2.
StderrCapture::StderrCapture() {
  std::fflush(stderr);
  const int fd = _wopen((dir_ / "stderr.txt").c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                        _S_IREAD | _S_IWRITE);
  saved_ = _dup(2);
  if (fd < 0 || saved_ < 0 || _dup2(fd, 2) < 0) ADD_FAILURE() << "cannot capture standard error";
  if (fd >= 0) _close(fd);
}

StderrCapture::~StderrCapture() {
  std::fflush(stderr);
  if (saved_ >= 0) {
    _dup2(saved_, 2);
    _close(saved_);
  }
}

}  // namespace launcher::test
