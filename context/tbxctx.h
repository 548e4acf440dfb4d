/*
 * tbxctx.h - one opened configuration store of a merchant account, as the rest of the library
 * uses it: a facade whose operations each forward to one of four collaborators, declared
 * beneath it in their own headers:
 *
 *   TBX_Store         (tbxstore.h)    the store's location, values and files, and the reading of
 *                                     files and URLs with its transport settings;
 *   TBX_Keys          (tbxkeys.h)     key pairs, signatures and their text forms;
 *   TBX_HostExchange  (tbxexchange.h) one request to the host and its checked answer, with the
 *                                     credentials of the requests;
 *   TBX_Setup         (tbxsetup.h)    bringing the store into working order against the host.
 *
 * A local file is looked at on every read and read again when it changed (the thread's
 * snapshot, tbxsnapshot.h, keeps what unchanged files said). Every change rewrites the whole
 * file, atomically (a crash leaves the old or the new file, never a mix). Every writer holds the
 * store's lock (TBX_Store::WriteLock) across its whole read-change-write, so that writers in
 * other processes and threads, on any path to the same directory, never lose each other's
 * changes; readers take no lock.
 *
 * Calls go downwards only: set-up uses the exchange, the keys and the store; the exchange the
 * keys and the store; the keys the store. No collaborator includes this header.
 */
#ifndef TBXCTX_H
#define TBXCTX_H

#include "mvstring.h"
#include "tbxexchange.h"
#include "tbxkeys.h"
#include "tbxsetup.h"
#include "tbxstore.h"
#include "tbxxml.h"

class TBX_Context
{
public:
  TBX_Context() : m_Keys(m_Store), m_Exchange(m_Store, m_Keys), m_Setup(m_Store, m_Keys, m_Exchange)
  {}
  /* A copy has the other's store path and options; its collaborators know each other, never
   * those of the original. */
  TBX_Context(const TBX_Context& other) : TBX_Context() { *this = other; }
  TBX_Context& operator=(const TBX_Context& other)
  {
    m_Store = other.m_Store;
    m_Exchange = other.m_Exchange;
    m_Setup = other.m_Setup;
    return *this;
  }

  /* ---- The store (tbxstore.h) ---------------------------------------------------------- */

  using Presence = TBX_Store::Presence;

  void Open(const MvString& path) { m_Store.Open(path); }
  MvString GetPath() const { return m_Store.GetPath(); }
  bool QueryValue(const MvString& file, const MvString& name, MvString& value)
  {
    return m_Store.QueryValue(file, name, value);
  }
  bool QueryAttributes(const MvString& file, const char* const* names, MvString& values)
  {
    return m_Store.QueryAttributes(file, names, values);
  }
  static bool NextAttribute(const MvString& values, unsigned& at, MvString& name, MvString& value)
  {
    return TBX_Store::NextAttribute(values, at, name, value);
  }
  bool QueryValue(const MvString& file, unsigned char* buffer, unsigned long& length)
  {
    return m_Store.QueryValue(file, buffer, length);
  }
  Presence Probe(const MvString& file) { return m_Store.Probe(file); }
  void SetValue(const MvString& file, const MvString& name, const MvString& value, bool create)
  {
    m_Store.SetValue(file, name, value, create);
  }
  void UpdateFile(const MvString& file, const MvString& text) { m_Store.UpdateFile(file, text); }
  void UpdateFile(const MvString& file, const unsigned char* buffer, unsigned long length)
  {
    m_Store.UpdateFile(file, buffer, length);
  }
  void StreamFromURL(const MvString& location, MvStringStream& out)
  {
    m_Store.StreamFromURL(location, out);
  }

  static void CreatePath(const MvString& dir) { TBX_Store::CreatePath(dir); }
  static MvString GetDefaultConfiguration() { return TBX_Store::GetDefaultConfiguration(); }
  static MvString CreateUuid() { return TBX_Store::CreateUuid(); }
  static void LogMessage(const MvString& text) { TBX_Store::LogMessage(text); }

