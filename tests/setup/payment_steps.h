// Steps of a payment through the exported functions, shared by the payment, trace and thread
// tests: reading attributes and the offer URL, the shopper's visit at the sandbox, and a whole
// payment that reports each step's outcome as text.
#ifndef TBX_TESTS_PAYMENT_STEPS_H
#define TBX_TESTS_PAYMENT_STEPS_H

#include <string>
#include <vector>

#include "sandbox_fixture.h"

namespace setuptest {

// The calling thread's last error message.
std::string LastErrorMessage();
// A MessageObject attribute, measured then fetched; "" when it is missing.
std::string Attribute(void* message, const char* name);
// The signed offer URL of a PayInit, "" on failure.
std::string OfferUrl(void* message);
using sandbox_test::PageLine;
using sandbox_test::PercentDecode;

// Handles released at the end of a scope, whatever was asserted.
struct Handles
{
  void* setup = nullptr;
  void* factory = nullptr;
  void* offer = nullptr;
  void* confirm = nullptr;
  void* capture = nullptr;
  void* again = nullptr;
  Handles() = default;
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles();
};

// One payment with handles of its own: set-up of `store` against the host (when `setUp`), offer,
// the shopper's authorisation, confirmation, capture, and a second capture the host refuses.
// Each step adds "step: result" to the transcript, with the error message when it failed; the
// transcript holds nothing that differs from one payment to the next. It stops at the first
// step that went wrong.
std::vector<std::string> RunPayment(const Sandbox& host, const std::string& store, bool setUp,
                                    const std::string& amount);
// The transcript of a payment that went as it should.
std::vector<std::string> ExpectedPayment(bool setUp, const std::string& amount);

}  // namespace setuptest

#endif
