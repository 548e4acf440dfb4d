// Character-string helpers of the foundation classes. Characters are plain 8-bit `char`,
// compared as signed values; no character-set conversion happens anywhere.
#ifndef MVTCHAR_H
#define MVTCHAR_H

// Copies `src` with its terminator and returns `dst`. Neither pointer may be null.
char* TCSCPY(char* dst, const char* src);

// Copies until a terminator has been copied or `n` characters have been; adds no terminator of
// its own. Returns `dst`. Neither pointer may be null.
char* TCSNCPY(char* dst, const char* src, unsigned n);

// Compares at most `n` characters (0xFFFFFFFF: no limit; 0: answers 0) and answers -1, 0 or 1.
// A null pointer sorts before any text, two null pointers are equal.
int TCSNCMP(const char* a, const char* b, unsigned n);

#endif
