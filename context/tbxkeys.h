/*
 * tbxkeys.h - keys and signatures of the store: the steps on key texts that need no store, and
 * TBX_Keys, which reads and writes the key files of a store around them.
 *
 * Keys live in the store as lowercase hex of their PKCS#1 DER bytes: "keys/private/" + id and
 * "keys/public/" + id. A signature is made over the text widened to 16-bit units (each byte b
 * becomes b, 0), hashed with SHA-1 and padded with PKCS#1 v1.5 block type 1 around the bare
 * digest; as text it is lowercase hex.
 */
#ifndef TBXKEYS_H
#define TBXKEYS_H

#include "mvstring.h"
#include "tbxstore.h"

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
 * characters (bytes below 0x20 and 0x7F), and not of a temporary file's form (TBX_LooksTemporary):
 * a key file of such a name could be taken for one a dead writer left, and removed.
 */
bool TBX_IsPlainKeyId(const MvString& id);

/* True when `id` begins with TBX_TEMP_MARKER, or has the form of the temporary files of earlier
 * versions ("." + name + ".tmp-" + 12 hex digits). */
bool TBX_LooksTemporary(const MvString& id);

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

/* ---- The store's keys ---------------------------------------------------------------------- */

class TBX_Keys
{
public:
  explicit TBX_Keys(TBX_Store& store) : m_Store(store) {}
  TBX_Keys(const TBX_Keys&) = delete;
  TBX_Keys& operator=(const TBX_Keys&) = delete;

  /*
   * Generates a key pair of the size settings.xml KEYBITS asks for (512 when absent; 1024, 2048,
   * 3072, 4096; anything else raises 0x80040207) and writes keys/public/<id>, then
   * keys/private/<id> (mode 0600), under the store's lock. `keyId` must be a plain file name,
   * else 0x80040204.
   */
  void GenKey(const MvString& keyId);
  /*
   * Signs `data` with keys/private/<keyId>: `signature` receives lowercase hex. 0x8004020E for an
   * identifier that is not a plain file name, 0x8004020D when the key file is missing or empty,
   * 0x8004020B for a key text that is not hex, 0x80040209 when the key does not decode.
   */
  void SignData(const MvString& data, const MvString& keyId, MvString& signature);
  /*
   * Returns only when `signature` (hex) is a valid signature of `data` under keys/public/<keyId>.
   * 0x8004020E / 0x8004020D as SignData; 0x8004020B for a key or signature text that is not hex
   * or too long, an unsound key, or a signature text of another length than twice the key's
   * size in bytes; 0x80040214 when it does not verify. `keyText`, when given, receives the key
   * text the signature verified under.
   */
  void VerifyData(const MvString& data, const MvString& keyId, const MvString& signature,
                  MvString* keyText = nullptr);
  /*
   * VerifyData in two steps, for a caller that looks at the key before it is used. The first
   * reads keys/public/<keyId> into `keyText`; without `followLink` it answers false, reading
   * nothing, when that name is a symbolic link. The second verifies with the text it read.
   */
  bool ReadPublicKey(const MvString& keyId, MvString& keyText, bool followLink);
  void VerifyWithPublicKey(const MvString& data, const MvString& keyId, const MvString& keyText,
                           const MvString& signature);

  /*
   * True when the public key text `keyText` is the merchant's current one, keys/public/
   * <currentKeyId>; texts compare as hex, whatever the letters' case. Only the current key is
   * read: a confirmation is a hot path, and a listing of keys/private/ with a read per key would
   * double its cost.
   */
  bool IsOwnPublicKey(const MvString& keyText, const MvString& currentKeyId);

  /* True when `text` is even-length hex of the DER of a sound RSA public key that VerifyData
   * would accept: the check a host's KEYBLOB must pass before it is stored. */
  static bool IsPublicKeyText(const MvString& text);

  static MvString BufferToHex(const unsigned char* buffer, unsigned long length);
  static long HexToBuffer(MvString text, unsigned char* buffer, unsigned long& length);
  static MvString Encode(const MvString& text);
  static void SlToBackSl(MvString& text);

private:
  TBX_Store& m_Store;
};

#endif /* TBXKEYS_H */
