/*
 * tbxapp.h - public C interface of libtbxapp, the merchant-side client of the Kestrum
 * card-payment service.
 *
 * Conventions for every exported function:
 *  - A result is a signed 32-bit value held in a `long`: 0 is success, every failure has the top
 *    bit set. On 64-bit platforms a failure is that 32-bit value sign-extended, so it is negative;
 *    the TBX_E_* constants below have exactly that form and can be compared with `==`.
 *    One exception: when a store directory cannot be created, the result is the operating
 *    system's error number itself (positive), so test for success with `== 0`, never `< 0`.
 *  - Strings in are NUL-terminated byte strings; a null pointer counts as the empty string.
 *  - Strings out are a (long* length, char* buffer) pair after the other arguments. On entry
 *    *length is the buffer's size in bytes; on return it is the size needed, terminating NUL
 *    included. Measure first (null buffer), then fetch.
 */
#ifndef TBXAPP_H
#define TBXAPP_H

#define TBXAPP_VERSION_MAJOR 0
#define TBXAPP_VERSION_MINOR 1
#define TBXAPP_VERSION_PATCH 0
#define TBXAPP_VERSION       "0.1.0"

/* The result codes (TBX_OK, TBX_E_*) and their texts. */
#include "tbxcodes.h"

#if defined(TBX_BUILDING_LIBRARY)
#define TBX_EXTERN(type) __attribute__((visibility("default"))) type
#else
#define TBX_EXTERN(type) type
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Looks up the English text of a result code. Only the low 32 bits of `result` are used, so both
 * the sign-extended and the plain 32-bit form of a code work.
 *
 * Returns 1 when the code has a text; then *length receives the size the text needs, its NUL
 * included. When the buffer is null or *length is 0 or below, nothing is copied; when *length is
 * too small, the text is truncated to *length - 1 bytes and terminated (no error: compare the
 * returned length with the size passed). Returns 0, touching nothing, when the code has no text
 * or `length` is null.
 */
TBX_EXTERN(int) TBX_GetErrorStringFromResult(long result, long* length, char* buffer);

/*
 * The calling thread's last error: the message of the most recent failure of an exported function
 * on this thread (for example the host's reason when a capture is refused, or the transport's
 * detail), composed as the library composes every error message. Successful calls leave it alone;
 * other threads never see it; this function itself never changes it. The returned code of the
 * failing call stays what decides: the message only explains.
 *
 * Measure-then-fetch: *length receives the size needed, NUL included. Returns
 * TBX_E_BUFFER_TOO_SMALL when `length` is null or *length is below that size (nothing copied); a
 * null buffer with a large enough *length only measures. The text is "" (size 1) when no failure
 * has been recorded.
 */
TBX_EXTERN(long) TBX_GetLastErrorMessage(long* length, char* buffer);

/*
 * The calling thread's last error code: the result of the most recent failure of an exported
 * function on this thread, the very failure whose message TBX_GetLastErrorMessage gives (so a
 * caller can tell that the message belongs to the code it holds); 0 when no failure has been
 * recorded. Successful calls leave it alone, as does TBX_GetLastErrorMessage.
 */
TBX_EXTERN(long) TBX_GetLastErrorCode(void);

/*
 * Whether the calling thread's last failed call (the one TBX_GetLastErrorMessage explains) had
 * sent its request to a host before it failed:
 *   1  the whole request had been written to the connection: the host may have acted on it (a
 *      capture may have happened) and only its answer is missing, or the host answered and
 *      refused. Ask the host for the state (a Status request) before doing it again.
 *   0  the call was talking to a host but its request did not go out whole (connection refused,
 *      name not resolved, TLS or proxy failure, time-out before sending): repeating it is safe.
 *  -1  the last failure did not involve a request (a bad argument, handle or store), or no call
 *      on this thread has failed yet.
 * A call that makes several exchanges (ConfigurationSetup_Reconfigure) answers for the last one.
 * Per thread, like the message; successful calls and this function leave it alone.
 */
