/*
 * tbxutil.h - text encodings, string conversions, and the texts failures of the context share.
 */
#ifndef TBXUTIL_H
#define TBXUTIL_H

#include "mvstring.h"

#include <cstddef>

/* ---- Encodings ---------------------------------------------------------------------------- */

/* Two lowercase hex digits per byte, in order, no separators. */
MvString BufferToHex(const unsigned char* buffer, unsigned long length);

/*
 * Decodes hex text (either case) into `buffer`. `length` is in: the capacity, out: the bytes
 * written. A trailing odd digit is dropped; an empty text gives 0 bytes.
 * Returns 0; TBX_E_BUFFER_TOO_SMALL when the text would need more than the capacity (the test
 * runs before every digit, the dropped one included); TBX_E_COMMAND_FAILED on a character that
 * is not a hex digit. On a failure `length` is unchanged, and bytes decoded so far stay in the
 * buffer.
 */
long HexToBuffer(MvString text, unsigned char* buffer, unsigned long& length);
/* HexToBuffer on a text the caller keeps: key texts are decoded where they lie, so that no copy
 * of a private key is left behind in freed memory. */
long TBX_HexDecode(const MvString& text, unsigned char* buffer, unsigned long& length);

/*
 * The encoding of DATA in request and offer URLs: ASCII letters and digits stay, every other
 * byte (including "-", "_", ".", "~", space and bytes above 127) becomes "%" and two lowercase
 * hex digits.
 */
MvString Encode(const MvString& text);

/* Replaces every "/" of `text` with "\", in place. */
void SlToBackSl(MvString& text);

/* ---- String conversions ------------------------------------------------------------------- */

/* The characters of `s`; a null pointer gives an empty string. */
MvString mbstoSTRING(const char* s);

/* wcstombs: converts at most `size` bytes into `dest`; (size_t)-1 on an unconvertible char. */
size_t WCSToMBS(char* dest, const wchar_t* src, size_t size);

/* ---- What failures say about the store ---------------------------------------------------- */

/* `text` in single quotes, cut after 64 characters ("..."): a value that came from a caller or a
 * peer, quoted in a message. */
MvString TBX_Quote(const MvString& text);

/* The command that sets the store at `storePath` up, for hints: "kestrum -conf -p PATH -r URL -u
 * USER -w PASSWORD". */
MvString TBX_SetupCommand(const MvString& storePath);

/* The system's text for the error number `err` ("No such file or directory"). */
MvString TBX_SystemErrorText(int err);

#endif /* TBXUTIL_H */
