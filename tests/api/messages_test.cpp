// The message factory and message object through the exported functions, against stores built at
// test time and a scripted host on 127.0.0.1.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <memory>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <sys/mman.h>
#include <unistd.h>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "KrptSign.h"
#include "cMessageFactory.h"
#include "tbxmsgtype.h"
#include "loopback_server.h"
#include "tbxapp.h"
#include "tbxgate.h"
#include "test_store.h"

using tbxtest::LoopbackServer;
using tbxtest::StoreOptions;
using tbxtest::TestStore;

namespace {

std::string Hex(long code)
{
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(code) & 0xFFFFFFFFul);
  return text;
}

std::string LastError()
{
  long length = 0;
  TBX_GetLastErrorMessage(&length, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  TBX_GetLastErrorMessage(&length, &text[0]);
  text.resize(static_cast<size_t>(length > 0 ? length - 1 : 0));
  return text;
}

// Explains a failing call with its code and the thread's last error message.
#define CHECK_CODE(expected, call)                                                                 \
  do {                                                                                             \
    const long result_ = (call);                                                                   \
    ASSERT_EQ(Hex(result_), Hex(expected)) << #call << ": " << LastError();                        \
  } while (0)
#define CHECK_OK(call) CHECK_CODE(TBX_OK, call)

// Measure, then fetch; the result of the fetch in `result`.
std::string Fetch(const std::function<long(long*, char*)>& call, long* result = nullptr)
{
  long length = 0;
  long r = call(&length, nullptr);
  if (r == TBX_E_BUFFER_TOO_SMALL && length > 0) {
    std::string text(static_cast<size_t>(length), '\0');
    r = call(&length, &text[0]);
    if (result != nullptr)
      *result = r;
    text.resize(static_cast<size_t>(length) - 1);
    return r == TBX_OK ? text : std::string();
  }
  if (result != nullptr)
    *result = r;
  return std::string();
}

std::string Attribute(void* message, const char* name, long* result = nullptr)
{
  return Fetch([&](long* l, char* b) { return MessageObject_GetAttribute(message, name, l, b); },
               result);
}

std::string Url(void* message, long* result = nullptr)
{
  return Fetch([&](long* l, char* b) { return MessageObject_GetURL(message, l, b); }, result);
}

std::string Text(void* message, long* result = nullptr)
{
  return Fetch([&](long* l, char* b) { return MessageObject_ToString(message, l, b); }, result);
}

unsigned long LiveMessages()
{
  return TBX_HandleRegistry::Count(TBX_HANDLE_MESSAGE_OBJECT);
}

// Attribute names and values of the first element of an XML text, in order (values as written,
// still encoded). The texts here are the library's own compact form: name="value" pairs.
std::vector<std::pair<std::string, std::string>> Attributes(const std::string& xml)
{
  std::vector<std::pair<std::string, std::string>> out;
  const std::string head = xml.substr(0, xml.find('>'));
  size_t pos = 0;
  for (;;) {
    const size_t eq = head.find("=\"", pos);
    if (eq == std::string::npos)
      break;
    const size_t nameStart = head.rfind(' ', eq) + 1;
    const size_t end = head.find('"', eq + 2);
    if (end == std::string::npos)
      break;
    out.emplace_back(head.substr(nameStart, eq - nameStart), head.substr(eq + 2, end - eq - 2));
    pos = end + 1;
  }
  return out;
}

bool IsLowerHex(const std::string& s, size_t length)
{
  if (s.size() != length)
    return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
      return false;
  return true;
}

// Letters and digits as they are, every other byte as %hh in lower case.
bool IsDataEncoding(const std::string& s)
{
  for (size_t i = 0; i < s.size(); ++i) {
    if (std::isalnum(static_cast<unsigned char>(s[i])))
      continue;
    if (s[i] != '%' || !IsLowerHex(s.substr(i + 1, 2), 2))
      return false;
    i += 2;
  }
  return !s.empty();
}

std::string UtcText(time_t t)
{
  struct tm utc;
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d %H:%M:%S", &utc);
  return text;
}

// A factory opened on a store, destroyed at the end.
struct Factory
{
  explicit Factory(const std::string& path) : handle(CreateMessageFactory())
  {
    EXPECT_EQ(MessageFactory_Open(handle, path.c_str()), TBX_OK);
  }
  ~Factory() { DestroyMessageFactory(handle); }
  void* handle;
};

// A message handle destroyed at the end.
struct Message
{
  Message() = default;
  ~Message() { DestroyMessageObject(handle); }
  void* handle = nullptr;
};

class Messages : public ::testing::Test
{
protected:
  void SetUp() override { m_Live = LiveMessages(); }
  void TearDown() override { EXPECT_EQ(LiveMessages(), m_Live) << "message objects leaked"; }
  unsigned long m_Live = 0;
};

// ---- Offers -------------------------------------------------------------------------------

TEST_F(Messages, OfferUrlCheckedFromOutside)
{
  TestStore store;
  Factory factory(store.Path());
  Message offer;
  const time_t before = std::time(nullptr);
  CHECK_OK(MessageFactory_CreatePayInit(factory.handle, &offer.handle));
  const time_t after = std::time(nullptr);
  CHECK_OK(MessageObject_SetAttribute(offer.handle, "AMOUNT", "1560"));
  CHECK_OK(MessageObject_SetAttribute(offer.handle, "CURRENCY", "EUR"));
  CHECK_OK(MessageObject_SetAttribute(offer.handle, "DESCRIPTION", "Tea & <biscuits> \"fine\""));
  CHECK_OK(MessageObject_SetAttribute(offer.handle, "LANGID", "EN"));  // replaces, keeps its place

  long result = 0;
  const std::string url = Url(offer.handle, &result);
  CHECK_OK(result);

  const std::string base = "https://pay.example.test/vt/payinit?DATA=";
  ASSERT_EQ(url.compare(0, base.size(), base), 0) << url;
  const size_t sig = url.find("&SIGNATURE=");
  ASSERT_NE(sig, std::string::npos);
  const std::string encoded = url.substr(base.size(), sig - base.size());
  const std::string signature = url.substr(sig + 11);

  // Letters and digits stay, everything else is %hh in lower case.
  EXPECT_TRUE(IsDataEncoding(encoded)) << encoded;
  EXPECT_EQ(encoded.compare(0, 3, "%3c"), 0);
  EXPECT_TRUE(IsLowerHex(signature, 128)) << signature;

  std::string data;
  ASSERT_TRUE(tbxtest::PercentDecode(encoded, data));
  EXPECT_TRUE(store.VerifyMerchant(data, signature)) << data;
  EXPECT_FALSE(store.VerifyMerchant(data + " ", signature));

  const auto attrs = Attributes(data);
  std::vector<std::string> names;
  for (const auto& a : attrs)
    names.push_back(a.first);
  // MSGTYPE, KEYID, TOKEN, the defaults in AttributeNames order (AMOUNT of default.xml is not
  // one of them), EXPIRATION, then the caller's.
  const std::vector<std::string> expected = {"MSGTYPE",  "KEYID",      "TOKEN",      "ALLOWCOLLECT",
                                             "LANGID",   "FAILLINK",   "EXPIRATION", "AMOUNT",
                                             "CURRENCY", "DESCRIPTION"};
  EXPECT_EQ(names, expected) << data;
  ASSERT_EQ(attrs.size(), expected.size());
  EXPECT_EQ(attrs[0].second, "PayInit");
  EXPECT_EQ(attrs[1].second, store.MerchantKeyId());
  EXPECT_TRUE(IsLowerHex(attrs[2].second, 32));
  EXPECT_EQ(attrs[3].second, "no");
  EXPECT_EQ(attrs[4].second, "EN");
  EXPECT_EQ(attrs[5].second, "https://shop.test/fail");
  EXPECT_TRUE(attrs[6].second == UtcText(before + 86400) ||
              attrs[6].second == UtcText(after + 86400))
      << attrs[6].second;
  EXPECT_EQ(attrs[7].second, "1560");
  EXPECT_EQ(attrs[9].second, "Tea &amp; &lt;biscuits&gt; &quot;fine&quot;");
  EXPECT_EQ(Attribute(offer.handle, "DESCRIPTION"), "Tea & <biscuits> \"fine\"");
  EXPECT_EQ(data.compare(data.size() - 2, 2, "/>"), 0) << data;
}

// Measure-then-fetch of an unchanged offer signs once and gives one URL, even when the store
// changes in between; a changed message is built anew from the store as it is then, a replaced
// key file included (the decoded-key cache goes by the key's bytes).
TEST_F(Messages, UrlOfAnUnchangedOfferIsReused)
{
  TestStore store;
  Factory factory(store.Path());
  Message offer;
  CHECK_OK(MessageFactory_CreatePayInit(factory.handle, &offer.handle));
  CHECK_OK(MessageObject_SetAttribute(offer.handle, "AMOUNT", "1560"));
  const std::string first = Url(offer.handle);
  ASSERT_FALSE(first.empty());

  // A fresh merchant key in place of the old one; answers its public half.
  auto replaceKey = [&] {
    unsigned char pub[KRPT_KEY_BUFFER_SIZE], priv[KRPT_KEY_BUFFER_SIZE];
    int pubLength = sizeof pub, privLength = sizeof priv;
    EXPECT_EQ(0, KRPT_GenerateKeys(pub, &pubLength, priv, &privLength, nullptr, 0));
    store.Write("keys/private/" + store.MerchantKeyId(),
                tbxtest::ToHex(std::vector<unsigned char>(priv, priv + privLength)));
    return std::vector<unsigned char>(pub, pub + pubLength);
  };
  replaceKey();
  std::string config = store.Read("config.xml");
  const std::string oldBase = "https://pay.example.test/", newBase = "https://pay2.example.test/";
  config.replace(config.find(oldBase), oldBase.size(), newBase);
  store.Write("config.xml", config);
  EXPECT_EQ(Url(offer.handle), first);

  const struct
  {
    const char* step;
    std::function<long()> change;
  } changes[] = {
      {"SetAttribute", [&] { return MessageObject_SetAttribute(offer.handle, "AMOUNT", "1560"); }},
      {"FromString",
       [&] { return MessageObject_FromString(offer.handle, Text(offer.handle).c_str()); }},
  };
  for (const auto& c : changes) {
    const std::vector<unsigned char> pub = replaceKey();
    CHECK_OK(c.change());  // the same content: only the key differs
    const std::string url = Url(offer.handle);
    EXPECT_EQ(url.compare(0, newBase.size(), newBase), 0) << c.step << ": " << url;
    std::string data, signature;
    ASSERT_TRUE(tbxtest::SplitRequest(url, data, signature)) << c.step;
    std::vector<unsigned char> sig;
    ASSERT_TRUE(tbxtest::FromHex(signature, sig));
    const std::vector<unsigned char> wide = tbxtest::Widen(data);
    EXPECT_EQ(0, KRPT_Verify(pub.data(), static_cast<int>(pub.size()), wide.data(), wide.size(),
                             sig.data(), sig.size()))
        << c.step << ": not signed with the key now in the store";
  }

  // A general request renames the message (MSGTYPE + "Request") even when the host is not
  // reached; the next URL carries the new name.
  void* response = nullptr;
  EXPECT_LT(MessageObject_Execute(offer.handle, &response), 0);
  std::string data, signature;
  ASSERT_TRUE(tbxtest::SplitRequest(Url(offer.handle), data, signature));
  EXPECT_EQ(Attributes(data).at(0).second, "PayInitRequest") << data;
}

TEST_F(Messages, OfferTokensAreFreshAndWithoutDefaultsFileStillComplete)
{
  StoreOptions options;
  options.defaults.clear();
  TestStore store(options);
  Factory factory(store.Path());
  std::set<std::string> tokens;
  for (int i = 0; i < 20; ++i) {
    Message offer;
    CHECK_OK(MessageFactory_CreatePayInit(factory.handle, &offer.handle));
    tokens.insert(Attribute(offer.handle, "TOKEN"));
    long r = 0;
    Attribute(offer.handle, "LANGID", &r);
    EXPECT_EQ(Hex(r), Hex(TBX_E_ITEM_NOT_FOUND));
    EXPECT_EQ(Attribute(offer.handle, "EXPIRATION").size(), 17u);
  }
  EXPECT_EQ(tokens.size(), 20u);
}

TEST(Expiration, TimeToLiveRules)
{
  struct Case
  {
    const char* ttl;
    long long now;
    const char* text;  // null: refused with TBX_E_INVALID_FORMAT
  };
  const Case cases[] = {
      {"86400", 0, "19700102 00:00:00"},
      {"3600.9", 0, "19700101 01:00:00"},
      {" 60\t", 0, "19700101 00:01:00"},
      {"1", 253402300798LL, "99991231 23:59:59"},
      // Anything that is not a lifetime of a second or more would make offers that expire at once.
      {"-3600.9", 7200, nullptr},
      {"one day", 1700000000, nullptr},
      {"abc", 1700000000, nullptr},
      {"  60xyz", 0, nullptr},
      {"0x10", 0, nullptr},
      {"0.9", 0, nullptr},
      {"", 0, nullptr},
      {"2", 253402300798LL, nullptr},
      {"1e300", 0, nullptr},
      {"-1e300", 0, nullptr},
      {"inf", 0, nullptr},
      {"-infinity", 0, nullptr},
      {"nan", 0, nullptr},
      {"1", -62167219201LL, "00000101 00:00:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ttl);
    if (c.text != nullptr) {
      EXPECT_EQ(std::string(TBX_ExpirationText(c.now, MvString(c.ttl)).c_str()), c.text);
    } else {
      try {
        TBX_ExpirationText(c.now, MvString(c.ttl));
        ADD_FAILURE() << "accepted";
      } catch (const TBX_Exception& e) {
        EXPECT_EQ(Hex(e.m_Result), Hex(TBX_E_INVALID_FORMAT));
        EXPECT_NE(std::string(e.m_Message.c_str()).find("PAYINITTTL"), std::string::npos);
      }
    }
  }
}

TEST_F(Messages, StoreTimeToLiveAppliesAndBadOnesCreateNothing)
{
  StoreOptions options;
  options.defaults = "PAYINITTTL=\"3600.9\"";
  TestStore store(options);
  Factory factory(store.Path());
  Message offer;
  const time_t before = std::time(nullptr);
  CHECK_OK(MessageFactory_CreatePayInit(factory.handle, &offer.handle));
  const std::string expiration = Attribute(offer.handle, "EXPIRATION");
  EXPECT_TRUE(expiration == UtcText(before + 3600) || expiration == UtcText(before + 3601))
      << expiration;

  for (const char* ttl : {"nan", "1e19", "inf"}) {
    store.Write("default.xml", std::string("<TBX PAYINITTTL=\"") + ttl + "\"/>");
    void* out = reinterpret_cast<void*>(0x1);
    CHECK_CODE(TBX_E_INVALID_FORMAT, MessageFactory_CreatePayInit(factory.handle, &out));
    EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
  }
  store.Write("default.xml", "not xml");
  void* out = nullptr;
  CHECK_CODE(TBX_E_INVALID_FORMAT, MessageFactory_CreatePayInit(factory.handle, &out));
  EXPECT_EQ(out, nullptr);
}

// Each offer takes default.xml as it is when the offer is made, values decoded as the file holds
// them: an empty value is still a value, and a rewrite shows in the next offer.
TEST_F(Messages, OfferDefaultsAreDefaultXmlAsItIsNow)
{
  struct Case
  {
    const char* defaults;  // attributes of default.xml's TBX element
    const char* langId;    // the offer's LANGID; null: the offer has none
    const char* successLink;
  };
  const Case cases[] = {
      {"LANGID=\"de\" SUCCESSLINK=\"https://s.test/ok\"", "de", "https://s.test/ok"},
      {"LANGID=\"fr\" SUCCESSLINK=\"https://s.test/ok\"", "fr", "https://s.test/ok"},
      {"LANGID=\"\" SUCCESSLINK=\"https://s.test/?a=1&amp;b=&quot;2&quot;\"", "",
       "https://s.test/?a=1&b=\"2\""},
      {"SUCCESSLINK=\"x\"", nullptr, "x"},
  };
  TestStore store;
  Factory factory(store.Path());
  for (const Case& c : cases) {
    store.Write("default.xml", std::string("<TBX ") + c.defaults + "/>");
    Message offer;
    CHECK_OK(MessageFactory_CreatePayInit(factory.handle, &offer.handle));
    long result = TBX_OK;
    const std::string langId = Attribute(offer.handle, "LANGID", &result);
    if (c.langId == nullptr) {
      EXPECT_EQ(result, TBX_E_ITEM_NOT_FOUND) << c.defaults;
    } else {
      EXPECT_EQ(result, TBX_OK) << c.defaults;
      EXPECT_EQ(langId, c.langId) << c.defaults;
    }
    EXPECT_EQ(Attribute(offer.handle, "SUCCESSLINK"), c.successLink) << c.defaults;
  }
}

TEST_F(Messages, StoreProblemsSurfaceAtTheOperation)
{
  struct Case
  {
    const char* name;
    std::function<void(TestStore&)> spoil;
    long createCode;   // of CreatePayInit
    long urlCode;      // of GetURL when creation succeeded
    std::string says;  // in the message; after the store's path when it begins with ' ' or '/'
  };
  const Case cases[] = {
      {"no current key",
       [](TestStore& s) {
         s.Write("keys/current", "");
         std::remove((s.Path() + "/keys/current").c_str());
       },
       TBX_E_NO_KEY_ID, TBX_OK,
       " has no keys/current, the key offers are signed with; set the store up first"},
      {"no VTURL", [](TestStore& s) { s.Write("config.xml", "<TBX CAPTUREURL=\"http://x/\"/>"); },
       TBX_OK, TBX_E_NO_CONFIGURATION, " has no VTURL; set the store up first"},
      {"VTURL without scheme",
       [](TestStore& s) { s.Write("config.xml", "<TBX VTURL=\"pay.test/x\"/>"); }, TBX_OK,
       TBX_E_INVALID_URL, "'pay.test/x' is not a URL: it must begin with http://"},
      {"private key missing",
       [](TestStore& s) { std::remove((s.Path() + "/keys/private/" + s.MerchantKeyId()).c_str()); },
       TBX_OK, TBX_E_ITEM_NOT_FOUND, " has no keys/private/"},
      {"private key not hex",
       [](TestStore& s) { s.Write("keys/private/" + s.MerchantKeyId(), "zz"); }, TBX_OK,
       TBX_E_INVALID_KEY_BLOB, "/keys/private/"},
      {"config.xml not XML", [](TestStore& s) { s.Write("config.xml", "VTURL=x"); }, TBX_OK,
       TBX_E_INVALID_FORMAT, "/config.xml is not XML with a TBX element"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestStore store;
    c.spoil(store);
    Factory factory(store.Path());
    Message offer;
    CHECK_CODE(c.createCode, MessageFactory_CreatePayInit(factory.handle, &offer.handle));
    if (c.createCode != TBX_OK) {
      EXPECT_EQ(offer.handle, nullptr);
    } else {
      long r = 0;
      const std::string url = Url(offer.handle, &r);
      EXPECT_EQ(Hex(r), Hex(c.urlCode)) << LastError();
    }
    const bool atStore = c.says[0] == ' ' || c.says[0] == '/';
    EXPECT_NE(LastError().find(atStore ? store.Path() + c.says : c.says), std::string::npos)
        << LastError();
  }
}

TEST_F(Messages, MissingStoreDirectoryIsCreatedThenHasNoKey)
{
  const std::string parent = tbxtest::MakeTempDir("nostore");
  const std::string path = parent + "/store";
  Factory factory(path);
  Message offer;
  CHECK_CODE(TBX_E_NO_KEY_ID, MessageFactory_CreatePayInit(factory.handle, &offer.handle));
  EXPECT_EQ(offer.handle, nullptr);
  tbxtest::RemoveTree(parent);
}

// ---- Confirmations ------------------------------------------------------------------------

std::string Confirmation(const std::string& keyId)
{
  return "<TBX MSGTYPE=\"PayConfirm\" KEYID=\"" + keyId +
         "\" ID=\"7a1b9c\" TOKEN=\"0123456789abcdef0123456789abcdef\" AMOUNT=\"1560\" "
         "CURRENCY=\"EUR\" STATUS=\"authorised\"/>";
}

TEST_F(Messages, ConfirmationSignedByTheHostVerifies)
{
  TestStore store;
  Factory factory(store.Path());
  const std::string data = Confirmation(store.HostKeyId());
  Message confirmed;
  CHECK_OK(MessageFactory_VerifyPayConfirm(factory.handle, data.c_str(),
                                           store.SignAsHost(data).c_str(), &confirmed.handle));
  EXPECT_EQ(Attribute(confirmed.handle, "ID"), "7a1b9c");
  EXPECT_EQ(Attribute(confirmed.handle, "KEYID"), store.HostKeyId());
  EXPECT_EQ(Attribute(confirmed.handle, "CONFIGPATH"), store.Path());
  long r = 0;
  Url(confirmed.handle, &r);
  EXPECT_EQ(Hex(r), Hex(TBX_E_UNEXPECTED));
}

TEST_F(Messages, AnyChangedByteOfDataOrSignatureFails)
{
  TestStore store;
  Factory factory(store.Path());
  const std::string data = Confirmation(store.HostKeyId());
  const std::string signature = store.SignAsHost(data);
  const size_t keyStart = data.find(store.HostKeyId());
  const size_t keyEnd = keyStart + store.HostKeyId().size();

  int tried = 0;
  bool inValue = false;
  for (size_t i = 0; i < data.size(); ++i) {
    // Change only bytes of attribute values other than the key identifier, so the text still
    // parses and names the same key: what is left to catch the change is the signature.
    const char c = data[i];
    if (c == '"') {
      inValue = !inValue;
      continue;
    }
    if (!inValue || (i >= keyStart && i < keyEnd))
      continue;
    std::string changed = data;
    changed[i] = c == 'a' ? 'b' : 'a';
    void* out = nullptr;
    const long r =
        MessageFactory_VerifyPayConfirm(factory.handle, changed.c_str(), signature.c_str(), &out);
    EXPECT_EQ(Hex(r), Hex(TBX_E_INVALID_SIGNATURE)) << changed;
    EXPECT_EQ(out, nullptr);
    ++tried;
  }
  EXPECT_GT(tried, 50);
  for (size_t i = 0; i < signature.size(); ++i) {
    std::string changed = signature;
    changed[i] = signature[i] == '0' ? '1' : '0';
    void* out = nullptr;
    const long r =
        MessageFactory_VerifyPayConfirm(factory.handle, data.c_str(), changed.c_str(), &out);
    EXPECT_EQ(Hex(r), Hex(TBX_E_INVALID_SIGNATURE)) << i;
    EXPECT_EQ(out, nullptr);
  }
}

// `prefix`, then 4 GiB of 'x', then the terminator: a text whose length wraps to the prefix's in
// 32 bits. The 'x' are one 2 MiB page set mapped over and over, so it costs little memory.
class WrappingText
{
public:
  explicit WrappingText(const std::string& prefix)
  {
    const size_t size = prefix.size() + (size_t(1) << 32) + 1;
    const size_t chunk = size_t(2) << 20;
    m_Mapped = (size + chunk - 1) / chunk * chunk;
    void* base =
        mmap(nullptr, m_Mapped, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    const int fd = memfd_create("wrapping-text", MFD_CLOEXEC);
    const std::string filler(chunk, 'x');
    if (base == MAP_FAILED || fd < 0 ||
        write(fd, filler.data(), chunk) != static_cast<ssize_t>(chunk))
      throw std::runtime_error("cannot make a wrapping text");
    m_Text = static_cast<char*>(base);
    for (size_t at = 0; at < m_Mapped; at += chunk) {
      if (mmap(m_Text + at, chunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, fd, 0) ==
          MAP_FAILED)
        throw std::runtime_error("cannot make a wrapping text");
    }
    close(fd);
    std::memcpy(m_Text, prefix.data(), prefix.size());
    m_Text[size - 1] = '\0';
  }
  ~WrappingText() { munmap(m_Text, m_Mapped); }
  const char* c_str() const { return m_Text; }

private:
  size_t m_Mapped = 0;
  char* m_Text = nullptr;
};

TEST_F(Messages, TextsOfFourGibibytesAreRefusedNotCut)
{
  // Cut to 32 bits, the text would be a whole confirmation that verifies.
  TestStore store;
  Factory factory(store.Path());
  const std::string data = Confirmation(store.HostKeyId());
  const WrappingText longData(data);
  Message confirmed;
  EXPECT_EQ(Hex(MessageFactory_VerifyPayConfirm(factory.handle, longData.c_str(),
                                                store.SignAsHost(data).c_str(), &confirmed.handle)),
            Hex(TBX_E_OUT_OF_MEMORY));
  Message saved;
  CHECK_OK(MessageFactory_CreatePayInit(factory.handle, &saved.handle));
  EXPECT_EQ(Hex(MessageObject_FromString(saved.handle, longData.c_str())),
            Hex(TBX_E_OUT_OF_MEMORY));
}

TEST_F(Messages, ConfirmationRefusals)
{
  TestStore store;
  Factory factory(store.Path());
  const std::string good = Confirmation(store.HostKeyId());

  // An offer handed back as a "confirmation": signed by the merchant, verifiable with the
  // merchant's public key in the store, and refused.
  Message offer;
  CHECK_OK(MessageFactory_CreatePayInit(factory.handle, &offer.handle));
  const std::string url = Url(offer.handle);
  std::string offerData, offerSignature;
  ASSERT_TRUE(tbxtest::SplitRequest(url.substr(url.find('?')), offerData, offerSignature));
  ASSERT_TRUE(store.VerifyMerchant(offerData, offerSignature));

  struct Case
  {
    const char* name;
    std::string data;
    std::string signature;
    long code;
  };
  const std::string noKey = "<TBX MSGTYPE=\"PayConfirm\" ID=\"1\"/>";
  const std::string emptyKey = "<TBX MSGTYPE=\"PayConfirm\" KEYID=\"\"/>";
  const std::string unknown = Confirmation("VT-unknown");
  const std::string escape = Confirmation("../public/" + store.HostKeyId());
  const std::string absolute = Confirmation("/etc/passwd");
  const Case cases[] = {
      {"offer handed back", offerData, offerSignature, TBX_E_INVALID_SIGNATURE},
      {"empty signature", good, "", TBX_E_MISSING_SIGNATURE},
      {"signature not hex", good, "xyz", TBX_E_INVALID_KEY_BLOB},
      {"missing KEYID", noKey, store.SignAsHost(noKey), TBX_E_NO_KEY_ID},
      {"empty KEYID", emptyKey, store.SignAsHost(emptyKey), TBX_E_NO_KEY_ID},
      {"unknown key", unknown, store.SignAsHost(unknown), TBX_E_ITEM_NOT_FOUND},
      {"key outside keys/public", escape, store.SignAsHost(escape), TBX_E_NO_KEY_ID},
      {"absolute key path", absolute, store.SignAsHost(absolute), TBX_E_NO_KEY_ID},
      {"not XML", "PayConfirm", "00", TBX_E_INVALID_FORMAT},
      {"no TBX element", "<X KEYID=\"VT-1\"/>", "00", TBX_E_INVALID_FORMAT},
      {"empty data", "", "00", TBX_E_INVALID_FORMAT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* out = reinterpret_cast<void*>(0x1);
    CHECK_CODE(c.code, MessageFactory_VerifyPayConfirm(factory.handle, c.data.c_str(),
                                                       c.signature.c_str(), &out));
    EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
  }
  void* out = nullptr;
  CHECK_CODE(TBX_E_MISSING_SIGNATURE,
             MessageFactory_VerifyPayConfirm(factory.handle, good.c_str(), nullptr, &out));
  CHECK_CODE(TBX_E_INVALID_FORMAT,
             MessageFactory_VerifyPayConfirm(factory.handle, nullptr, "00", &out));
}

// What a shopper or anyone on the path could hand in as a confirmation, each on a store of its
// own: messages the host signed that are not confirmations, keys that let anyone sign, texts of
// another length than the key, and the merchant's own offers under every state of its keys.
TEST_F(Messages, OnlyHostSignedConfirmationsUnderSoundKeysVerify)
{
  struct Signed
  {
    std::string data, signature;
  };
  using Make = std::function<Signed(TestStore&, Factory&)>;
  using Change = std::function<void(TestStore&)>;
  auto asHost = [](const std::string& data) {
    return Make([data](TestStore& s, Factory&) { return Signed{data, s.SignAsHost(data)}; });
  };
  auto typed = [](const std::string& type) {
    return "<TBX " + type + "KEYID=\"VT-1\" ID=\"7a1b9c\" AMOUNT=\"1560\"/>";
  };
  // What the merchant's key signs, as the shopper's browser shows it: an offer, and (the worst a
  // shop could do) a general request of the type "PayConfirm".
  auto ownSigned = [](const char* type) {
    return Make([type](TestStore&, Factory& f) {
      Message m;
      if (std::string(type) == "PayInit")
        EXPECT_EQ(MessageFactory_CreatePayInit(f.handle, &m.handle), TBX_OK);
      else
        EXPECT_EQ(MessageFactory_CreateRequest(f.handle, type, &m.handle), TBX_OK);
      const std::string url = Url(m.handle);
      Signed o;
      EXPECT_TRUE(tbxtest::SplitRequest(url.substr(url.find('?')), o.data, o.signature));
      return o;
    });
  };
  const Change none = [](TestStore&) {};
  const Change removeOwnPrivateKey = [](TestStore& s) {
    std::remove((s.Path() + "/keys/private/" + s.MerchantKeyId()).c_str());
  };
  const std::string good = Confirmation("VT-1");
  struct Case
  {
    std::string name;
    Change before;  // before the message is made
    Make make;
    Change after;  // after it was made, before it is verified
    long code;
    std::string reason;
  };
  std::vector<Case> cases = {
      {"genuine", none, asHost(good), none, TBX_OK, ""},
      {"genuine, signature in capitals", none,
       [&](TestStore& s, Factory&) {
         std::string sig = s.SignAsHost(good);
         for (char& c : sig)
           c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
         return Signed{good, sig};
       },
       none, TBX_OK, ""},
      {"host-signed offer", none, asHost(typed("MSGTYPE=\"PayInit\" ")), none,
       TBX_E_INVALID_SIGNATURE, "MSGTYPE is 'PayInit'"},
      {"host-signed error", none, asHost(typed("MSGTYPE=\"Error\" ")), none,
       TBX_E_INVALID_SIGNATURE, "MSGTYPE is 'Error'"},
      {"host-signed refund", none, asHost(typed("MSGTYPE=\"PayRefund\" ")), none,
       TBX_E_INVALID_SIGNATURE, "not a confirmation"},
      {"type in other case", none, asHost(typed("MSGTYPE=\"payconfirm\" ")), none,
       TBX_E_INVALID_SIGNATURE, "not a confirmation"},
      {"no MSGTYPE", none, asHost(typed("")), none, TBX_E_INVALID_SIGNATURE, "no MSGTYPE"},
      {"signature a byte short", none,
       [&](TestStore& s, Factory&) {
         return Signed{good, s.SignAsHost(good).substr(2)};
       },
       none, TBX_E_INVALID_KEY_BLOB, "twice"},
      {"signature with a leading zero byte", none,
       [&](TestStore& s, Factory&) {
         return Signed{good, "00" + s.SignAsHost(good)};
       },
       none, TBX_E_INVALID_KEY_BLOB, "twice"},
      {"offer handed back", none, ownSigned("PayInit"), none, TBX_E_INVALID_SIGNATURE,
       "not a confirmation"},
      {"own key signed a PayConfirm", none, ownSigned("PayConfirm"), none, TBX_E_INVALID_SIGNATURE,
       "own current key"},
      {"own current key, private key removed", none, ownSigned("PayConfirm"), removeOwnPrivateKey,
       TBX_E_INVALID_SIGNATURE, "own current key"},
      {"old own key, private key removed", none, ownSigned("PayConfirm"),
       [&](TestStore& s) {
         removeOwnPrivateKey(s);
         s.Write("keys/current", "0-4711-newer");
       },
       TBX_E_INVALID_SIGNATURE, "not the host's key 'VT-1'"},
      {"old own key, private key kept", none, ownSigned("PayConfirm"),
       [](TestStore& s) { s.Write("keys/current", "0-4711-newer"); }, TBX_E_INVALID_SIGNATURE,
       "keys/private/"},
      {"a host key under a name that is not the host's",
       [](TestStore& s) { s.Write("keys/public/VT-2", s.Read("keys/public/VT-1")); },
       asHost(Confirmation("VT-2")), none, TBX_E_INVALID_SIGNATURE, "not the host's key 'VT-1'"},
      {"store that names no host key",
       [](TestStore& s) { s.Write("config.xml", "<TBX VTURL=\"https://x/\"/>"); }, asHost(good),
       none, TBX_E_INVALID_SIGNATURE, "names no host key"},
      {"host key named in keys/private/ (a dangling link counts)",
       [](TestStore& s) {
         EXPECT_EQ(::symlink("nowhere", (s.Path() + "/keys/private/VT-1").c_str()), 0);
       },
       asHost(good), none, TBX_E_INVALID_SIGNATURE, "keys/private/"},
  };
  // Keys anyone can sign with (e = 1: the padded digest is its own signature) or no RSA key.
  for (const auto& unsound : tbxtest::UnsoundPublicKeys(TestStore().Read("keys/public/VT-1"))) {
    const std::string key = unsound.second;
    cases.push_back({"planted key: " + unsound.first,
                     [key](TestStore& s) { s.Write("keys/public/VT-1", key); },
                     [&](TestStore&, Factory&) {
                       return Signed{good, tbxtest::SignatureForExponentOne(good, 64)};
                     },
                     none, TBX_E_INVALID_KEY_BLOB, "not a sound RSA key"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestStore store;
    Factory factory(store.Path());
    c.before(store);
    const Signed m = c.make(store, factory);
    c.after(store);
    Message confirmed;
    CHECK_CODE(c.code, MessageFactory_VerifyPayConfirm(factory.handle, m.data.c_str(),
                                                       m.signature.c_str(), &confirmed.handle));
    EXPECT_NE(LastError().find(c.reason), std::string::npos) << LastError();
    if (c.code != TBX_OK) {
      EXPECT_EQ(confirmed.handle, nullptr);
    }
  }
}

// ---- Save and restore ---------------------------------------------------------------------

TEST_F(Messages, SaveAndRestoreOnAnotherObject)
{
  TestStore store;
  Factory factory(store.Path());
  const std::string data = Confirmation(store.HostKeyId());
  Message confirmed;
  CHECK_OK(MessageFactory_VerifyPayConfirm(factory.handle, data.c_str(),
                                           store.SignAsHost(data).c_str(), &confirmed.handle));
  CHECK_OK(MessageObject_SetAttribute(confirmed.handle, "NOTE", "a \"quoted\" <note> & more"));
  long r = 0;
  const std::string saved = Text(confirmed.handle, &r);
  CHECK_OK(r);

  Message restored;
  restored.handle = CreateMessageObject();
  ASSERT_NE(restored.handle, nullptr);
  CHECK_OK(MessageObject_Open(restored.handle, store.Path().c_str()));
  CHECK_OK(MessageObject_FromString(restored.handle, saved.c_str()));

  auto before = Attributes(saved);
  auto after = Attributes(Text(restored.handle));
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(after[i].first, before[i].first);
    const std::string& expected =
        before[i].first == "KEYID" ? store.MerchantKeyId() : before[i].second;  // the store's key
    EXPECT_EQ(after[i].second, expected) << before[i].first;
  }
  EXPECT_EQ(Attribute(restored.handle, "NOTE"), "a \"quoted\" <note> & more");
  Url(restored.handle, &r);
  EXPECT_EQ(Hex(r), Hex(TBX_E_UNEXPECTED));

  // A text that does not parse leaves the message as it was, on a restored object as on a
  // verified confirmation (which takes no saved message, but the text is the fault first).
  for (void* object : {restored.handle, confirmed.handle}) {
    const std::string kept = Text(object);
    for (const char* bad : {"", "<TBX", "<NOTTBX A=\"1\"/>", "<TBX A=\"1\"><B></TBX>"}) {
      CHECK_CODE(TBX_E_INVALID_FORMAT, MessageObject_FromString(object, bad));
      EXPECT_EQ(LastError(),
                "invalid file format (the text is not a saved message: not XML with a "
                "TBX element)");
      EXPECT_EQ(Text(object), kept);
    }
  }
  const std::string kept = Text(confirmed.handle);
  CHECK_CODE(TBX_E_UNEXPECTED, MessageObject_FromString(confirmed.handle, saved.c_str()));
  EXPECT_NE(LastError().find("MessageObject_Open"), std::string::npos) << LastError();
  EXPECT_EQ(Text(confirmed.handle), kept);
}

TEST_F(Messages, ObjectsNeverOpened)
{
  Message m;
  m.handle = CreateMessageObject();
  ASSERT_NE(m.handle, nullptr);
  long r = 0;
  Text(m.handle, &r);
  EXPECT_EQ(Hex(r), Hex(TBX_E_UNEXPECTED));
  CHECK_CODE(TBX_E_UNEXPECTED, MessageObject_FromString(m.handle, "<TBX MSGTYPE=\"X\"/>"));
  CHECK_CODE(TBX_E_UNEXPECTED, MessageObject_Capture(m.handle));
  CHECK_CODE(TBX_E_UNEXPECTED, MessageObject_SetAttribute(m.handle, "A", "1"));
  Attribute(m.handle, "A", &r);
  EXPECT_EQ(Hex(r), Hex(TBX_E_UNEXPECTED));
  Url(m.handle, &r);
  EXPECT_EQ(Hex(r), Hex(TBX_E_UNEXPECTED));
  void* out = reinterpret_cast<void*>(0x1);
  CHECK_CODE(TBX_E_UNEXPECTED, MessageObject_Execute(m.handle, &out));
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1));

  // A store without a current key: the open fails, and a later open of a good store works.
  StoreOptions noKey;
  noKey.withCurrentKey = false;
  TestStore bad(noKey);
  CHECK_CODE(TBX_E_NO_KEY_ID, MessageObject_Open(m.handle, bad.Path().c_str()));
  CHECK_CODE(TBX_E_UNEXPECTED, MessageObject_FromString(m.handle, "<TBX MSGTYPE=\"X\"/>"));
  TestStore good;
  CHECK_OK(MessageObject_Open(m.handle, good.Path().c_str()));
  EXPECT_EQ(Attribute(m.handle, "MSGTYPE"), "ERROR");
  EXPECT_EQ(Attribute(m.handle, "KEYID"), good.MerchantKeyId());
  // Reopened on the store without a key: the good store's key does not linger.
  CHECK_CODE(TBX_E_NO_KEY_ID, MessageObject_Open(m.handle, bad.Path().c_str()));
  CHECK_CODE(TBX_E_UNEXPECTED, MessageObject_FromString(m.handle, "<TBX MSGTYPE=\"X\"/>"));
}

// ---- Arguments and handles ----------------------------------------------------------------

TEST_F(Messages, AttributeNamesAreChecked)
{
  TestStore store;
  Factory factory(store.Path());
  Message offer;
  CHECK_OK(MessageFactory_CreatePayInit(factory.handle, &offer.handle));
  const std::string before = Text(offer.handle);
  for (const char* name : {"", "A B", "A=\"x\"", "A>", "A/", "A\"", "X:Y", "\xe9", "A\tB"}) {
    SCOPED_TRACE(name);
    CHECK_CODE(TBX_E_INVALID_ARGUMENT, MessageObject_SetAttribute(offer.handle, name, "v"));
  }
  CHECK_CODE(TBX_E_INVALID_ARGUMENT, MessageObject_SetAttribute(offer.handle, nullptr, "v"));
  EXPECT_EQ(Text(offer.handle), before);
  for (const char* name : {"A", "a.b-c_d", "9", "TBX.X", "-", "."})
    CHECK_OK(MessageObject_SetAttribute(offer.handle, name, "v"));
  CHECK_OK(MessageObject_SetAttribute(offer.handle, "EMPTY", nullptr));
  EXPECT_EQ(Attribute(offer.handle, "EMPTY"), "");
}

TEST_F(Messages, OutputRulesOfGetAttribute)
{
  TestStore store;
  Factory factory(store.Path());
  Message offer;
  CHECK_OK(MessageFactory_CreatePayInit(factory.handle, &offer.handle));
  long length = 5;
  CHECK_CODE(TBX_E_ITEM_NOT_FOUND,
             MessageObject_GetAttribute(offer.handle, "NONE", &length, nullptr));
  EXPECT_EQ(length, 5);
  CHECK_CODE(TBX_E_BUFFER_TOO_SMALL,
             MessageObject_GetAttribute(offer.handle, "MSGTYPE", nullptr, nullptr));
  char buffer[8] = "zzzzzzz";
  length = 7;
  CHECK_CODE(TBX_E_BUFFER_TOO_SMALL,
             MessageObject_GetAttribute(offer.handle, "MSGTYPE", &length, buffer));
  EXPECT_EQ(length, 8);
  EXPECT_STREQ(buffer, "zzzzzzz");
  CHECK_OK(MessageObject_GetAttribute(offer.handle, "MSGTYPE", &length, buffer));
  EXPECT_STREQ(buffer, "PayInit");
}

TEST_F(Messages, AttributeNamesInOrderMeasuredThenFetched)
{
  TestStore store;
  Factory factory(store.Path());
  Message offer;
  CHECK_OK(MessageFactory_CreatePayInit(factory.handle, &offer.handle));
  CHECK_OK(MessageObject_FromString(offer.handle, "<TBX MSGTYPE=\"PayInit\" B=\"1\" A=\"\"/>"));
  CHECK_OK(MessageObject_SetAttribute(offer.handle, "C", "x"));
  CHECK_OK(MessageObject_SetAttribute(offer.handle, "B", "2"));  // keeps its place
  const char kNames[] = "MSGTYPE\0B\0A\0KEYID\0C\0";
  const std::string names(kNames, sizeof kNames - 1);
  const long needed = static_cast<long>(names.size()) + 1;
  struct Case
  {
    long length;
    bool buffer;
    long result;
    long lengthAfter;
  };
  const Case cases[] = {
      {0, false, TBX_E_BUFFER_TOO_SMALL, needed},
      {needed - 1, true, TBX_E_BUFFER_TOO_SMALL, needed},
      {needed, false, TBX_OK, needed},
      {needed, true, TBX_OK, needed},
      {needed + 10, true, TBX_OK, needed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string buffer(static_cast<size_t>(needed) + 10, 'z');
    long length = c.length;
    CHECK_CODE(c.result, MessageObject_GetAttributeNames(offer.handle, &length,
                                                         c.buffer ? &buffer[0] : nullptr));
    EXPECT_EQ(length, c.lengthAfter);
    if (c.result == TBX_OK && c.buffer)
      EXPECT_EQ(buffer.substr(0, static_cast<size_t>(needed)), names + '\0');
    else
      EXPECT_EQ(buffer, std::string(buffer.size(), 'z'));
  }
  CHECK_CODE(TBX_E_BUFFER_TOO_SMALL,
             MessageObject_GetAttributeNames(offer.handle, nullptr, nullptr));
  EXPECT_EQ(Hex(TBX_GetLastErrorCode()), Hex(TBX_E_BUFFER_TOO_SMALL));

  Message never;
  never.handle = CreateMessageObject();
  long length = 64;
  CHECK_CODE(TBX_E_UNEXPECTED, MessageObject_GetAttributeNames(never.handle, &length, nullptr));
  EXPECT_EQ(Hex(TBX_GetLastErrorCode()), Hex(TBX_E_UNEXPECTED));
  CHECK_CODE(TBX_E_INVALID_HANDLE, MessageObject_GetAttributeNames(nullptr, &length, nullptr));
}

TEST_F(Messages, HandleMisuse)
{
  TestStore store;
  // The live objects first: a destroyed object's address could otherwise be reused by one of them
  // and rightly read as live.
  Factory live(store.Path());
  Message liveMessage;
  CHECK_OK(MessageFactory_CreatePayInit(live.handle, &liveMessage.handle));

  void* factory = CreateMessageFactory();
  void* message = CreateMessageObject();
  ASSERT_NE(factory, nullptr);
  ASSERT_NE(message, nullptr);
  DestroyMessageFactory(factory);
  DestroyMessageObject(message);
  DestroyMessageFactory(factory);  // twice: ignored
  DestroyMessageObject(message);
  DestroyMessageFactory(nullptr);
  DestroyMessageObject(nullptr);

  char buffer[64];
  long length = sizeof buffer;
  void* out = reinterpret_cast<void*>(0x1);
  // null, destroyed, and a live handle of the other kind
  for (void* f : {static_cast<void*>(nullptr), factory, liveMessage.handle}) {
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageFactory_Open(f, store.Path().c_str()));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageFactory_CreatePayInit(f, &out));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageFactory_VerifyPayConfirm(f, "<TBX/>", "00", &out));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageFactory_CreatePayComplete(f, "1", "2", &out));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageFactory_CreateRequest(f, "X", &out));
  }
  for (void* m : {static_cast<void*>(nullptr), message, live.handle}) {
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageObject_Open(m, store.Path().c_str()));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageObject_SetAttribute(m, "A", "1"));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageObject_GetAttribute(m, "MSGTYPE", &length, buffer));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageObject_GetURL(m, &length, buffer));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageObject_Capture(m));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageObject_Execute(m, &out));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageObject_FromString(m, "<TBX/>"));
    CHECK_CODE(TBX_E_INVALID_HANDLE, MessageObject_ToString(m, &length, buffer));
  }
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
  EXPECT_EQ(length, static_cast<long>(sizeof buffer));
  // Destroying a live handle as the other kind does nothing.
  DestroyMessageObject(live.handle);
  DestroyMessageFactory(liveMessage.handle);
  EXPECT_EQ(Attribute(liveMessage.handle, "MSGTYPE"), "PayInit");

  // Null output-handle pointers and empty message types.
  CHECK_CODE(TBX_E_INVALID_ARGUMENT, MessageFactory_CreatePayInit(live.handle, nullptr));
  CHECK_CODE(TBX_E_INVALID_ARGUMENT, MessageFactory_VerifyPayConfirm(live.handle, "", "", nullptr));
  CHECK_CODE(TBX_E_INVALID_ARGUMENT,
             MessageFactory_CreatePayComplete(live.handle, "1", "2", nullptr));
  CHECK_CODE(TBX_E_INVALID_ARGUMENT, MessageFactory_CreateRequest(live.handle, "X", nullptr));
  CHECK_CODE(TBX_E_INVALID_ARGUMENT, MessageObject_Execute(liveMessage.handle, nullptr));
  CHECK_CODE(TBX_E_INVALID_ARGUMENT, MessageFactory_CreateRequest(live.handle, "", &out));
  CHECK_CODE(TBX_E_INVALID_ARGUMENT, MessageFactory_CreateRequest(live.handle, nullptr, &out));
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
}

