// The messages exchanged with the client: one element (named "TBX") whose fields are attributes.
// The text form is the client's compact one, byte for byte: no white space, attributes in the order
// they were first set, values with '"', '&', the apostrophe, '<' and '>' written as entities, and
// "/>" closing the empty element.
#ifndef SBXML_H
#define SBXML_H

#include <string>
#include <utility>
#include <vector>

namespace sandbox {

class Message
{
public:
  Message() = default;
  explicit Message(const std::string& type) { Set("MSGTYPE", type); }

  // Sets (or replaces in place) an attribute; values are plain text, encoded when written.
  void Set(const std::string& name, const std::string& value);
  // False (value untouched) when absent.
  bool Get(const std::string& name, std::string& value) const;
  // The value, or "" when absent.
  std::string Value(const std::string& name) const;
  bool Has(const std::string& name) const;
  const std::vector<std::pair<std::string, std::string>>& Attributes() const { return m_Attrs; }

  std::string Type() const { return Value("MSGTYPE"); }

  // The compact text form of the element.
  std::string ToText() const;

  // Reads the first element of `text`, which must be named "TBX"; attribute values are decoded as
  // the client decodes them. Content and children of the element are skipped. False (with `error`
  // set) on anything else; `out` is then untouched.
  static bool Parse(const std::string& text, Message& out, std::string& error);

  // Name characters of the client's parser: letters, digits, '.', '-', '_'.
  static bool IsName(const std::string& name);

private:
  std::vector<std::pair<std::string, std::string>> m_Attrs;
};

// Appends the entity of a character that markup text and quoted attribute values cannot hold as
// itself ('"', '&', the apostrophe, '<', '>') and returns true; false (nothing appended) for any
// other. Only the apostrophe's entity differs between uses, so the caller names it.
bool AppendEntity(std::string& out, char c, const char* apostrophe);

// The client's entity codec: Encode writes the five entities; Decode knows exactly "&amp;",
// "&lt;", "&gt;", "&quot;" and "&apos;" and drops any other reference.
std::string XmlEncode(const std::string& text);
std::string XmlDecode(const std::string& text);

}  // namespace sandbox

#endif
