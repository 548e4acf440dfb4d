// The configuration store on real directories: opening, values, files and their atomic
// replacement, and the XML helpers.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "store_test_util.h"
#include "tbxbase.h"
#include "tbxctx.h"
#include "xmlElement.h"

using namespace storetest;

namespace {

// Restores the working directory and umask a test changes.
class ProcessState
{
public:
  ProcessState() : m_Cwd(Str(TBX_Context::GetDefaultConfiguration())), m_Umask(umask(022)) {}
  ~ProcessState()
  {
    if (chdir(m_Cwd.c_str()) != 0)
      ADD_FAILURE() << "cannot return to " << m_Cwd;
    umask(m_Umask);
  }

private:
  std::string m_Cwd;
  mode_t m_Umask;
};

class StoreTest : public ::testing::Test
{
protected:
  void SetUp() override { ASSERT_PASSES(m_Ctx.Open(Mv(m_Dir.path()))); }

  std::string File(const std::string& name) { return m_Dir / name; }
  bool Query(const std::string& file, const std::string& name, std::string& value)
  {
    MvString v;
    const bool found = m_Ctx.QueryValue(Mv(file), Mv(name), v);
    value = Str(v);
    return found;
  }

  TempDir m_Dir;
  TBX_Context m_Ctx;
  ProcessState m_State;
};

}  // namespace

TEST_F(StoreTest, OpenRecordsAndCreatesTheDirectory)
{
  EXPECT_EQ(Str(m_Ctx.GetPath()), m_Dir.path());

  // An existing directory is opened as it is; a missing one is created.
  TBX_Context ctx;
  ASSERT_PASSES(ctx.Open(Mv(File("new"))));
  EXPECT_EQ(ModeOf(File("new")), 0755u);
  EXPECT_PASSES(ctx.Open(Mv(File("new"))));

  // Only the last component is created: the errno of mkdir is the result.
  EXPECT_RAISES_AT(ENOENT, 55, ctx.Open(Mv(File("missing/child"))));
  WriteAll(File("plain"), "x");
  EXPECT_RAISES_AT(EEXIST, 55, ctx.Open(Mv(File("plain"))));

  // A store that is a URL has nothing to create.
  EXPECT_PASSES(ctx.Open(MvString("http://127.0.0.1:9/store")));
  EXPECT_EQ(Str(ctx.GetPath()), "http://127.0.0.1:9/store");
}

TEST_F(StoreTest, OpenWithoutPathUsesTheWorkingDirectoryOfAnyLength)
{
  // Deeper than any fixed buffer of 256 bytes.
  std::string deep = m_Dir.path();
  for (int i = 0; i < 12; ++i) {
    deep += "/" + std::string(40, static_cast<char>('a' + i));
    ASSERT_PASSES(TBX_Context::CreatePath(Mv(deep)));
  }
  ASSERT_GT(deep.size(), 500u);
  ASSERT_EQ(chdir(deep.c_str()), 0);
  EXPECT_EQ(Str(TBX_Context::GetDefaultConfiguration()), deep);

  TBX_Context ctx;
  ASSERT_PASSES(ctx.Open(MvString()));
  EXPECT_EQ(Str(ctx.GetPath()), deep);
  EXPECT_PASSES(ctx.UpdateFile(MvString("f"), MvString("v")));
  EXPECT_EQ(ReadAll(deep + "/f"), "v");
}

TEST_F(StoreTest, PrivateKeyDirectoryIsForTheOwnerOnly)
{
  ASSERT_PASSES(TBX_Context::CreatePath(Mv(File("keys"))));
  ASSERT_PASSES(TBX_Context::CreatePath(Mv(File("keys/private"))));
  ASSERT_PASSES(TBX_Context::CreatePath(Mv(File("keys/public"))));
  EXPECT_EQ(ModeOf(File("keys/private")), 0700u);
  EXPECT_EQ(ModeOf(File("keys/public")), 0755u);
  EXPECT_EQ(ModeOf(File("keys")), 0755u);
}

