/* The C side of the binding's benchmark: payments (an offer, then the verification of a
 * confirmation checked against its order) through the exported functions, as a C shop writes
 * them, each with handles of its own. Prints the mean nanoseconds per payment.
 *
 *   bench_payment_c STORE DATA SIGNATURE TOKEN AMOUNT CURRENCY ITERATIONS [for-order]
 *
 * for-order: the confirmation is bound to its order by MessageFactory_VerifyPayConfirmForOrder (as
 * the PHP package does), instead of reading and comparing its attributes (as the Python one does).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tbxapp.h"

static int Fail(const char* what, long result)
{
  fprintf(stderr, "bench_payment_c: %s failed: 0x%08lx\n", what,
          (unsigned long)result & 0xFFFFFFFFul);
  return 1;
}

/* Attribute `name` of `message` equals `expected`. */
static int Carries(void* message, const char* name, const char* expected)
{
  char value[256];
  long length = sizeof value;
  return MessageObject_GetAttribute(message, name, &length, value) == TBX_OK &&
         strcmp(value, expected) == 0;
}

static int Offer(const char* store)
{
  static char url[8192];
  char token[64];
  long length = sizeof url, tokenLength = sizeof token, result;
  void* factory = CreateMessageFactory();
  void* offer = NULL;
  if (factory == NULL)
    return Fail("CreateMessageFactory", TBX_E_OUT_OF_MEMORY);
  result = MessageFactory_Open(factory, store);
  if (result == TBX_OK)
    result = MessageFactory_CreatePayInit(factory, &offer);
  if (result == TBX_OK)
    result = MessageObject_SetAttribute(offer, "AMOUNT", "1560");
  if (result == TBX_OK)
    result = MessageObject_SetAttribute(offer, "CURRENCY", "EUR");
  if (result == TBX_OK)
    result = MessageObject_GetURL(offer, &length, url);
  if (result == TBX_OK)
    result = MessageObject_GetAttribute(offer, "TOKEN", &tokenLength, token);
  DestroyMessageObject(offer);
  DestroyMessageFactory(factory);
  return result == TBX_OK ? 0 : Fail("offer", result);
}

static int Verify(const char* store, const char* data, const char* signature, const char* token,
                  const char* amount, const char* currency, int forOrder)
{
  void* factory = CreateMessageFactory();
  void* confirmation = NULL;
  long result;
  int matches;
  if (factory == NULL)
    return Fail("CreateMessageFactory", TBX_E_OUT_OF_MEMORY);
  result = MessageFactory_Open(factory, store);
  if (result == TBX_OK && forOrder)
    result = MessageFactory_VerifyPayConfirmForOrder(factory, data, signature, token, amount,
                                                     currency, &confirmation);
  else if (result == TBX_OK)
    result = MessageFactory_VerifyPayConfirm(factory, data, signature, &confirmation);
  matches = result == TBX_OK && (forOrder || (Carries(confirmation, "TOKEN", token) &&
                                              Carries(confirmation, "AMOUNT", amount) &&
                                              Carries(confirmation, "CURRENCY", currency)));
  DestroyMessageObject(confirmation);
  DestroyMessageFactory(factory);
  if (result != TBX_OK)
    return Fail("verification", result);
  return matches ? 0 : Fail("the order's check", 0);
}

int main(int argc, char** argv)
{
  struct timespec start, end;
  long i, iterations;
  int forOrder = argc == 9 && strcmp(argv[8], "for-order") == 0;
  if ((argc != 8 && !forOrder) || (iterations = atol(argv[7])) <= 0) {
    fputs(
        "usage: bench_payment_c STORE DATA SIGNATURE TOKEN AMOUNT CURRENCY ITERATIONS "
        "[for-order]\n",
        stderr);
    return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (i = 0; i < iterations; ++i)
    if (Offer(argv[1]) != 0 ||
        Verify(argv[1], argv[2], argv[3], argv[4], argv[5], argv[6], forOrder) != 0)
      return 1;
  clock_gettime(CLOCK_MONOTONIC, &end);
  printf("%.0f\n",
         ((end.tv_sec - start.tv_sec) * 1e9 + (end.tv_nsec - start.tv_nsec)) / iterations);
  return 0;
}
