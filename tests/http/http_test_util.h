// Helpers shared by the transport tests: running one fetch and reading what came of it.
#ifndef TBX_TESTS_HTTP_TEST_UTIL_H
#define TBX_TESTS_HTTP_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "httpencode.h"
#include "tbxerr.h"
#include "tbxhttp.h"

namespace tbxtest {

inline std::string S(const MvString& s)
{
  return s.c_str() != nullptr ? std::string(s.c_str(), s.size()) : std::string();
}
inline MvString M(const std::string& s)
{
  return MvString(s.data(), static_cast<unsigned>(s.size()));
}

inline std::string Hex(long code)
{
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(code) & 0xFFFFFFFFul);
  return buf;
}

struct Fetched
{
  long code = 0;
  std::string message;
  std::string body;
};

// Splits `url` into a record with a short time-out (the tests' peers are local).
inline URL_INFO Info(const std::string& url, long timeout = 5)
{
  URL_INFO info;
  EXPECT_TRUE(SplitUrl(M(url), info)) << url;
  info.m_Timeout = timeout;
  return info;
}

inline Fetched Fetch(const URL_INFO& info)
{
  Fetched r;
  MvStringStream out;
  try {
    HttpSession(info, out);
  } catch (const TBX_Exception& e) {
    r.code = e.m_Result;
    r.message = S(e.m_Message);
  }
  r.body = S(out.str());
  return r;
}

inline std::string Base64(const std::string& s)
{
  MvStringStream in, out;
  in << M(s);
  Base64Encode(in, out);
  return S(out.str());
}

// The exact request a direct fetch of `path` sends.
inline std::string DirectRequest(const std::string& requestUri, const std::string& user = "",
                                 const std::string& password = "")
{
  return "GET " + requestUri + " HTTP/1.0\r\nAuthorization: Basic " +
         Base64(user + ":" + password) + "\r\nUserAgent: Kestrum Application Component 1.0\r\n\r\n";
}

}  // namespace tbxtest

#endif