TEST_F(StoreTest, OptionsAreCaseSensitive)
{
  for (const char* name : {"UserName", "Password", "VTAUTOURL"})
    EXPECT_PASSES(m_Ctx.SetOption(MvString(name), MvString("v"))) << name;
  for (const char* name : {"username", "USERNAME", "password", "vtautourl", "", "User Name"})
    EXPECT_RAISES_AT(TBX_E_INVALID_OPTION, 38, m_Ctx.SetOption(MvString(name), MvString("v")))
        << name;
}

TEST_F(StoreTest, QueryValueOnFilesOfEveryShape)
{
  struct Case
  {
    const char* content;  // null: no file
    const char* name;
    long code;  // 0: answers
    bool found;
    const char* value;
  } cases[] = {
      {nullptr, "", 0, false, "?"},
      {nullptr, "A", 0, false, "?"},
      {"", "", 0, true, ""},
      {"", "A", TBX_E_INVALID_FORMAT, false, "?"},
      {"not xml", "A", TBX_E_INVALID_FORMAT, false, "?"},
      {"<TBX A='1'", "A", TBX_E_INVALID_FORMAT, false, "?"},
      {"<?xml version='1.0'?><TBX A='1'/>", "A", TBX_E_INVALID_FORMAT, false, "?"},
      {"<OTHER A='1'/>", "A", TBX_E_INVALID_FORMAT, false, "?"},
      {"<tbx A='1'/>", "A", TBX_E_INVALID_FORMAT, false, "?"},
      {"<TBX A='1'/>", "A", 0, true, "1"},
      {"<TBX A='1'/>", "a", 0, false, "?"},
      {"<TBX A='1'/>", "B", 0, false, "?"},
      {"<TBX A=''/>", "A", 0, false, "?"},
      {"<TBX A/>", "A", 0, false, "?"},
      {"<TBX A='x&amp;y&lt;'/>", "A", 0, true, "x&y<"},
      {"<TBX TBX.VTAUTOURL=\"https://h/s\"/>", "TBX.VTAUTOURL", 0, true, "https://h/s"},
      {"<X/><TBX A='2'/><TBX A='3'/>", "A", 0, true, "2"},
      {"<TBX A='1'/>", "", 0, true, "<TBX A='1'/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.content ? c.content : "(no file)") + " / " + c.name);
    unlink(File("f.xml").c_str());
    if (c.content)
      WriteAll(File("f.xml"), c.content);
    std::string value = "?";
    if (c.code != 0) {
      EXPECT_RAISES(c.code, Query("f.xml", c.name, value));
      continue;
    }
    MvString v("?");
    EXPECT_EQ(m_Ctx.QueryValue(MvString("f.xml"), MvString(c.name), v), c.found);
    EXPECT_EQ(Str(v), c.value);
  }
}

TEST_F(StoreTest, QueryValueReadsWholeFilesWithZeroBytesAndSkipsDirectories)
{
  const std::string bytes("a\0b\0\xff", 5);
  WriteAll(File("bin"), bytes);
  std::string value;
  EXPECT_TRUE(Query("bin", "", value));
  EXPECT_EQ(value, bytes);

  ASSERT_EQ(mkdir(File("dir").c_str(), 0755), 0);
  EXPECT_FALSE(Query("dir", "", value));

  unsigned char buf[8];
  unsigned long length = 3;
  EXPECT_TRUE(m_Ctx.QueryValue(MvString("bin"), buf, length));
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), bytes.substr(0, 3));
  length = sizeof buf;
  EXPECT_TRUE(m_Ctx.QueryValue(MvString("bin"), buf, length));
  EXPECT_EQ(length, 5u);
  EXPECT_FALSE(m_Ctx.QueryValue(MvString("none"), buf, length));
}

