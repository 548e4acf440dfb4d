/* Uses the public header from plain C, as a customer's C program would. */
#include "tbxapp.h"

#include <stdio.h>
#include <string.h>

int main(void)
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
  return 0;
}
