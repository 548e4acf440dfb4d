// Text conversions between the library's byte strings and Java's UTF-16, kept free of jni.h so
// they can be tested without a virtual machine.
#ifndef JSTRCONV_H
#define JSTRCONV_H

#include <cstddef>
#include <string>

// Bytes to UTF-16: every well-formed UTF-8 sequence as its character, every other byte as the
// Latin-1 character of its value (hosts and old stores hand back Latin-1 text).
std::u16string TBXJ_Utf16FromBytes(const char* bytes, size_t length);

// UTF-16 to the bytes the library takes: UTF-8, with U+0000 as C0 80 so that the text is still one
// C string, and an unpaired surrogate as its own three-byte form (as the Java environment's
// modified UTF-8 writes them); a surrogate pair becomes one four-byte sequence.
std::string TBXJ_BytesFromUtf16(const char16_t* text, size_t length);

#endif
