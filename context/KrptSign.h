/*
 * KrptSign.h - the crypto module: RSA key pairs, signatures over SHA-1 digests and the two raw
 * RSA helpers, on top of OpenSSL 3.
 *
 * Keys travel as DER bytes in the PKCS#1 forms the store keeps (RSAPublicKey, RSAPrivateKey).
 * A signature is PKCS#1 v1.5 block type 1 over the bare 20-byte SHA-1 digest of the data, with
 * no DigestInfo around it; this is what the host checks, so it must never change.
 *
 * Every function returns 0 on success, KRPT_OUT_OF_MEMORY when OpenSSL could not allocate or set
 * up what the operation needs (no verdict on its input), and -1 on any other failure (a bad key,
 * signature or argument). OpenSSL does not flag every allocation failure as such: a failure deep
 * in its decoders or arithmetic can still come out as -1. KRPT_Signature and KRPT_Verify keep the
 * keys they decode in the thread's key cache (KrptCache.h), found again only by the same bytes;
 * otherwise a function keeps no state between calls. Each clears OpenSSL's error queue of what it
 * caused, and writes its outputs only on success.
 * Output lengths are in/out: on entry the capacity of the buffer, on return the bytes written.
 * A result that does not fit fails; nothing is written past the capacity.
 */
#ifndef KRPTSIGN_H
#define KRPTSIGN_H

/* Room a caller gives a DER key: enough for a 4096-bit private key (about 2350 bytes). */
#define KRPT_KEY_BUFFER_SIZE 4096
/* Room for a DER public key read from the store: a 4096-bit key takes about 526 bytes. */
#define KRPT_PUBLIC_KEY_BUFFER_SIZE 1024
/* Room for a signature or an RSA block of the largest key accepted. */
#define KRPT_SIGNATURE_BUFFER_SIZE 1024
/* Room for a received signature: larger than any key's, so that a signature of the wrong length
 * is told as such by KRPT_Verify rather than as text too long to decode. */
#define KRPT_RECEIVED_SIGNATURE_BUFFER_SIZE 4096
/* Size of the merchant keys the host expects unless the store chooses another. */
#define KRPT_DEFAULT_KEY_BITS 512
/* Largest modulus accepted for any key (generation, signing, verification). */
#define KRPT_MAX_KEY_BITS 4096
/* Length of the digest that is signed. */
#define KRPT_DIGEST_LENGTH 20
/* Result of a function that failed for want of memory: no verdict on its input. */
#define KRPT_OUT_OF_MEMORY -2
/* Result of KRPT_Verify for a public key that decodes but could be forged against (see
 * KRPT_CheckPublicKey). */
#define KRPT_UNSOUND_KEY -3
/* Result of KRPT_Verify for a signature whose length is not the key's size. */
#define KRPT_BAD_SIGNATURE_LENGTH -4
/* Smallest modulus a public key that verifies may have. */
#define KRPT_MIN_KEY_BITS 512

/*
 * Generates an RSA key pair of `bits` bits (512 to KRPT_MAX_KEY_BITS) with exponent 65537 and
 * writes its DER encodings. A non-empty seed is mixed into OpenSSL's random generator first.
 */
int KRPT_GenerateKeys(unsigned char* publicKey, int* publicLength, unsigned char* privateKey,
                      int* privateLength, const unsigned char* seed, int seedLength,
                      int bits = KRPT_DEFAULT_KEY_BITS);

/* Signs the SHA-1 digest of `data` with the DER private key. */
int KRPT_Signature(const unsigned char* privateKey, int privateLength, const unsigned char* data,
                   unsigned long dataLength, unsigned char* signature,
                   unsigned long* signatureLength);

/*
 * Checks `signature` over `data` with the DER public key: 0 only when the signature recovers
 * exactly the 20-byte SHA-1 digest of the data (compared in constant time). The signature must be
 * exactly as long as the key's modulus (KRPT_BAD_SIGNATURE_LENGTH otherwise), so that one
 * signature has one form; a key that fails KRPT_CheckPublicKey's soundness rules gives
 * KRPT_UNSOUND_KEY.
 */
int KRPT_Verify(const unsigned char* publicKey, int publicLength, const unsigned char* data,
                unsigned long dataLength, const unsigned char* signature,
                unsigned long signatureLength);

/* RSA public-key encryption of `input` with PKCS#1 v1.5 padding (block type 2). */
int KRPT_CryptDigest(const unsigned char* publicKey, int publicLength, const unsigned char* input,
                     unsigned long inputLength, unsigned char* output, unsigned long* outputLength);

/* RSA private-key decryption of a PKCS#1 v1.5 (block type 2) block. */
int KRPT_DecryptDigest(const unsigned char* privateKey, int privateLength,
                       const unsigned char* input, unsigned long inputLength, unsigned char* output,
                       unsigned long* outputLength);

/*
 * 0 when the bytes decode as a sound RSA public key: an odd public exponent of at least 3 and an
 * odd modulus of KRPT_MIN_KEY_BITS to KRPT_MAX_KEY_BITS bits. With e = 1 anyone could make a
 * signature that verifies; an even exponent or modulus is no RSA key. -1 otherwise.
 */
int KRPT_CheckPublicKey(const unsigned char* publicKey, int publicLength);

#endif /* KRPTSIGN_H */