// Every local file, a store's or a stream source's, is read by TBX_ReadFile.
TEST_F(StoreTest, OneReaderForLocalFiles)
{
  WriteAll(File("f"), std::string("ab\0cd", 5));
  ASSERT_EQ(mkdir(File("dir").c_str(), 0755), 0);
  // Reading at 0 of a process's own memory fails (nothing is mapped there) after the open works.
  ASSERT_EQ(symlink("/proc/self/mem", File("unreadable").c_str()), 0);
  const struct
  {
    std::string path;
    size_t limit;
    TBX_ReadResult result;
    std::string content;
  } cases[] = {
      {File("f"), SIZE_MAX, TBX_ReadResult::Read, std::string("ab\0cd", 5)},
      {File("f"), 3, TBX_ReadResult::Read, std::string("ab\0", 3)},
      {File("f"), 0, TBX_ReadResult::Read, ""},
      {File("dir"), SIZE_MAX, TBX_ReadResult::NotOpened, "kept"},
      {File("none"), SIZE_MAX, TBX_ReadResult::NotOpened, "kept"},
      {File("f") + std::string("\0", 1), SIZE_MAX, TBX_ReadResult::NotOpened, "kept"},
      {"", SIZE_MAX, TBX_ReadResult::NotOpened, "kept"},
      {File("unreadable"), SIZE_MAX, TBX_ReadResult::Failed, "kept"},
      // A file of unknown size is read in chunks, up to the limit.
      {"/dev/zero", 40000, TBX_ReadResult::Read, std::string(40000, '\0')},
  };
  for (const auto& c : cases) {
    MvString content("kept");
    EXPECT_EQ(TBX_ReadFile(Mv(c.path), content, c.limit), c.result) << c.path;
    EXPECT_EQ(Str(content), c.content) << c.path;
  }

  // The byte reader of the store says false for what cannot be read whole; the text reader
  // raises a read error rather than pass the file off as empty.
  unsigned char buf[8];
  for (const char* name : {"dir", "unreadable"}) {
    unsigned long length = sizeof buf;
    EXPECT_FALSE(m_Ctx.QueryValue(MvString(name), buf, length)) << name;
    EXPECT_EQ(length, sizeof buf) << name;
  }
  std::string value;
  EXPECT_RAISES_AT(TBX_E_FILE_IO, 92, Query("unreadable", "", value));
}

TEST_F(StoreTest, OperationsNeedAnOpenedContext)
{
  TBX_Context closed;
  MvString v;
  unsigned char buf[4];
  unsigned long length = sizeof buf;
  EXPECT_RAISES_AT(TBX_E_NO_CONTEXT, 71, closed.QueryValue(MvString("f"), MvString("A"), v));
  EXPECT_RAISES_AT(TBX_E_NO_CONTEXT, 112, closed.QueryValue(MvString("f"), buf, length));
  EXPECT_RAISES_AT(TBX_E_NO_CONTEXT, 193, closed.UpdateFile(MvString("f"), MvString("x")));
  EXPECT_RAISES_AT(TBX_E_NO_CONTEXT, 167, closed.UpdateFile(MvString("f"), buf, 1));
  EXPECT_RAISES(TBX_E_NO_CONTEXT,
                closed.SetValue(MvString("f"), MvString("A"), MvString("1"), true));
}

TEST_F(StoreTest, SetValueRewritesTheTbxElement)
{
  // Missing, empty or malformed files: refused without the create flag, replaced with it.
  for (const char* content : {(const char*)nullptr, "", "<TBX", "junk", "<OTHER/>"}) {
    SCOPED_TRACE(content ? content : "(no file)");
    unlink(File("s.xml").c_str());
    if (content)
      WriteAll(File("s.xml"), content);
    EXPECT_RAISES(TBX_E_INVALID_FORMAT,
                  m_Ctx.SetValue(MvString("s.xml"), MvString("A"), MvString("1"), false));
    EXPECT_EQ(Exists(File("s.xml")), content != nullptr);
    if (content) {
      EXPECT_EQ(ReadAll(File("s.xml")), content);
    }
    ASSERT_PASSES(m_Ctx.SetValue(MvString("s.xml"), MvString("A"), MvString("1"), true));
    EXPECT_EQ(ReadAll(File("s.xml")), "<TBX A=\"1\"/>");
  }

  // An existing file keeps its other attributes and their order; what lies outside TBX goes.
  WriteAll(File("s.xml"), "<TBX B='2' A='1'>t</TBX>\n");
  ASSERT_PASSES(m_Ctx.SetValue(MvString("s.xml"), MvString("A"), MvString("a<\"&'>"), false));
  ASSERT_PASSES(m_Ctx.SetValue(MvString("s.xml"), MvString("TBX.C"), MvString("3"), false));
  EXPECT_EQ(ReadAll(File("s.xml")),
            "<TBX B=\"2\" A=\"a&lt;&quot;&amp;&apos;&gt;\" TBX.C=\"3\">t</TBX>");
  std::string value;
  EXPECT_TRUE(Query("s.xml", "A", value));
  EXPECT_EQ(value, "a<\"&'>");
}

