/*
 * httpencode.cpp - the stream encoders of the transport.
 */
#include "httpencode.h"

#include <cstring>

#include "mvbytes.h"

namespace {

// Appends `text` to `out` unless it is empty: an append clears the output's end flag.
void AppendEncoded(MvStringStream& out, const MvString& text)
{
  if (!text.empty())
    out << text;
}

}  // namespace

void Base64Encode(MvStringStream& in, MvStringStream& out)
{
  const unsigned from = in.tellg();
  const unsigned size = in.str().size();
  const MvString encoded = MvBase64Encode(in.str().c_str() + from, size - from);
  in.skipTo(size);
  AppendEncoded(out, encoded);
}

void UrlEncode(MvStringStream& in, MvStringStream& out)
{
  const unsigned from = in.tellg();
  const unsigned size = in.str().size();
  const char* unread = in.str().c_str() + from;
  const void* zero = size > from ? std::memchr(unread, '\0', size - from) : nullptr;
  const unsigned end = zero != nullptr
                           ? from + static_cast<unsigned>(static_cast<const char*>(zero) - unread)
                           : size;
  const MvString encoded = MvPercentEncode(unread, end - from, MvPercentKeep::kAlnum);
  in.skipTo(end);
  char c;
  in.get(c);  // the zero byte, or at the end only the end flag
  AppendEncoded(out, encoded);
}
