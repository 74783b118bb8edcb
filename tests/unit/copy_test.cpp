// The pass-through copy: byte-identical output, failures and cancellation as status 2.
#include "common/copy.h"
#include "common/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "log/log.h"
#include "support/bytes.h"
#include "support/paths.h"

namespace {

int copy_file(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int status = copy_job(in, out);
  close(in);
  close(out);
  return status;
}

TEST(CopyJob, CopiesEveryByteAcrossBlockBoundaries) {
  TempDir dir;
  for (size_t size :
       {size_t{0}, size_t{1}, kCopyBlock - 1, kCopyBlock, kCopyBlock + 1, 3 * kCopyBlock + 17}) {
    SCOPED_TRACE(size);
    std::string bytes = pseudo_random_bytes(size);
    ASSERT_TRUE(write_file(dir.file("in"), bytes));
    EXPECT_EQ(copy_file(dir.file("in"), dir.file("out")), kCopyDone);
    EXPECT_TRUE(same_bytes(read_file(dir.file("out")), bytes));
  }
}

TEST(CopyJob, CompletesPartialWritesIntoAPipe) {
  TempDir dir;
  std::string bytes = pseudo_random_bytes(1 << 20);
  ASSERT_TRUE(write_file(dir.file("in"), bytes));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof(buffer))) > 0;) received.append(buffer, n);
  });
  int in = open(dir.file("in").c_str(), O_RDONLY);
  EXPECT_EQ(copy_job(in, fds[1]), kCopyDone);
  close(in);
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_TRUE(same_bytes(received, bytes));
}

TEST(CopyJob, CopiesFromPipeToPipeAsUnderTheScheduler) {
  std::string bytes = pseudo_random_bytes(5 * kCopyBlock + 3);
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  std::thread writer([&] {
    for (size_t done = 0; done < bytes.size();) {
      ssize_t n = write(in[1], bytes.data() + done, std::min<size_t>(7777, bytes.size() - done));
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(in[1]);
  });
  std::string received;
  std::thread reader([&] {
    char buffer[1000];
    for (ssize_t n; (n = read(out[0], buffer, sizeof(buffer))) > 0;) received.append(buffer, n);
  });
  EXPECT_EQ(copy_job(in[0], out[1]), kCopyDone);
  close(out[1]);
  writer.join();
  reader.join();
  close(in[0]);
  close(out[0]);
  EXPECT_TRUE(same_bytes(received, bytes));
}

TEST(CopyJob, AReadErrorIsFailure) {
  TempDir dir;
  int in = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  int out = open("/dev/null", O_WRONLY);
  EXPECT_EQ(copy_job(in, out), kCopyFailed);
  close(in);
  close(out);
}

TEST(CopyJob, AFullDiskIsFailureAndIsLogged) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("in"), "data"));
  log_open(1, dir.file("log").c_str());
  EXPECT_EQ(copy_file(dir.file("in"), "/dev/full"), kCopyFailed);
  log_close();
  EXPECT_EQ(read_file(dir.file("log")),
            "ERROR: write to standard output failed: No space left on device\n");
}

TEST(CopyJobDeathTest, AClosedPipeIsFailureNotADeathBySignal) {
  EXPECT_EXIT(
      {
        install_filter_signals();
        int fds[2];
        if (pipe(fds) != 0) _exit(99);
        close(fds[0]);
        int in = open("/dev/zero", O_RDONLY);
        _exit(copy_job(in, fds[1]));
      },
      ::testing::ExitedWithCode(kCopyFailed), "");
}

TEST(CopyJobDeathTest, TerminationStopsTheCopy) {
  EXPECT_EXIT(
      {
        install_filter_signals();
        raise(SIGTERM);
        int in = open("/dev/zero", O_RDONLY);
        int out = open("/dev/null", O_WRONLY);
        _exit(job_cancelled() ? copy_job(in, out) : 98);
      },
      ::testing::ExitedWithCode(kCopyFailed), "");
}

}  // namespace