TEST_F(StoreTest, SetValueRefusesNamesThatWouldRuinTheFile)
{
  WriteAll(File("s.xml"), "<TBX A=\"1\"/>");
  for (const char* name : {"", "A B", "A=", "A/", "A>", "x\"", "a(.0)b", "\xe9"}) {
    EXPECT_RAISES(TBX_E_INVALID_ARGUMENT,
                  m_Ctx.SetValue(MvString("s.xml"), MvString(name), MvString("v"), true))
        << name;
    EXPECT_EQ(ReadAll(File("s.xml")), "<TBX A=\"1\"/>");
  }
}

TEST_F(StoreTest, UpdateFileWritesExactlyTheBytes)
{
  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("t"), MvString("line")));
  EXPECT_EQ(ReadAll(File("t")), "line");
  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("t"), MvString("")));
  EXPECT_EQ(ReadAll(File("t")), "");

  const unsigned char bytes[] = {0, 1, 0xff, 0};
  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("b"), bytes, sizeof bytes));
  EXPECT_EQ(ReadAll(File("b")), std::string("\0\1\xff\0", 4));

  // Nothing but the files themselves stays behind.
  std::set<std::string> names;
  for (const std::string& n : ListDir(m_Dir.path()))
    names.insert(n);
  EXPECT_EQ(names, (std::set<std::string>{"t", "b"}));
}

TEST_F(StoreTest, UpdateFileFailuresLeaveTheOldFile)
{
  WriteAll(File("keep"), "old");
  // A missing directory or a directory in the way cannot be written.
  EXPECT_RAISES_AT(TBX_E_FILE_NOT_FOUND, 205, m_Ctx.UpdateFile(MvString("no/such"), MvString("x")));
  ASSERT_EQ(mkdir(File("d").c_str(), 0755), 0);
  EXPECT_RAISES_AT(TBX_E_FILE_NOT_FOUND, 205, m_Ctx.UpdateFile(MvString("d"), MvString("x")));
  const unsigned char b = 'x';
  EXPECT_RAISES_AT(TBX_E_FILE_NOT_FOUND, 178, m_Ctx.UpdateFile(MvString("no/such"), &b, 1));
  // A zero byte would cut the path short and write another file.
  EXPECT_RAISES(TBX_E_FILE_NOT_FOUND, m_Ctx.UpdateFile(MvString("keep\0x", 6), MvString("new")));
  EXPECT_EQ(ReadAll(File("keep")), "old");

  if (geteuid() != 0) {
    ASSERT_EQ(chmod(m_Dir.path().c_str(), 0500), 0);
    EXPECT_RAISES_AT(TBX_E_FILE_NOT_FOUND, 205,
                     m_Ctx.UpdateFile(MvString("keep"), MvString("new")));
    ASSERT_EQ(chmod(m_Dir.path().c_str(), 0700), 0);
    EXPECT_EQ(ReadAll(File("keep")), "old");
  }
  EXPECT_EQ(ListDir(m_Dir.path()).size(), 2u);
}