TEST_F(Messages, PayCompleteAndRequestMessages)
{
  TestStore store;
  Factory factory(store.Path());
  Message capture;
  CHECK_OK(MessageFactory_CreatePayComplete(factory.handle, "7a1b9c", "tok", &capture.handle));
  EXPECT_EQ(Attribute(capture.handle, "MSGTYPE"), "PayComplete");
  EXPECT_EQ(Attribute(capture.handle, "CONFIGPATH"), store.Path());
  EXPECT_EQ(Attribute(capture.handle, "ID"), "7a1b9c");
  EXPECT_EQ(Attribute(capture.handle, "TOKEN"), "tok");
  Message request;
  CHECK_OK(MessageFactory_CreateRequest(factory.handle, "Balance", &request.handle));
  EXPECT_EQ(Attribute(request.handle, "MSGTYPE"), "Balance");
  long r = 0;
  Attribute(request.handle, "CONFIGPATH", &r);
  EXPECT_EQ(Hex(r), Hex(TBX_E_ITEM_NOT_FOUND));
}

// ---- Capture and general requests against a scripted host --------------------------------

// What the scripted host saw of one request.
struct Seen
{
  std::string path;
  std::string data;
  bool signatureOk = false;
};

class HostExchange : public Messages
{
protected:
  // A host (the transport tests' loopback server) answering every request with `answer`, and a
  // store whose CAPTUREURL points at it.
  void StartHost(const std::string& answer, const std::string& status = "200 OK")
  {
    m_Factory.reset();
    m_Host.reset(new LoopbackServer({tbxtest::Send(tbxtest::HttpAnswer(status, answer))}));
    StoreOptions options;
    options.captureUrl = m_Host->Url("/capture");
    m_Store.reset(new TestStore(options));
    m_Factory.reset(new Factory(m_Store->Path()));
  }
  void TearDown() override
  {
    m_Factory.reset();
    m_Host.reset();
    m_Store.reset();
    Messages::TearDown();
  }
  // Each request's target split, DATA decoded and the signature checked with the merchant's key.
  std::vector<Seen> SeenRequests()
  {
    std::vector<Seen> all;
    for (const std::string& request : m_Host->Requests()) {
      Seen seen;
      const size_t start = request.find(' ');
      const size_t end = request.find(' ', start + 1);
      const std::string target = request.substr(start + 1, end - start - 1);
      std::string signature;
      seen.path = target.substr(0, target.find('?'));
      if (tbxtest::SplitRequest(target, seen.data, signature))
        seen.signatureOk = m_Store->VerifyMerchant(seen.data, signature);
      all.push_back(seen);
    }
    return all;
  }

