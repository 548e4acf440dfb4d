/* One kind of call a shop makes, repeated, for a profiler to count per call:
 *
 *   shop_calls STORE offer N
 *   shop_calls STORE confirm N DATA SIGNATURE
 *
 * offer: MessageFactory_CreatePayInit, AMOUNT and CURRENCY, MessageObject_GetURL measured then
 * fetched, DestroyMessageObject. confirm: MessageFactory_VerifyPayConfirm and
 * DestroyMessageObject. Both on one factory, as a shop keeps it. For example, per call:
 *
 *   valgrind --tool=callgrind shop_calls STORE confirm 1000 "$DATA" "$SIG"   (instructions)
 *   strace -c -f shop_calls STORE confirm 1000 "$DATA" "$SIG"                (system calls)
 *
 * and the same with N = 0 for the fixed cost to subtract.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tbxapp.h"

static int Fail(const char* what, long result)
{
  fprintf(stderr, "shop_calls: %s failed: 0x%08lx\n", what, (unsigned long)result & 0xFFFFFFFFul);
  return 1;
}

int main(int argc, char** argv)
{
  static char url[8192];
  void* factory;
  long i, n, result;
  int confirm;
  if (argc < 4 || (strcmp(argv[2], "offer") != 0 && strcmp(argv[2], "confirm") != 0) ||
      (confirm = strcmp(argv[2], "confirm") == 0, argc != (confirm ? 6 : 4))) {
    fputs("usage: shop_calls STORE offer N | shop_calls STORE confirm N DATA SIGNATURE\n", stderr);
    return 2;
  }
  n = atol(argv[3]);
  factory = CreateMessageFactory();
  if (factory == NULL)
    return Fail("CreateMessageFactory", TBX_E_OUT_OF_MEMORY);
  result = MessageFactory_Open(factory, argv[1]);
  for (i = 0; i < n && result == TBX_OK; ++i) {
    void* message = NULL;
    if (confirm) {
      result = MessageFactory_VerifyPayConfirm(factory, argv[4], argv[5], &message);
    } else {
      long length = 0;
      result = MessageFactory_CreatePayInit(factory, &message);
      if (result == TBX_OK)
        result = MessageObject_SetAttribute(message, "AMOUNT", "1560");
      if (result == TBX_OK)
        result = MessageObject_SetAttribute(message, "CURRENCY", "EUR");
      if (result == TBX_OK)
        MessageObject_GetURL(message, &length, NULL);
      if (result == TBX_OK && (length <= 0 || length > (long)sizeof url))
        result = TBX_E_BUFFER_TOO_SMALL;
      if (result == TBX_OK)
        result = MessageObject_GetURL(message, &length, url);
    }
    DestroyMessageObject(message);
  }
  DestroyMessageFactory(factory);
  return result == TBX_OK ? 0 : Fail(argv[2], result);
}
