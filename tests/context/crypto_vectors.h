// Test support: the signature vectors file, read with a small JSON reader, and hex helpers that
// are independent of the library's own.
#ifndef CRYPTO_VECTORS_H
#define CRYPTO_VECTORS_H

#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace cryptotest {

typedef std::vector<unsigned char> Bytes;

// A JSON value: strings, objects and arrays are all the vectors file uses. \uXXXX escapes below
// 256 become that single byte, so "\u00e9" is the Latin-1 byte 0xE9.
struct Json
{
  enum Kind
  {
    String,
    Object,
    Array,
    Other
  } kind = Other;
  std::string str;
  std::map<std::string, Json> obj;
  std::vector<Json> arr;

  const Json& operator[](const std::string& key) const
  {
    auto it = obj.find(key);
    if (kind != Object || it == obj.end())
      throw std::runtime_error("missing key " + key);
    return it->second;
  }
};

class JsonReader
{
public:
  explicit JsonReader(const std::string& text) : m_Text(text) {}

  Json Parse()
  {
    Json v = Value();
    Skip();
    if (m_Pos != m_Text.size())
      Fail("trailing text");
    return v;
  }

private:
  void Fail(const char* what) { throw std::runtime_error(std::string("JSON: ") + what); }
  void Skip()
  {
    while (m_Pos < m_Text.size() && strchr(" \t\r\n", m_Text[m_Pos]) != nullptr)
      ++m_Pos;
  }
  char Peek()
  {
    Skip();
    if (m_Pos >= m_Text.size())
      Fail("unexpected end");
    return m_Text[m_Pos];
  }
  void Expect(char c)
  {
    if (Peek() != c)
      Fail("unexpected character");
    ++m_Pos;
  }
  std::string String()
  {
    Expect('"');
    std::string out;
    while (m_Pos < m_Text.size() && m_Text[m_Pos] != '"') {
      char c = m_Text[m_Pos++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (m_Pos >= m_Text.size())
        Fail("bad escape");
      char e = m_Text[m_Pos++];
      switch (e) {
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'u': {
        unsigned long cp = std::stoul(m_Text.substr(m_Pos, 4), nullptr, 16);
        m_Pos += 4;
        if (cp > 255)
          Fail("code point above 255");
        out += static_cast<char>(cp);
        break;
      }
      default:
        out += e;
        break;
      }
    }
    Expect('"');
    return out;
  }
  Json Value()
  {
    Json v;
    char c = Peek();
    if (c == '"') {
      v.kind = Json::String;
      v.str = String();
    } else if (c == '{') {
      v.kind = Json::Object;
      ++m_Pos;
      if (Peek() != '}') {
        for (;;) {
          std::string key = String();
          Expect(':');
          v.obj[key] = Value();
          if (Peek() != ',')
            break;
          ++m_Pos;
        }
      }
      Expect('}');
    } else if (c == '[') {
      v.kind = Json::Array;
      ++m_Pos;
      if (Peek() != ']') {
        for (;;) {
          v.arr.push_back(Value());
          if (Peek() != ',')
            break;
          ++m_Pos;
        }
      }
      Expect(']');
    } else {
      while (m_Pos < m_Text.size() && strchr(",}] \t\r\n", m_Text[m_Pos]) == nullptr)
        v.str += m_Text[m_Pos++];
    }
    return v;
  }

  const std::string& m_Text;
  size_t m_Pos = 0;
};

inline bool ReadFile(const char* path, std::string& text)
{
  FILE* f = fopen(path, "rb");
  if (f == nullptr)
    return false;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    text.append(buf, n);
  fclose(f);
  return true;
}

// The vectors: the copy kept in the repository, else the shared one beside the clone.
inline const Json& Vectors()
{
  static const Json vectors = [] {
    std::string text;
    if (!ReadFile(CRYPTO_VECTORS_INREPO, text) && !ReadFile(CRYPTO_VECTORS_SHARED, text))
      throw std::runtime_error("signature vectors not found");
    return JsonReader(text).Parse();
  }();
  return vectors;
}

inline Bytes FromHex(const std::string& hex)
{
  if (hex.size() % 2 != 0)
    throw std::runtime_error("odd hex length");
  Bytes out;
  for (size_t i = 0; i < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string ToHex(const unsigned char* p, size_t n)
{
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

inline std::string ToHex(const Bytes& b)
{
  return ToHex(b.data(), b.size());
}

// Each byte b becomes b, 0: the form in which texts are signed.
inline Bytes Widen(const Bytes& text)
{
  Bytes out;
  for (unsigned char b : text) {
    out.push_back(b);
    out.push_back(0);
  }
  return out;
}

}  // namespace cryptotest

#endif
