/*
 * tbxutil.h - text encodings, string conversions, and the store-independent steps of the key and
 * signature operations (the context reads and writes the key files around them).
 *
 * Keys live in the store as lowercase hex of their PKCS#1 DER bytes: "keys/private/" + id and
 * "keys/public/" + id. A signature is made over the text widened to 16-bit units (each byte b
 * becomes b, 0), hashed with SHA-1 and padded with PKCS#1 v1.5 block type 1 around the bare
 * digest; as text it is lowercase hex.
 */
#ifndef TBXUTIL_H
#define TBXUTIL_H

#include "mvstring.h"

#include <cstddef>

/* Working buffers of the key operations: hex text is decoded into buffers of these sizes. */
#define TBX_PRIVATE_KEY_BUFFER_SIZE 4096 /* DER private key: 4096-bit keys take ~2350 bytes */
#define TBX_PUBLIC_KEY_BUFFER_SIZE 1024  /* DER public key: 4096-bit keys take ~526 bytes */
#define TBX_SIGNATURE_BUFFER_SIZE 4096   /* decoded signature text */

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

/*
 * The 16-bit widening of a text, as it is signed: n + 1 units, each byte b of the text stored as
 * the bytes b, 0 (low byte first on every host), then a 0 unit that is not part of the data.
 * Throws MVFC_Exception(0x80040217) when the memory cannot be had.
 */
class TBX_WCHARBuffer
{
public:
  explicit TBX_WCHARBuffer(const MvString& text);
  ~TBX_WCHARBuffer();
  TBX_WCHARBuffer(const TBX_WCHARBuffer&) = delete;
  TBX_WCHARBuffer& operator=(const TBX_WCHARBuffer&) = delete;

  const unsigned short* units() const { return m_Buffer; }
  /* The data to hash: 2n bytes, the terminating unit excluded. */
  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(m_Buffer); }
  unsigned long byteLength() const { return m_ByteLength; }

private:
  unsigned short* m_Buffer;
  unsigned long m_ByteLength;
};

/* ---- Key identifiers and key size --------------------------------------------------------- */

/*
 * True when `id` can name a key file: not empty, not "." or "..", no "/" and no control
 * characters (bytes below 0x20 and 0x7F).
 */
bool TBX_IsPlainKeyId(const MvString& id);

/*
 * Raises `code` (TBX_E_NO_KEY_ID for an identifier taken from a message, TBX_E_INVALID_FORMAT
 * for one the host sent) unless `id` is a plain name.
 */
void TBX_CheckKeyId(const MvString& id, long code);

/*
 * The size of new merchant keys from the KEYBITS value of settings.xml: 512 when the value is
 * empty (absent), else 512, 1024, 2048, 3072 or 4096; anything else raises
 * TBX_E_INVALID_OPTION.
 */
int TBX_KeyBitsFromSetting(const MvString& value);

/* ---- Key operations on key texts (the store-independent steps) ---------------------------- */

/* Generates a pair of `bits` bits and returns both as hex text. TBX_E_CRYPTO on failure. */
void TBX_CreateKeyTexts(int bits, MvString& publicText, MvString& privateText);

/*
 * Signs `data` with the private key given as hex text; `signature` receives lowercase hex.
 * TBX_E_INVALID_KEY_BLOB when the text is not hex or too long, TBX_E_CRYPTO when the key does
 * not decode or signing fails. `signature` is written only on success.
 */
void TBX_SignWithKeyText(const MvString& data, const MvString& privateText, MvString& signature);

/*
 * Returns only when `signature` (hex text) is a valid signature of `data` under the public key
 * given as hex text. TBX_E_INVALID_KEY_BLOB for a key or signature text that is not hex or too
 * long, a key that is not sound (KRPT_CheckPublicKey), or a signature text that is not exactly
 * two digits per byte of the key; TBX_E_INVALID_SIGNATURE when it does not verify.
 */
void TBX_VerifyWithKeyText(const MvString& data, const MvString& publicText,
                           const MvString& signature);

#endif /* TBXUTIL_H */
