// What a thread keeps of the store's files: every change to a file is seen on the next read,
// whether the file was just written (marks too fresh to trust) or has been kept for a while, and
// whatever the change leaves of its size and inode.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "store_test_util.h"
#include "tbxctx.h"
#include "tbxsnapshot.h"

using namespace storetest;

namespace {

// The file's text with VALUE = `value`; values of one length give files of one size.
std::string Config(const std::string& value)
{
  return "<TBX VALUE=\"" + value + "\"/>";
}

// Overwrites the bytes in place: same inode, no truncation.
void Overwrite(const std::string& path, const std::string& text)
{
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
  close(fd);
}

struct Change
{
  const char* what;
  std::function<void(const std::string& dir, const std::string& file)> apply;
  bool found;           // what QueryValue answers afterwards
  const char* value;    // VALUE afterwards, when found
  bool linked = false;  // the file starts as a link to <file>.target
};

const std::vector<Change>& Changes()
{
  static const std::vector<Change> changes = {
      {"rewritten in place, same size",
       [](const std::string&, const std::string& f) { Overwrite(f, Config("bbbb")); }, true,
       "bbbb"},
      {"replaced by rename, same size",
       [](const std::string& d, const std::string& f) {
         WriteAll(d + "/new.tmp", Config("cccc"));
         ASSERT_EQ(rename((d + "/new.tmp").c_str(), f.c_str()), 0);
       },
       true, "cccc"},
      {"grown", [](const std::string&, const std::string& f) { WriteAll(f, Config("dddddd")); },
       true, "dddddd"},
      {"removed", [](const std::string&, const std::string& f) { ASSERT_EQ(unlink(f.c_str()), 0); },
       false, ""},
      {"replaced by a directory",
       [](const std::string&, const std::string& f) {
         ASSERT_EQ(unlink(f.c_str()), 0);
         ASSERT_EQ(mkdir(f.c_str(), 0755), 0);
       },
       false, ""},
      {"a link turned to another file of the same size",
       [](const std::string& d, const std::string& f) {
         WriteAll(d + "/other.xml", Config("eeee"));
         ASSERT_EQ(unlink(f.c_str()), 0);
         ASSERT_EQ(symlink((d + "/other.xml").c_str(), f.c_str()), 0);
       },
       true, "eeee"},
      {"a link's target rewritten in place, same size",
       [](const std::string&, const std::string& f) { Overwrite(f + ".target", Config("ffff")); },
       true, "ffff", true},
      {"a link pointed at another file of the same size",
       [](const std::string& d, const std::string& f) {
         WriteAll(d + "/another.xml", Config("gggg"));
         ASSERT_EQ(unlink(f.c_str()), 0);
         ASSERT_EQ(symlink((d + "/another.xml").c_str(), f.c_str()), 0);
       },
       true, "gggg", true},
  };
  return changes;
}

class StoreSnapshot : public ::testing::Test
{
protected:
  void SetUp() override
  {
    TBX_SnapshotFlush();
    ASSERT_PASSES(m_Ctx.Open(Mv(m_Dir.path())));
  }
  void TearDown() override { TBX_SnapshotFlush(); }

  // VALUE of the file, by attribute and as the whole text, which must agree.
  void ExpectValue(const std::string& file, bool found, const std::string& value,
                   const std::string& what)
  {
    MvString v;
    EXPECT_EQ(m_Ctx.QueryValue(Mv(file), MvString("VALUE"), v), found) << what;
    if (found) {
      EXPECT_EQ(Str(v), value) << what;
    }
    MvString text;
    EXPECT_EQ(m_Ctx.QueryValue(Mv(file), MvString(), text), found) << what;
    if (found) {
      EXPECT_EQ(Str(text), Config(value)) << what;
    }
  }

  TempDir m_Dir;
  TBX_Context m_Ctx;
};

// Marks older than the racy window: the kept content is handed out on the strength of them.
TEST_F(StoreSnapshot, EveryChangeToAKeptFileIsSeenOnTheNextRead)
{
  const std::vector<Change>& changes = Changes();
  for (size_t i = 0; i < changes.size(); ++i) {
    const std::string file = m_Dir / ("f" + std::to_string(i) + ".xml");
    WriteAll(changes[i].linked ? file + ".target" : file, Config("aaaa"));
    if (changes[i].linked) {
      ASSERT_EQ(symlink((file + ".target").c_str(), file.c_str()), 0);
    }
  }
  std::this_thread::sleep_for(std::chrono::seconds(TBX_SNAPSHOT_RACY_SECONDS) +
                              std::chrono::milliseconds(200));
  for (size_t i = 0; i < changes.size(); ++i) {
    const std::string file = "f" + std::to_string(i) + ".xml";
    ExpectValue(file, true, "aaaa", changes[i].what);
    ExpectValue(file, true, "aaaa", changes[i].what);  // now from the snapshot
    changes[i].apply(m_Dir.path(), m_Dir / file);
    ExpectValue(file, changes[i].found, changes[i].value, changes[i].what);
  }
}

// Rewrites in place, as fast as they come, with the same size: all within one second, and
// where the file system's timestamps are coarse, within the tick of the read before them, which
// leaves every mark as it was. Each must be seen.
TEST_F(StoreSnapshot, SameSizeChangesWithinOneTickAreSeen)
{
  WriteAll(m_Dir / "config.xml", Config("0000"));
  std::string previous = "0000";
  for (int round = 1; round <= 200; ++round) {
    char value[8];
    std::snprintf(value, sizeof value, "%04d", round);
    ExpectValue("config.xml", true, previous, "before round " + std::to_string(round));
    Overwrite(m_Dir / "config.xml", Config(value));
    ExpectValue("config.xml", true, value, "round " + std::to_string(round));
    previous = value;
  }
}

}  // namespace