  std::unique_ptr<TestStore> m_Store;
  std::unique_ptr<LoopbackServer> m_Host;
  std::unique_ptr<Factory> m_Factory;
};

struct CaptureCase
{
  const char* name;
  const char* answer;
  const char* status;
  long code;
  const char* message;  // part of the last error message
};

const CaptureCase kCaptureCases[] = {
    {"confirmed", "<TBX MSGTYPE=\"PayConfirm\" STATUS=\"captured\"/>", "200 OK", TBX_OK, ""},
    {"refused", "<TBX MSGTYPE=\"Error\" MESSAGE=\"payment already captured\"/>", "200 OK",
     TBX_E_HOST_ERROR, "the request failed (payment already captured)"},
    {"other type", "<TBX MSGTYPE=\"PayInit\"/>", "200 OK", TBX_E_REQUEST_FAILED,
     "received 'PayInit', expected 'PayConfirm'"},
    {"no type", "<TBX/>", "200 OK", TBX_E_REQUEST_FAILED, "received ''"},
    {"not XML", "Internal trouble", "200 OK", TBX_E_INVALID_FORMAT, "invalid file format"},
    {"HTTP 404", "", "404 Not Found", TBX_RESULT(0x80042194u), "URL resource not found"},
};

TEST_F(HostExchange, CaptureAnswers)
{
  for (const CaptureCase& c : kCaptureCases) {
    SCOPED_TRACE(c.name);
    StartHost(c.answer, c.status);
    Message capture;
    CHECK_OK(MessageFactory_CreatePayComplete(m_Factory->handle, "7a1b9c",
                                              "0123456789abcdef0123456789abcdef", &capture.handle));
    const std::string before = Text(capture.handle);
    CHECK_CODE(c.code, MessageObject_Capture(capture.handle));
    if (c.code != TBX_OK) {
      EXPECT_NE(LastError().find(c.message), std::string::npos) << LastError();
    }
    EXPECT_EQ(Text(capture.handle), before);

    const auto seen = SeenRequests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, "/capture");
    EXPECT_TRUE(seen[0].signatureOk) << seen[0].data;
    EXPECT_EQ(seen[0].data, before);
  }
}

