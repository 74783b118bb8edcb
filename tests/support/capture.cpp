// Capture of the test process's own standard streams.
#include "support/capture.h"

#include <unistd.h>

#include "support/paths.h"

StreamCapture::StreamCapture(FILE* stream) : stream_(stream) {
  fflush(stream_);
  file_ = tmpfile();
  saved_ = dup(fileno(stream_));
  if (file_ != nullptr && saved_ >= 0) dup2(fileno(file_), fileno(stream_));
}

std::string StreamCapture::finish() {
  if (file_ == nullptr) return "";
  fflush(stream_);
  if (saved_ >= 0) {
    dup2(saved_, fileno(stream_));
    close(saved_);
    saved_ = -1;
  }
  std::string text = stream_bytes(file_);
  fclose(file_);
  file_ = nullptr;
  return text;
}
