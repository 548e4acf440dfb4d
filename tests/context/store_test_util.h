// Test support for the store: temporary directories, whole-file helpers and checks that print a
// failed call's result code and message.
#ifndef STORE_TEST_UTIL_H
#define STORE_TEST_UTIL_H

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mvstring.h"
#include "tbxerr.h"

namespace storetest {

inline std::string Str(const MvString& s)
{
  return s.c_str() ? std::string(s.c_str(), s.size()) : std::string();
}

inline MvString Mv(const std::string& s)
{
  return MvString(s.data(), static_cast<unsigned>(s.size()));
}

inline std::string Hex(long code)
{
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(code) & 0xFFFFFFFFul);
  return buf;
}

// A directory under $TMPDIR removed with everything in it at the end of the test.
class TempDir
{
public:
  TempDir()
  {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tbxctx-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
      ADD_FAILURE() << "mkdtemp failed";
    m_Path = buf.data();
  }
  ~TempDir() { RemoveTree(m_Path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_Path; }
  std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

  static void RemoveTree(const std::string& path)
  {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
      return;
    if (S_ISDIR(st.st_mode)) {
      chmod(path.c_str(), 0700);
      if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
          if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            RemoveTree(path + "/" + e->d_name);
        }
        closedir(d);
      }
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }

private:
  std::string m_Path;
};

inline bool ReadAll(const std::string& path, std::string& text)
{
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr)
    return false;
  text.clear();
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    text.append(buf, n);
  std::fclose(f);
  return true;
}

inline std::string ReadAll(const std::string& path)
{
  std::string text;
  if (!ReadAll(path, text))
    ADD_FAILURE() << "cannot read " << path;
  return text;
}

inline void WriteAll(const std::string& path, const std::string& text)
{
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
  std::fclose(f);
}

inline bool Exists(const std::string& path)
{
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline mode_t ModeOf(const std::string& path)
{
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return static_cast<mode_t>(-1);
  return st.st_mode & 07777;
}

// Names in `dir`, "." and ".." left out.
inline std::vector<std::string> ListDir(const std::string& dir)
{
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.push_back(e->d_name);
    }
    closedir(d);
  }
  return names;
}

// Runs `call`; fails unless it raises TBX_Exception with `code` (and, when given, `line`).
template <class F>
::testing::AssertionResult RaisesCode(F call, long code, long line = -1)
{
  try {
    call();
  } catch (const TBX_Exception& e) {
    if (e.m_Result != code)
      return ::testing::AssertionFailure() << "raised " << Hex(e.m_Result) << " ("
                                           << Str(e.m_Message) << ") instead of " << Hex(code);
    if (line >= 0 && e.m_Line != line)
      return ::testing::AssertionFailure()
             << "raised at line " << e.m_Line << " instead of " << line;
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "raised nothing, expected " << Hex(code);
}

// Runs `call`; fails with the code and message when it raises.
template <class F>
::testing::AssertionResult Passes(F call)
{
  try {
    call();
  } catch (const TBX_Exception& e) {
    return ::testing::AssertionFailure()
           << "raised " << Hex(e.m_Result) << ": " << Str(e.m_Message);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace storetest

#define EXPECT_RAISES(code, stmt) EXPECT_TRUE(storetest::RaisesCode([&] { stmt; }, (code)))
#define EXPECT_RAISES_AT(code, line, stmt)                                                         \
  EXPECT_TRUE(storetest::RaisesCode([&] { stmt; }, (code), (line)))
#define EXPECT_PASSES(stmt) EXPECT_TRUE(storetest::Passes([&] { stmt; }))
#define ASSERT_PASSES(stmt) ASSERT_TRUE(storetest::Passes([&] { stmt; }))

#endif