TEST_F(HostExchange, CaptureNeedsTokenAndEndpoint)
{
  StartHost("<TBX MSGTYPE=\"PayConfirm\"/>");
  Message request;
  CHECK_OK(MessageFactory_CreateRequest(m_Factory->handle, "PayComplete", &request.handle));
  CHECK_CODE(TBX_E_UNEXPECTED, MessageObject_Capture(request.handle));
  m_Store->Write("config.xml", "<TBX VTURL=\"https://x/\"/>");
  CHECK_CODE(TBX_E_NO_CONFIGURATION, MessageObject_Capture(request.handle));
  EXPECT_TRUE(SeenRequests().empty());
}

TEST_F(HostExchange, ExecuteReadsTheHostsAnswer)
{
  StartHost("<TBX MSGTYPE=\"BalanceResponse\" AMOUNT=\"42.00\" NOTE=\"a &amp; b\"/>");
  Message request;
  CHECK_OK(MessageFactory_CreateRequest(m_Factory->handle, "Balance", &request.handle));
  CHECK_OK(MessageObject_SetAttribute(request.handle, "ACCOUNT", "77"));
  Message response;
  CHECK_OK(MessageObject_Execute(request.handle, &response.handle));
  ASSERT_NE(response.handle, nullptr);
  EXPECT_EQ(Attribute(response.handle, "MSGTYPE"), "BalanceResponse");
  EXPECT_EQ(Attribute(response.handle, "AMOUNT"), "42.00");
  EXPECT_EQ(Attribute(response.handle, "NOTE"), "a & b");
  EXPECT_EQ(Attribute(request.handle, "MSGTYPE"), "BalanceRequest");
  long r = 0;
  Url(response.handle, &r);
  EXPECT_EQ(Hex(r), Hex(TBX_E_UNEXPECTED));
  CHECK_CODE(TBX_E_UNEXPECTED, MessageObject_Capture(response.handle));

  const auto seen = SeenRequests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].signatureOk);
  const auto attrs = Attributes(seen[0].data);
  ASSERT_GE(attrs.size(), 3u);
  EXPECT_EQ(attrs[0].first + "=" + attrs[0].second, "MSGTYPE=BalanceRequest");
  EXPECT_EQ(attrs.back().first + "=" + attrs.back().second, "ACCOUNT=77");
}

