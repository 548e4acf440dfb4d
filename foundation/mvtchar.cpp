#include "mvtchar.h"

char* TCSCPY(char* dst, const char* src)
{
  char* d = dst;
  while ((*d++ = *src++) != '\0')
    ;
  return dst;
}

char* TCSNCPY(char* dst, const char* src, unsigned n)
{
  for (unsigned i = 0; i < n; ++i) {
    dst[i] = src[i];
    if (src[i] == '\0')
      break;
  }
  return dst;
}

int TCSNCMP(const char* a, const char* b, unsigned n)
{
  if (n == 0)
    return 0;
  if (!a)
    return b ? -1 : 0;
  if (!b)
    return 1;
  const bool limited = n != 0xFFFFFFFFu;
  for (;; ++a, ++b) {
    if (limited && n-- == 0)
      return 0;
    if (*a == '\0')
      return *b == '\0' ? 0 : -1;
    if (*b == '\0')
      return 1;
    if (*a != *b)
      return static_cast<signed char>(*a) > static_cast<signed char>(*b) ? 1 : -1;
  }
}
