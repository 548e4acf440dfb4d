/* Uses the public header from plain C, as a customer's C program would: error texts, and one offer
 * built on the store given as the first argument. */
#include "tbxapp.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Fail(const char* what, long result)
{
  char message[512];
  long length = (long)sizeof message;
  if (TBX_GetLastErrorMessage(&length, message) != TBX_OK)
    message[0] = '\0';
  fprintf(stderr, "%s failed: 0x%08lx %s\n", what, (unsigned long)result & 0xFFFFFFFFul, message);
  return 1;
}

static int BuildOffer(const char* store)
{
  void* factory = CreateMessageFactory();
  void* offer = NULL;
  long length = 0;
  char* url = NULL;
  long result;
  int status = 1;

  if (factory == NULL)
    return Fail("CreateMessageFactory", TBX_E_OUT_OF_MEMORY);
  if ((result = MessageFactory_Open(factory, store)) != TBX_OK) {
    Fail("MessageFactory_Open", result);
    goto done;
  }
  if ((result = MessageFactory_CreatePayInit(factory, &offer)) != TBX_OK) {
    Fail("MessageFactory_CreatePayInit", result);
    goto done;
  }
  if ((result = MessageObject_SetAttribute(offer, "AMOUNT", "1560")) != TBX_OK ||
      (result = MessageObject_SetAttribute(offer, "CURRENCY", "EUR")) != TBX_OK) {
    Fail("MessageObject_SetAttribute", result);
    goto done;
  }
  /* Measure, then fetch. */
  if ((result = MessageObject_GetURL(offer, &length, NULL)) != TBX_E_BUFFER_TOO_SMALL ||
      length < 2) {
    Fail("MessageObject_GetURL (measure)", result);
    goto done;
  }
  url = (char*)malloc((size_t)length);
  if (url == NULL || (result = MessageObject_GetURL(offer, &length, url)) != TBX_OK) {
    Fail("MessageObject_GetURL", result);
    goto done;
  }
  if (strstr(url, "?DATA=%3cTBX%20MSGTYPE%3d%22PayInit%22") == NULL ||
      strstr(url, "&SIGNATURE=") == NULL || strlen(url) + 1 != (size_t)length) {
    fprintf(stderr, "unexpected offer URL %s\n", url);
    goto done;
  }
  status = 0;
done:
  free(url);
  DestroyMessageObject(offer);
  DestroyMessageFactory(factory);
  return status;
}

int main(int argc, char** argv)
{
  char text[64];
  long length = (long)sizeof text;
  if (TBX_GetErrorStringFromResult(TBX_E_NO_CONTEXT, &length, text) != 1 || length != 19 ||
      strcmp(text, "no context present") != 0) {
    fprintf(stderr, "unexpected error text '%s' (%ld)\n", text, length);
    return 1;
  }
  if (TBX_E_NO_CONTEXT >= 0) {
    fprintf(stderr, "failure codes must be negative\n");
    return 1;
  }
  if (MessageObject_Capture(NULL) != TBX_E_INVALID_HANDLE) {
    fprintf(stderr, "a null handle must be refused\n");
    return 1;
  }
  return argc > 1 ? BuildOffer(argv[1]) : 0;
}
