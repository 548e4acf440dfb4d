/* A shop program built only from the installed tree: it must find the header, link the library
 * and call into it. Exits 0 when every answer is the documented one. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tbxapp.h>

static int failures;

static void check(int ok, const char* what)
{
  if (!ok) {
    fprintf(stderr, "consumer: %s\n", what);
    ++failures;
  }
}

int main(int argc, char** argv)
{
  /* A store that does not exist: opening records the path, the offer then fails. */
  const char* store = argc > 1 ? argv[1] : "/nonexistent/kestrum-store";
  void* factory = CreateMessageFactory();
  void* offer = NULL;
  char* message = NULL;
  long result, length;
  char text[128];

  check(factory != NULL, "CreateMessageFactory gave no handle");
  check(MessageFactory_Open(factory, store) == TBX_OK, "MessageFactory_Open failed");
  result = MessageFactory_CreatePayInit(factory, &offer);
  check(result != TBX_OK && offer == NULL, "an offer without a store succeeded");

  length = (long)sizeof text;
  if (TBX_GetErrorStringFromResult(result, &length, text))
    printf("offer without a store: 0x%08lX (%s)\n", (unsigned long)result & 0xFFFFFFFFul, text);
  else
    printf("offer without a store: 0x%08lX\n", (unsigned long)result & 0xFFFFFFFFul);

  length = (long)sizeof text;
  check(TBX_GetErrorStringFromResult(TBX_E_FILE_NOT_FOUND, &length, text) == 1 &&
            strcmp(text, "file not found") == 0 && length == (long)sizeof "file not found",
        "wrong text for TBX_E_FILE_NOT_FOUND");

  /* The failure's message, measured then fetched. */
  length = 0;
  check(TBX_GetLastErrorMessage(&length, NULL) == TBX_E_BUFFER_TOO_SMALL && length > 1,
        "no message recorded for the failure");
  message = malloc((size_t)length);
  check(message != NULL && TBX_GetLastErrorMessage(&length, message) == TBX_OK &&
            strlen(message) + 1 == (size_t)length,
        "the failure's message could not be fetched");
  if (message)
    printf("message: %s\n", message);
  free(message);

  DestroyMessageFactory(factory);

  /* A destroyed handle is refused, not used. */
  check(MessageFactory_Open(factory, store) == TBX_E_INVALID_HANDLE,
        "a destroyed handle was accepted");

  printf("tbxapp %s: %s\n", TBXAPP_VERSION, failures ? "FAILED" : "ok");
  return failures ? 1 : 0;
}