// Temporary files of writers that died are removed by the next write in their directory; those of
// live writers (they hold the lock), files that merely look alike (a dated backup, the form of
// earlier versions) and anything in a directory a link leads to stay.
TEST_F(StoreTest, WritesRemoveWhatDeadWritersLeft)
{
  const char* dead[] = {".kestrum~0123456789abcdef~config.xml", ".kestrum~aaaaaaaaaaaaaaaa~0-7-f"};
  const char* kept[] = {".kestrum~bbbbbbbbbbbbbbbb~default.xml",
                        ".default.xml.tmp-202612081200",
                        ".config.xml.tmp-0123456789ab",
                        ".kestrum~0123456789ABCDEF~x",
                        ".kestrum~0123456789abcde~x",
                        "kestrum~0123456789abcdef~x",
                        ".kestrum~0123456789abcdef~",
                        "settings.xml"};
  for (const char* name : dead)
    WriteAll(File(name), "half");
  for (const char* name : kept)
    WriteAll(File(name), "half");
  const int live = open(File(kept[0]).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(live, 0);
  ASSERT_EQ(flock(live, LOCK_EX), 0);
  // A store file that is a link into another directory: that directory is not the store's.
  TempDir elsewhere;
  WriteAll(elsewhere / "target.xml", "<TBX/>");
  WriteAll(elsewhere / ".kestrum~cccccccccccccccc~target.xml", "half");
  ASSERT_EQ(symlink((elsewhere / "target.xml").c_str(), File("link.xml").c_str()), 0);

  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("link.xml"), MvString("<TBX A=\"1\"/>")));
  EXPECT_EQ(ListDir(elsewhere.path()).size(), 2u);
  EXPECT_EQ(ListDir(m_Dir.path()).size(), 11u);
  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("config.xml"), MvString("<TBX/>")));
  const std::vector<std::string> listed = ListDir(m_Dir.path());
  const std::set<std::string> names(listed.begin(), listed.end());
  for (const char* name : dead)
    EXPECT_EQ(names.count(name), 0u) << name;
  for (const char* name : kept)
    EXPECT_EQ(names.count(name), 1u) << name;
  EXPECT_EQ(names.size(), 10u);
  EXPECT_EQ(ListDir(elsewhere.path()).size(), 2u);
  close(live);
}

TEST_F(StoreTest, ReplacedFilesKeepTheirModeAndNewOnesFollowTheUmask)
{
  umask(027);
  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("new"), MvString("1")));
  EXPECT_EQ(ModeOf(File("new")), 0640u);

  WriteAll(File("shared"), "1");
  ASSERT_EQ(chmod(File("shared").c_str(), 0664), 0);
  ASSERT_PASSES(m_Ctx.SetValue(MvString("shared"), MvString("A"), MvString("2"), true));
  EXPECT_EQ(ModeOf(File("shared")), 0664u);
  ASSERT_EQ(chmod(File("shared").c_str(), 0660), 0);
  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("shared"), MvString("3")));
  EXPECT_EQ(ModeOf(File("shared")), 0660u);
  EXPECT_EQ(ReadAll(File("shared")), "3");

  // A file made read-only is not replaced behind its owner's back.
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(File("shared").c_str(), 0440), 0);
    EXPECT_RAISES_AT(TBX_E_FILE_NOT_FOUND, 205,
                     m_Ctx.UpdateFile(MvString("shared"), MvString("4")));
    EXPECT_EQ(ReadAll(File("shared")), "3");
    EXPECT_EQ(ModeOf(File("shared")), 0440u);
  }
}

TEST_F(StoreTest, PrivateKeyFilesAreAlwaysOwnerOnly)
{
  umask(0);
  ASSERT_PASSES(TBX_Context::CreatePath(Mv(File("keys"))));
  ASSERT_PASSES(TBX_Context::CreatePath(Mv(File("keys/private"))));
  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("keys/private/k1"), MvString("00")));
  EXPECT_EQ(ModeOf(File("keys/private/k1")), 0600u);
  WriteAll(File("keys/private/k2"), "old");
  ASSERT_EQ(chmod(File("keys/private/k2").c_str(), 0644), 0);
  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("keys/private/k2"), MvString("01")));
  EXPECT_EQ(ModeOf(File("keys/private/k2")), 0600u);
  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("./keys//private/k3"), MvString("02")));
  EXPECT_EQ(ModeOf(File("keys/private/k3")), 0600u);
}