TBX_EXTERN(long) TBX_LastRequestWasSent(void);

/*
 * Handles. Every handle is an opaque pointer owned by the caller, released with the matching
 * Destroy function and never used from two threads at once; separate handles may be used on
 * separate threads. Every function taking a handle answers TBX_E_INVALID_HANDLE for a null,
 * unknown or destroyed handle (or one of another kind) and then touches nothing. Output handles
 * (void** out) are written only on success; a null out pointer gives TBX_E_INVALID_ARGUMENT before
 * any work.
 *
 * State kept between calls: besides the registry of live handles, each thread that calls the
 * library keeps two bounded caches of its own, so that threads never wait for each other.
 *  - The keys it has decoded to sign and to verify (at most 8, the least recently used making
 *    room), found again only by the exact bytes of the key file.
 *  - The store files it has read (at most 16, of up to 64 KiB each), with each file's device,
 *    inode, size, modification and status-change times: a file is read again as soon as one of
 *    them changes, and always while they are less than two seconds older than the read that
 *    kept it (a file rewritten within one timestamp tick keeps its marks). A changed or replaced
 *    file therefore takes effect on the next call, as if every call read it, and no result
 *    depends on the caches.
 * What leaves a cache (eviction, a change, the thread's end) is cleared from memory, private
 * keys included.
 *
 * Output strings of the MessageObject functions follow the measure-then-fetch rule: *length
 * receives the size needed, NUL included, and TBX_E_BUFFER_TOO_SMALL is returned, with nothing
 * copied, when `length` is null or *length is below that size. Call once with *length = 0 and a
 * null buffer, allocate *length bytes, call again. Values are copied up to their first NUL byte.
 */

/* ---- Configuration setup: binds a merchant's configuration store, sets it up against the
 * host, and reads or writes single values of its files. ---- */

/* A new configuration-setup object, or null when memory runs out. Release it with
 * DestroyConfigurationSetup. */
TBX_EXTERN(void*) CreateConfigurationSetup(void);

/* Destroys a configuration-setup object. Null, unknown and already destroyed handles are
 * ignored. */
TBX_EXTERN(void) DestroyConfigurationSetup(void* setup);

/* Binds the object to a configuration store directory ("" or null: the current directory), which
 * is created when missing (its parent must exist). Calling it again binds another store. Every
 * other operation needs a bound store (TBX_E_NO_CONTEXT otherwise). */
TBX_EXTERN(long) ConfigurationSetup_SetConfiguration(void* setup, const char* configPath);

/* Sets the store up against the host, in one call: account configuration (config.xml), default
 * offer attributes (default.xml, unless it is marked valid), the host's public key, and a new
 * merchant key pair registered with the host (keys/current names it once the host has accepted
 * it). `serverUrl` is the host's set-up endpoint ("" or null: the one the store already holds);
 * `userName` and `password` are the account's credentials. A failure stops where it happens:
 * files written before stay, and keys/current keeps naming the previous key. A refusal by the
 * host gives TBX_E_HOST_ERROR with the host's reason in TBX_GetLastErrorMessage. */
TBX_EXTERN(long)
ConfigurationSetup_Reconfigure(void* setup, const char* serverUrl, const char* userName,
                               const char* password);

/* Sets a connection option of this object (never stored): "UserName", "Password" or "VTAUTOURL"
 * (set-up endpoint), case-sensitive; another name gives TBX_E_INVALID_OPTION. */
TBX_EXTERN(long) ConfigurationSetup_SetOption(void* setup, const char* name, const char* value);

/* The value of attribute `key` in the store file `file` (for example "default.xml", "LANGID"), a
 * name relative to the store without a ".." component (TBX_E_INVALID_ARGUMENT otherwise),
 * measure-then-fetch: *length receives the size needed, NUL included, and TBX_E_BUFFER_TOO_SMALL
 * is returned, with nothing copied, when `length` is null or *length is below that size. An
 * absent or empty value gives TBX_E_ITEM_NOT_FOUND and leaves *length unchanged. */
