// Peak heap of one MessageObject_FromString of the 1.40 MB document, above what was live before
// the call, as a multiple of the document's size. The C allocator is replaced in this program to
// count live bytes (operator new and OpenSSL allocate through it too).
//
//   xml_peak [--doc-out PATH]    prints {"document_bytes": N, "peak_bytes": P}; --doc-out also
//                                writes the document, for the Python baseline to parse the same
#include <malloc.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench_document.h"
#include "tbxapp.h"
#include "test_store.h"

extern "C" {
void* __libc_malloc(size_t n);
void* __libc_calloc(size_t n, size_t size);
void* __libc_realloc(void* p, size_t n);
void* __libc_memalign(size_t alignment, size_t n);
void __libc_free(void* p);
}

namespace {

// One thread runs here: plain counters.
size_t g_live = 0;
size_t g_peak = 0;

void* Counted(void* p)
{
  if (p != nullptr) {
    g_live += malloc_usable_size(p);
    if (g_live > g_peak)
      g_peak = g_live;
  }
  return p;
}

void Uncount(void* p)
{
  if (p != nullptr)
    g_live -= malloc_usable_size(p);
}

}  // namespace

extern "C" {

void* malloc(size_t n)
{
  return Counted(__libc_malloc(n));
}

void* calloc(size_t n, size_t size)
{
  return Counted(__libc_calloc(n, size));
}

void* realloc(void* p, size_t n)
{
  const size_t old = p != nullptr ? malloc_usable_size(p) : 0;
  void* q = __libc_realloc(p, n);
  if (q != nullptr || n == 0)
    g_live -= old;
  return Counted(q);
}

void free(void* p)
{
  Uncount(p);
  __libc_free(p);
}

void* memalign(size_t alignment, size_t n)
{
  return Counted(__libc_memalign(alignment, n));
}

void* aligned_alloc(size_t alignment, size_t n)
{
  return Counted(__libc_memalign(alignment, n));
}

int posix_memalign(void** out, size_t alignment, size_t n)
{
  void* p = Counted(__libc_memalign(alignment, n));
  if (p == nullptr)
    return 12;  // ENOMEM
  *out = p;
  return 0;
}

}  // extern "C"

int main(int argc, char** argv)
{
  const std::string doc = BenchDocument();
  if (argc == 3 && std::strcmp(argv[1], "--doc-out") == 0) {
    FILE* f = std::fopen(argv[2], "wb");
    if (f == nullptr || std::fwrite(doc.data(), 1, doc.size(), f) != doc.size() ||
        std::fclose(f) != 0)
      return 1;
  }
  tbxtest::TestStore store;
  void* object = CreateMessageObject();
  if (MessageObject_Open(object, store.Path().c_str()) != TBX_OK)
    return 1;
  // A first parse of a small text sets up whatever is made once per process.
  if (MessageObject_FromString(object, "<TBX MSGTYPE=\"Batch\"/>") != TBX_OK)
    return 1;
  const size_t before = g_live;
  g_peak = before;
  if (MessageObject_FromString(object, doc.c_str()) != TBX_OK)
    return 1;
  const size_t peak = g_peak - before;
  DestroyMessageObject(object);
  std::printf("{\"document_bytes\": %zu, \"peak_bytes\": %zu}\n", doc.size(), peak);
  return 0;
}
