// Helpers shared by the XML tests.
#ifndef XML_TEST_UTIL_H
#define XML_TEST_UTIL_H

#include <gtest/gtest.h>

#include <string>

#include "mvobject.h"
#include "mvstring.h"
#include "xmlElement.h"
#include "xmlParser.h"

inline std::string str(const MvString& s)
{
  return s.c_str() ? std::string(s.c_str(), s.size()) : std::string();
}

inline MvString mv(const std::string& s)
{
  return MvString(s.data(), static_cast<unsigned>(s.size()));
}

inline std::string written(const xmlElement* e)
{
  MvStringStream out;
  e->toStream(out);
  return str(out.str());
}

// Parses `text`; on success `doc` holds the document element.
inline long parse(const std::string& text, xmlElementPtr& doc)
{
  MvStringStream in;
  in.write(text.data(), static_cast<unsigned>(text.size()));
  return xmlParser::parseText(in, doc.receive());
}

// Every test must leave as many live library objects as it found.
class XmlTest : public ::testing::Test
{
protected:
  void SetUp() override { m_Live = MvRefCounter::m_nTotalRef.load(); }
  void TearDown() override
  {
    EXPECT_EQ(MvRefCounter::m_nTotalRef.load(), m_Live) << "objects leaked";
  }

private:
  int32_t m_Live = 0;
};

#endif
