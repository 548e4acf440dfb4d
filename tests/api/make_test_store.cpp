// make_test_store DIR [CAPTUREURL]: builds a ready configuration store in DIR (created; its parent
// must exist) for tests that drive programs rather than the library's classes.
#include <cstdio>
#include <exception>

#include "test_store.h"

int main(int argc, char** argv)
{
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_test_store DIR [CAPTUREURL]\n");
    return 2;
  }
  try {
    tbxtest::StoreOptions options;
    if (argc == 3)
      options.captureUrl = argv[2];
    tbxtest::TestStore store(argv[1], options, true);
    std::printf("%s\n", store.Path().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_test_store: %s\n", e.what());
    return 1;
  }
  return 0;
}
