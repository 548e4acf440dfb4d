// A writer stopped at any byte (a file-size limit, a signal) must leave the store file with its
// complete old content or its complete new one.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "store_test_util.h"
#include "tbxctx.h"

using namespace storetest;

namespace {

const char kOld[] = "<TBX VTURL=\"https://host/pay\" LARGE=\"old\"/>";
// Far beyond the limit the child gets: the write is cut in the middle.
const size_t kLargeValue = 1u << 20;
const rlim_t kFileSizeLimit = 64 * 1024;

enum ChildExit
{
  kRaisedFileIo = 10,
  kRaisedOther = 11,
  kNoFailure = 12
};

// Runs SetValue of a large value in a child limited to kFileSizeLimit bytes per file; answers
// the child's wait status.
int WriteLargeValueLimited(const std::string& store, bool ignoreSignal)
{
  const pid_t pid = fork();
  if (pid == 0) {
    struct rlimit limit = {kFileSizeLimit, kFileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
    int code = kNoFailure;
    try {
      TBX_Context ctx;
      ctx.Open(Mv(store));
      ctx.SetValue(MvString("config.xml"), MvString("LARGE"), Mv(std::string(kLargeValue, 'n')),
                   false);
    } catch (const TBX_Exception& e) {
      code = e.m_Result == TBX_E_FILE_IO && e.m_Line == 212 ? kRaisedFileIo : kRaisedOther;
    }
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

std::vector<std::string> TempFiles(const std::string& dir)
{
  std::vector<std::string> temps;
  for (const std::string& n : ListDir(dir))
    if (n != "config.xml")
      temps.push_back(n);
  return temps;
}

}  // namespace

TEST(StoreKill, FileSizeLimitSignalLeavesTheOldFile)
{
  TempDir dir;
  WriteAll(dir / "config.xml", kOld);
  const int status = WriteLargeValueLimited(dir.path(), false);
  ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(ReadAll(dir / "config.xml"), kOld);
}

TEST(StoreKill, FailedWriteReportsAndRemovesTheTemporaryFile)
{
  TempDir dir;
  WriteAll(dir / "config.xml", kOld);
  const int status = WriteLargeValueLimited(dir.path(), true);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), kRaisedFileIo);
  EXPECT_EQ(ReadAll(dir / "config.xml"), kOld);
  EXPECT_TRUE(TempFiles(dir.path()).empty());
}