TEST_F(StoreTest, WritingThroughASymbolicLinkReplacesItsTarget)
{
  ASSERT_EQ(mkdir(File("real").c_str(), 0755), 0);
  WriteAll(File("real/settings.xml"), "<TBX A=\"1\"/>");
  ASSERT_EQ(chmod(File("real/settings.xml").c_str(), 0600), 0);
  ASSERT_EQ(symlink("real/settings.xml", File("settings.xml").c_str()), 0);
  ASSERT_PASSES(m_Ctx.SetValue(MvString("settings.xml"), MvString("B"), MvString("2"), false));

  struct stat st;
  ASSERT_EQ(lstat(File("settings.xml").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadAll(File("real/settings.xml")), "<TBX A=\"1\" B=\"2\"/>");
  EXPECT_EQ(ModeOf(File("real/settings.xml")), 0600u);
  EXPECT_EQ(ListDir(File("real")).size(), 1u);

  // A dangling link names the file to create; a loop of links is refused.
  ASSERT_EQ(symlink("real/later", File("later").c_str()), 0);
  ASSERT_PASSES(m_Ctx.UpdateFile(MvString("later"), MvString("x")));
  EXPECT_EQ(ReadAll(File("real/later")), "x");
  ASSERT_EQ(symlink("loop2", File("loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", File("loop2").c_str()), 0);
  EXPECT_RAISES(TBX_E_FILE_NOT_FOUND, m_Ctx.UpdateFile(MvString("loop1"), MvString("x")));
}

TEST(StoreXml, FromStringHandsOutTheFirstTbxElement)
{
  struct Case
  {
    const char* text;
    long code;
    long line;
  } cases[] = {
      {"<TBX A='1'/>", 0, 0},
      {"<a/><TBX/>", 0, 0},
      {"", TBX_E_INVALID_FORMAT, 49},
      {"<a/>", TBX_E_INVALID_FORMAT, 49},
      {"<TBX", TBX_E_INVALID_FORMAT, 46},
      {"<!x><TBX/>", TBX_E_INVALID_FORMAT, 46},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    xmlElementPtr e;
    if (c.code != 0) {
      EXPECT_RAISES_AT(c.code, c.line, TBX_Context::XmlFromString(MvString(c.text), e.receive()));
      continue;
    }
    ASSERT_PASSES(TBX_Context::XmlFromString(MvString(c.text), e.receive()));
    MvString tag;
    e->getTag(tag);
    EXPECT_EQ(Str(tag), "TBX");
  }
}

TEST(StoreXml, RequestsAndResponseTypes)
{
  xmlElementPtr request;
  ASSERT_PASSES(TBX_Context::XmlCreateRequest(MvString("SetupRequest"), request.receive()));
  MvStringStream out;
  request->toStream(out);
  EXPECT_EQ(Str(out.str()), "<TBX MSGTYPE=\"SetupRequest\"/>");

  struct Case
  {
    const char* response;
    long code;
    long line;
    const char* message;
  } cases[] = {
      {"<TBX MSGTYPE='SetupResponse'/>", 0, 0, ""},
      {"<TBX MSGTYPE='Error' MESSAGE='payment already captured'/>", TBX_E_HOST_ERROR, 481,
       "payment already captured"},
      {"<TBX MSGTYPE='Error'/>", TBX_E_HOST_ERROR, 481, ""},
      {"<TBX MSGTYPE='setupresponse'/>", TBX_E_REQUEST_FAILED, 487,
       "Response MSGTYPE: received 'setupresponse', expected 'SetupResponse'"},
      {"<TBX/>", TBX_E_REQUEST_FAILED, 487,
       "Response MSGTYPE: received '', expected 'SetupResponse'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.response);
    xmlElementPtr e;
    ASSERT_PASSES(TBX_Context::XmlFromString(MvString(c.response), e.receive()));
    try {
      TBX_Context::CheckResponseMsgType(e.get(), MvString("SetupResponse"));
      EXPECT_EQ(c.code, 0);
    } catch (const TBX_Exception& x) {
      EXPECT_EQ(Hex(x.m_Result), Hex(c.code));
      EXPECT_EQ(x.m_Line, c.line);
      EXPECT_NE(Str(x.m_Message).find(c.message), std::string::npos) << Str(x.m_Message);
    }
  }
}

TEST(StoreHelpers, UuidsAreFreshLowercaseHex)
{
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    const std::string id = Str(TBX_Context::CreateUuid());
    ASSERT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    EXPECT_TRUE(seen.insert(id).second) << id;
  }
}
