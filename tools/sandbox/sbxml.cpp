#include "sbxml.h"

namespace sandbox {

namespace {

bool IsNameChar(char c)
{
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

bool IsSpace(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

bool AppendEntity(std::string& out, char c, const char* apostrophe)
{
  switch (c) {
  case '"':
    out += "&quot;";
    return true;
  case '&':
    out += "&amp;";
    return true;
  case '\'':
    out += apostrophe;
    return true;
  case '<':
    out += "&lt;";
    return true;
  case '>':
    out += "&gt;";
    return true;
  default:
    return false;
  }
}

std::string XmlEncode(const std::string& text)
{
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (!AppendEntity(out, c, "&apos;"))
      out.push_back(c);
  }
  return out;
}

std::string XmlDecode(const std::string& text)
{
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&') {
      out.push_back(text[i++]);
      continue;
    }
    // The piece runs to the next ';', at most five characters with the '&'; whatever it is, the
    // character after it is skipped too (normally the ';').
    std::string piece = "&";
    size_t j = i + 1;
    while (j < text.size() && text[j] != ';' && piece.size() < 5)
      piece.push_back(text[j++]);
    if (piece == "&amp")
      out.push_back('&');
    else if (piece == "&lt")
      out.push_back('<');
    else if (piece == "&gt")
      out.push_back('>');
    else if (piece == "&quot")
      out.push_back('"');
    else if (piece == "&apos")
      out.push_back('\'');
    if (j < text.size())
      ++j;
    i = j;
  }
  return out;
}

void Message::Set(const std::string& name, const std::string& value)
{
  for (auto& attr : m_Attrs) {
    if (attr.first == name) {
      attr.second = value;
      return;
    }
  }
  m_Attrs.emplace_back(name, value);
}

bool Message::Get(const std::string& name, std::string& value) const
{
  for (const auto& attr : m_Attrs) {
    if (attr.first == name) {
      value = attr.second;
      return true;
    }
  }
  return false;
}

std::string Message::Value(const std::string& name) const
{
  std::string value;
  Get(name, value);
  return value;
}

bool Message::Has(const std::string& name) const
{
  std::string ignored;
  return Get(name, ignored);
}

std::string Message::ToText() const
{
  std::string out = "<TBX";
  for (const auto& attr : m_Attrs) {
    out += ' ';
    out += attr.first;
    out += "=\"";
    out += XmlEncode(attr.second);
    out += '"';
  }
  out += "/>";
  return out;
}

bool Message::IsName(const std::string& name)
{
  if (name.empty())
    return false;
  for (char c : name) {
    if (!IsNameChar(c))
      return false;
  }
  return true;
}

bool Message::Parse(const std::string& text, Message& out, std::string& error)
{
  size_t i = 0, n = text.size();
  auto skipSpace = [&] {
    while (i < n && IsSpace(text[i]))
      ++i;
  };
  auto readName = [&] {
    size_t start = i;
    while (i < n && IsNameChar(text[i]))
      ++i;
    return text.substr(start, i - start);
  };

  skipSpace();
  if (i >= n || text[i] != '<') {
    error = "the text does not start with an element";
    return false;
  }
  ++i;
  skipSpace();
  std::string tag = readName();
  if (tag != "TBX") {
    error = tag.empty() ? "the text does not start with an element"
                        : "the element is '" + tag + "', not 'TBX'";
    return false;
  }
  Message msg;
  for (;;) {
    skipSpace();
    if (i >= n) {
      error = "the element's start tag is not closed";
      return false;
    }
    if (text[i] == '/') {
      if (i + 1 >= n || text[i + 1] != '>') {
        error = "'/' without '>' in the element's tag";
        return false;
      }
      break;
    }
    if (text[i] == '>') {
      // Content and children carry nothing a message uses; an end tag must follow.
      if (text.find("</", i) == std::string::npos) {
        error = "the element is not closed";
        return false;
      }
      break;
    }
    std::string name = readName();
    if (name.empty()) {
      error = std::string("unexpected character '") + text[i] + "' in the element's tag";
      return false;
    }
    skipSpace();
    std::string raw;
    if (i < n && text[i] == '=') {
      ++i;
      skipSpace();
      if (i < n && (text[i] == '"' || text[i] == '\'')) {
        char quote = text[i++];
        size_t end = text.find(quote, i);
        if (end == std::string::npos) {
          error = "the value of '" + name + "' is not closed";
          return false;
        }
        raw = text.substr(i, end - i);
        i = end + 1;
      } else {
        raw = readName();
        if (raw.empty()) {
          error = "the attribute '" + name + "' has no value";
          return false;
        }
      }
    }
    msg.Set(name, XmlDecode(raw));
  }
  out = std::move(msg);
  return true;
}

}  // namespace sandbox