  /* ---- XML documents (tbxxml.h; no store needed) --------------------------------------- */

  static void XmlFromStream(MvStringStream& in, xmlElement** element)
  {
    TBX_XmlFromStream(in, element);
  }
  static void XmlFromString(const MvString& text, xmlElement** element)
  {
    TBX_XmlFromString(text, element);
  }
  static void XmlFromText(const char* text, size_t length, xmlElement** element)
  {
    TBX_XmlFromText(text, length, element);
  }
  static void XmlCreateRequest(const MvString& type, xmlElement** element)
  {
    TBX_XmlCreateRequest(type, element);
  }
  static void CheckResponseMsgType(xmlElement* response, const MvString& expected)
  {
    TBX_CheckResponseMsgType(response, expected);
  }

  /* ---- Keys and signatures (tbxkeys.h) ------------------------------------------------- */

  void GenKey(const MvString& keyId) { m_Keys.GenKey(keyId); }
  void SignData(const MvString& data, const MvString& keyId, MvString& signature)
  {
    m_Keys.SignData(data, keyId, signature);
  }
  void VerifyData(const MvString& data, const MvString& keyId, const MvString& signature,
                  MvString* keyText = nullptr)
  {
    m_Keys.VerifyData(data, keyId, signature, keyText);
  }
  bool ReadPublicKey(const MvString& keyId, MvString& keyText, bool followLink)
  {
    return m_Keys.ReadPublicKey(keyId, keyText, followLink);
  }
  void VerifyWithPublicKey(const MvString& data, const MvString& keyId, const MvString& keyText,
                           const MvString& signature)
  {
    m_Keys.VerifyWithPublicKey(data, keyId, keyText, signature);
  }
  bool IsOwnPublicKey(const MvString& keyText, const MvString& currentKeyId)
  {
    return m_Keys.IsOwnPublicKey(keyText, currentKeyId);
  }
  static bool IsPublicKeyText(const MvString& text) { return TBX_Keys::IsPublicKeyText(text); }
  static MvString BufferToHex(const unsigned char* buffer, unsigned long length)
  {
    return TBX_Keys::BufferToHex(buffer, length);
  }
  static long HexToBuffer(MvString text, unsigned char* buffer, unsigned long& length)
  {
    return TBX_Keys::HexToBuffer(text, buffer, length);
  }
  static MvString Encode(const MvString& text) { return TBX_Keys::Encode(text); }
  static void SlToBackSl(MvString& text) { TBX_Keys::SlToBackSl(text); }

  /* ---- Exchanges with the host (tbxexchange.h) ----------------------------------------- */

  void RequestToURL(const MvString& endpoint, MvStringStream& request, MvString signature,
                    MvString& url, const char* setting = nullptr)
  {
    TBX_HostExchange::RequestToURL(endpoint, request, signature, url, setting);
  }
  void Exchange(const MvString& endpoint, const char* setting, xmlElement* request,
                const MvString* keyId, const MvString& expected, xmlElementPtr& response,
                MvString* answerText = nullptr)
  {
    m_Exchange.Send(endpoint, setting, request, keyId, expected, response, answerText);
  }

  /* ---- Set-up against the host (tbxsetup.h) -------------------------------------------- */

  void SetOption(const MvString& name, const MvString& value) { m_Setup.SetOption(name, value); }
  void Reconfigure() { m_Setup.Reconfigure(); }
  void Setup() { m_Setup.Setup(); }
  void ImportKey(MvString& keyId) { m_Setup.ImportKey(keyId); }
  void LoadDefaults() { m_Setup.LoadDefaults(); }
  void PublishKey(const MvString& keyId) { m_Setup.PublishKey(keyId); }

private:
  TBX_Store m_Store;
  TBX_Keys m_Keys;
  TBX_HostExchange m_Exchange;
  TBX_Setup m_Setup;
};

#endif /* TBXCTX_H */
