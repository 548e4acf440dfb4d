// A base for classes that own a descriptor, a lock or threads: a copy would release them twice.
#ifndef SBNOCOPY_H
#define SBNOCOPY_H

namespace sandbox {

class NonCopyable
{
public:
  NonCopyable(const NonCopyable&) = delete;
  NonCopyable& operator=(const NonCopyable&) = delete;

protected:
  NonCopyable() = default;
  ~NonCopyable() = default;
};

}  // namespace sandbox

#endif
