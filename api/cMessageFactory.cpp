#include "cMessageFactory.h"

#include "cMessageObject.h"
#include "tbxapp.h"
#include "tbxerr.h"
#include "tbxutil.h"

namespace {

using namespace TBX_FactorySites;

// A new registered message object opened on the store at `configPath`, given its message by
// `fill`; nothing is left when any step fails.
template <class Fill>
TBXCIMPL_MessageObject* NewObject(const MvString& configPath, Fill&& fill)
{
  TBX_HandleHolder<TBXCIMPL_MessageObject> object;
  object->m_Context.Open(configPath);
  fill(*object);
  return object.release();
}

// One attribute that binds a confirmation to its order. A secret one (the TOKEN, which anyone who
// sees it can pay for) is named in messages, never shown.
struct OrderTerm
{
  const char* name;
  const MvString& expected;
  bool secret;
};

MvString OrderMismatch(const OrderTerm& term, bool present, const MvString& actual)
{
  const MvString name(term.name);
  if (!present)
    return "the confirmation carries no " + name + "; the order's " + name + " is " +
           (term.secret ? MvString("set") : TBX_Quote(term.expected));
  if (term.secret)
    return "the confirmation's " + name + " is not the order's; it pays another order";
  return "the confirmation's " + name + " is " + TBX_Quote(actual) + ", the order's is " +
         TBX_Quote(term.expected);
}

}  // namespace

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::Create(TBX_MessageKind kind,
                                                        std::initializer_list<MvString> given) const
{
  return NewObject(m_ConfigPath, [&](TBXCIMPL_MessageObject& object) {
    object.m_Message.Create(&object.m_Context, TBX_GetMessageType(kind), given.begin(),
                            given.size());
    // Built by the factory: the one kind of message whose URL may be taken.
    object.m_Created = 1;
  });
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::VerifyPayConfirm(const MvString& data,
                                                                  const MvString& signature) const
{
  // A verified confirmation is not one the factory built: no URL may be taken from it.
  return NewObject(m_ConfigPath, [&](TBXCIMPL_MessageObject& object) {
    object.m_Message.Open(&object.m_Context, data, signature);
  });
}

TBXCIMPL_MessageObject*
TBXCIMPL_MessageFactory::VerifyPayConfirmForOrder(const MvString& data, const MvString& signature,
                                                  const MvString& token, const MvString& amount,
                                                  const MvString& currency) const
{
  // The amount first: of a cheaper order's confirmation, the money is what the merchant must see.
  const OrderTerm terms[] = {
      {"AMOUNT", amount, false},
      {"CURRENCY", currency, false},
      {"TOKEN", token, true},
  };
  // An empty expectation would match a confirmation that lacks the attribute.
  for (const OrderTerm& term : terms) {
    if (term.expected.empty())
      TBX_THROW(TBX_E_INVALID_ARGUMENT, MvString("the order's ") + term.name + " is empty", kUnit,
                kSiteEmptyOrderTerm);
  }
  return NewObject(m_ConfigPath, [&](TBXCIMPL_MessageObject& object) {
    object.m_Message.Open(&object.m_Context, data, signature);
    for (const OrderTerm& term : terms) {
      MvString actual;
      const bool present = object.m_Message.FindAttribute(MvString(term.name), actual);
      if (!present || actual != term.expected)
        TBX_THROW(TBX_E_ORDER_MISMATCH, OrderMismatch(term, present, actual), kUnit,
                  kSiteOrderMismatch);
    }
  });
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::CreateRequest(const MvString& type) const
{
  if (type.empty())
    TBX_THROW(TBX_E_INVALID_ARGUMENT, "the message type is empty", kUnit, kSiteEmptyType);
  return NewObject(m_ConfigPath, [&](TBXCIMPL_MessageObject& object) {
    object.m_Message.Create(&object.m_Context, type);
    object.m_Created = 1;
  });
}

TBX_EXPORT_HANDLE_LIFETIME(TBXCIMPL_MessageFactory, CreateMessageFactory, DestroyMessageFactory)

extern "C" TBX_EXTERN(long) MessageFactory_Open(void* factory, const char* configPath)
{
  return TBX_Call<TBXCIMPL_MessageFactory>(
      factory, kUnit, [&](TBXCIMPL_MessageFactory& f) { f.Open(mbstoSTRING(configPath)); });
}

extern "C" TBX_EXTERN(long) MessageFactory_CreatePayInit(void* factory, void** message)
{
  return TBX_CallNew<TBXCIMPL_MessageFactory>(
      factory, kUnit, message, [](const TBXCIMPL_MessageFactory& f) { return f.CreatePayInit(); });
}

extern "C" TBX_EXTERN(long) MessageFactory_VerifyPayConfirm(void* factory, const char* data,
                                                            const char* signature, void** message)
{
  return TBX_CallNew<TBXCIMPL_MessageFactory>(
      factory, kUnit, message, [&](const TBXCIMPL_MessageFactory& f) {
        return f.VerifyPayConfirm(mbstoSTRING(data), mbstoSTRING(signature));
      });
}

extern "C" TBX_EXTERN(long)
    MessageFactory_VerifyPayConfirmForOrder(void* factory, const char* data, const char* signature,
                                            const char* token, const char* amount,
                                            const char* currency, void** confirmation)
{
  return TBX_CallNew<TBXCIMPL_MessageFactory>(
      factory, kUnit, confirmation, [&](const TBXCIMPL_MessageFactory& f) {
        return f.VerifyPayConfirmForOrder(mbstoSTRING(data), mbstoSTRING(signature),
                                          mbstoSTRING(token), mbstoSTRING(amount),
                                          mbstoSTRING(currency));
      });
}

extern "C" TBX_EXTERN(long) MessageFactory_CreatePayComplete(void* factory, const char* id,
                                                             const char* token, void** message)
{
  return TBX_CallNew<TBXCIMPL_MessageFactory>(
      factory, kUnit, message, [&](const TBXCIMPL_MessageFactory& f) {
        return f.CreatePayComplete(mbstoSTRING(id), mbstoSTRING(token));
      });
}

extern "C" TBX_EXTERN(long)
    MessageFactory_CreateRequest(void* factory, const char* messageType, void** message)
{
  return TBX_CallNew<TBXCIMPL_MessageFactory>(
      factory, kUnit, message,
      [&](const TBXCIMPL_MessageFactory& f) { return f.CreateRequest(mbstoSTRING(messageType)); });
}