TBX_EXTERN(long)
ConfigurationSetup_GetAttribute(void* setup, const char* file, const char* key, long* length,
                                char* buffer);

/* Sets attribute `key` of the store file `file` (a name relative to the store without a ".."
 * component, TBX_E_INVALID_ARGUMENT otherwise), which must already hold a well-formed document
 * (TBX_E_INVALID_FORMAT otherwise); the file is replaced as a whole, atomically. An empty or null
 * value does nothing and succeeds. A key that is empty or holds other characters than letters,
 * digits, '.', '-' and '_' gives TBX_E_INVALID_ARGUMENT and leaves the file unchanged. */
TBX_EXTERN(long)
ConfigurationSetup_SetAttribute(void* setup, const char* file, const char* key, const char* value);

/* ---- Message factory: builds the messages of a merchant's configuration store. ---- */

/* A new factory, or null when memory runs out. Release it with DestroyMessageFactory. */
TBX_EXTERN(void*) CreateMessageFactory(void);

/* Destroys a factory. Null, unknown and already destroyed handles are ignored. Message objects
 * made by the factory stay valid. */
TBX_EXTERN(void) DestroyMessageFactory(void* factory);

/* Records the configuration store's directory ("" or null: the current directory). Nothing is
 * checked here: a wrong path shows at the next operation. */
TBX_EXTERN(long) MessageFactory_Open(void* factory, const char* configPath);

/* A new PayInit offer in *message: MSGTYPE, KEYID, a fresh TOKEN, the store's default attributes
 * and EXPIRATION (now plus the store's PAYINITTTL, one day by default, UTC "YYYYMMDD hh:mm:ss").
 * The caller owns the message object (DestroyMessageObject). */
TBX_EXTERN(long) MessageFactory_CreatePayInit(void* factory, void** message);

/* Verifies a confirmation received from the host (XML text `data`, hexadecimal `signature`) with
 * the host's public key named by its KEYID and returns it in *message (caller-owned). Only a
 * message whose MSGTYPE is "PayConfirm", signed under the host key that config.xml names
 * (VTKEYID), verifies: another type, the store's current key or a KEYID with an entry in
 * keys/private/ (the merchant's own keys, whose signatures every shopper sees on offers), and a
 * host key file that is a symbolic link or holds the merchant's current public key, are
 * refused with TBX_E_INVALID_SIGNATURE, the reason in TBX_GetLastErrorMessage. A signature text
 * of another length than twice the key's size in bytes, or a stored key that anyone could sign
 * for (public exponent 1 or even, an even modulus, outside 512 to 4096 bits), gives
 * TBX_E_INVALID_KEY_BLOB. */
TBX_EXTERN(long)
MessageFactory_VerifyPayConfirm(void* factory, const char* data, const char* signature,
                                void** message);

/* MessageFactory_VerifyPayConfirm, and then the confirmation must belong to the order: its TOKEN,
 * AMOUNT and CURRENCY must equal `token`, `amount` and `currency` byte for byte ("1560", not
 * "15.60"). A signature, key or message that does not verify gives the codes of
 * MessageFactory_VerifyPayConfirm, checked first. A genuine confirmation of another order (its
 * token, or a cheaper amount, or another currency) gives TBX_E_ORDER_MISMATCH; the message in
 * TBX_GetLastErrorMessage names the attribute, with both values for AMOUNT and CURRENCY (never a
 * TOKEN's). An empty or null `token`, `amount` or `currency` gives TBX_E_INVALID_ARGUMENT. On any
 * failure no object is handed out; on success *confirmation is caller-owned. */
TBX_EXTERN(long)
MessageFactory_VerifyPayConfirmForOrder(void* factory, const char* data, const char* signature,
                                        const char* token, const char* amount, const char* currency,
                                        void** confirmation);