TEST_F(HostExchange, FailedExecuteCreatesNothing)
{
  struct Case
  {
    const char* answer;
    long code;
  };
  const Case cases[] = {
      {"<TBX MSGTYPE=\"Error\" MESSAGE=\"unknown account\"/>", TBX_E_HOST_ERROR},
      {"<TBX MSGTYPE=\"Balance\"/>", TBX_E_REQUEST_FAILED},
      {"<TBX MSGTYPE=\"BalanceResponse\"", TBX_E_INVALID_FORMAT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    StartHost(c.answer);
    Message request;
    CHECK_OK(MessageFactory_CreateRequest(m_Factory->handle, "Balance", &request.handle));
    const unsigned long live = LiveMessages();
    void* out = reinterpret_cast<void*>(0x1);
    CHECK_CODE(c.code, MessageObject_Execute(request.handle, &out));
    EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
    EXPECT_EQ(LiveMessages(), live);
  }
}

TEST_F(HostExchange, HostNotListening)
{
  StartHost("");
  m_Store->Write("config.xml", "<TBX CAPTUREURL=\"http://127.0.0.1:" +
                                   std::to_string(tbxtest::UnusedPort()) + "/capture\"/>");
  Message capture;
  CHECK_OK(MessageFactory_CreatePayComplete(m_Factory->handle, "1", "2", &capture.handle));
  const long r = MessageObject_Capture(capture.handle);
  EXPECT_LT(r, 0);
  EXPECT_NE(r, TBX_E_UNEXPECTED);
  EXPECT_FALSE(LastError().empty());
}

// ---- Threads ------------------------------------------------------------------------------

TEST_F(Messages, ThreadsBuildAndSignOffersAtOnce)
{
  TestStore store;
  const int kThreads = 4;
  const int kOffers = 25;
  std::vector<std::vector<std::string>> urls(kThreads);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      void* factory = CreateMessageFactory();
      if (MessageFactory_Open(factory, store.Path().c_str()) != TBX_OK)
        ++failures;
      for (int i = 0; i < kOffers; ++i) {
        void* offer = nullptr;
        if (MessageFactory_CreatePayInit(factory, &offer) != TBX_OK) {
          ++failures;
          continue;
        }
        const std::string amount = std::to_string(t * 1000 + i);
        if (MessageObject_SetAttribute(offer, "AMOUNT", amount.c_str()) != TBX_OK)
          ++failures;
        long r = 0;
        urls[t].push_back(Url(offer, &r));
        if (r != TBX_OK)
          ++failures;
        DestroyMessageObject(offer);
      }
      DestroyMessageFactory(factory);
    });
  }
  for (auto& th : threads)
    th.join();
  ASSERT_EQ(failures.load(), 0);
  std::set<std::string> tokens;
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(urls[t].size(), static_cast<size_t>(kOffers));
    for (int i = 0; i < kOffers; ++i) {
      std::string data, signature;
      const std::string& url = urls[t][i];
      ASSERT_TRUE(tbxtest::SplitRequest(url.substr(url.find('?')), data, signature));
      EXPECT_TRUE(store.VerifyMerchant(data, signature));
      EXPECT_NE(data.find("AMOUNT=\"" + std::to_string(t * 1000 + i) + "\""), std::string::npos);
      for (const auto& a : Attributes(data))
        if (a.first == "TOKEN")
          tokens.insert(a.second);
    }
  }
  EXPECT_EQ(tokens.size(), static_cast<size_t>(kThreads * kOffers));
}

}  // namespace