/* A new PayComplete (capture) request for transaction `id` and `token` in *message
 * (caller-owned); send it with MessageObject_Capture. */
TBX_EXTERN(long)
MessageFactory_CreatePayComplete(void* factory, const char* id, const char* token, void** message);

/* A new general request of type `messageType` (sent as messageType + "Request") in *message
 * (caller-owned); send it with MessageObject_Execute. An empty or null type gives
 * TBX_E_INVALID_ARGUMENT. */
TBX_EXTERN(long)
MessageFactory_CreateRequest(void* factory, const char* messageType, void** message);

/* ---- Message object: one payment message. ---- */

/* A new empty message object, or null when memory runs out. Open it (MessageObject_Open) before
 * use. Release it with DestroyMessageObject. */
TBX_EXTERN(void*) CreateMessageObject(void);

/* Destroys a message object. Null, unknown and already destroyed handles are ignored. */
TBX_EXTERN(void) DestroyMessageObject(void* message);

/* Binds the object to a configuration store ("" or null: the current directory), typically before
 * MessageObject_FromString. Fails with TBX_E_NO_KEY_ID when the store has no current key. */
TBX_EXTERN(long) MessageObject_Open(void* message, const char* configPath);

/* Sets (adds or replaces) one attribute. A name that is empty or holds other characters than
 * letters, digits, '.', '-' and '_' gives TBX_E_INVALID_ARGUMENT and changes nothing; so does a
 * new value for MSGTYPE or KEYID of a message the factory built (its type and its signing key
 * stay as the factory set them). */
TBX_EXTERN(long) MessageObject_SetAttribute(void* message, const char* name, const char* value);

/* The value of one attribute (measure-then-fetch). A missing attribute gives TBX_E_ITEM_NOT_FOUND
 * and leaves *length unchanged. */
TBX_EXTERN(long)
MessageObject_GetAttribute(void* message, const char* name, long* length, char* buffer);

/* The names of the message's attributes, in order, each followed by a NUL byte
 * (measure-then-fetch; *size counts the final terminating NUL too, so "A\0B\0" comes as the
 * five bytes "A\0B\0\0" and a message without attributes as one NUL byte). A message object
 * that holds no message gives TBX_E_UNEXPECTED. */
TBX_EXTERN(long) MessageObject_GetAttributeNames(void* message, long* size, char* buffer);

/* The signed payment-offer URL of a message built by the factory (measure-then-fetch). Other
 * messages (verified, restored, responses) give TBX_E_UNEXPECTED. While the message is unchanged
 * the URL built last is handed back as it is (the signature would be the same), so measuring and
 * fetching sign once and give the same URL; any change to the message builds it anew. */
TBX_EXTERN(long) MessageObject_GetURL(void* message, long* length, char* buffer);

/* Sends a PayComplete message to the host's capture endpoint and checks the answer. A refusal gives
 * TBX_E_HOST_ERROR; the host's reason is then in TBX_GetLastErrorMessage. */
TBX_EXTERN(long) MessageObject_Capture(void* message);

/* Sends the message as a general request and returns the host's answer as a new message object in
 * *response (caller-owned; readable with MessageObject_GetAttribute). On failure no object is
 * created and *response is untouched. */
TBX_EXTERN(long) MessageObject_Execute(void* message, void** response);

/* Replaces the message with one saved by MessageObject_ToString; the object must have been opened.
 * KEYID becomes the store's current key. A text that does not parse gives TBX_E_INVALID_FORMAT and
 * leaves the message as it was; on a message the factory built, a text of another MSGTYPE gives
 * TBX_E_INVALID_ARGUMENT and changes nothing. */
TBX_EXTERN(long) MessageObject_FromString(void* message, const char* text);

/* The message as XML text, for saving (measure-then-fetch). */
TBX_EXTERN(long) MessageObject_ToString(void* message, long* length, char* buffer);

#ifdef __cplusplus
}
#endif

#endif /* TBXAPP_H */
