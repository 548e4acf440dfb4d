// The per-thread snapshot of store files: content kept with the file's marks, revalidated by
// one lstat per read.
#include "tbxsnapshot.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include <openssl/crypto.h>

namespace {

const long long kNanos = 1000000000LL;
// Answers kept per file: the few values a payment asks of one file, with room to spare.
const size_t kAnswersPerFile = 32;

// Bumped by a flush; each thread drops its snapshot when it sees a newer value.
std::atomic<unsigned long> g_Generation{0};

long long Nanos(const struct timespec& t)
{
  return static_cast<long long>(t.tv_sec) * kNanos + t.tv_nsec;
}

long long Now()
{
  struct timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return Nanos(t);
}

// What identifies a file's content without reading it.
struct Marks
{
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long modified = 0;
  long long changed = 0;

  explicit Marks(const struct stat& st = {})
      : device(st.st_dev), inode(st.st_ino), size(st.st_size), modified(Nanos(st.st_mtim)),
        changed(Nanos(st.st_ctim))
  {}
  bool operator==(const Marks& o) const
  {
    return device == o.device && inode == o.inode && size == o.size && modified == o.modified &&
           changed == o.changed;
  }
};

void Cleanse(std::string& s)
{
  if (!s.empty())
    OPENSSL_cleanse(&s[0], s.size());
  std::string().swap(s);
}

struct Answer
{
  std::string name;
  bool found = false;
  std::string value;
};

struct Entry
{
  std::string path;  // empty: the slot is free
  Marks marks;
  long long readAt = 0;  // when the content was read (before the read began)
  std::string content;
  std::vector<Answer> answers;
  unsigned long long lastUse = 0;

  bool Holds(const MvString& p) const
  {
    return !path.empty() && path.size() == p.size() &&
           path.compare(0, path.size(), p.c_str(), p.size()) == 0;
  }
  // Marks older than the racy window before the read: a later write changes them.
  bool Trusted() const
  {
    const long long window = TBX_SNAPSHOT_RACY_SECONDS * kNanos;
    return marks.modified < readAt - window && marks.changed < readAt - window;
  }
  void DropAnswers()
  {
    for (Answer& a : answers)
      Cleanse(a.value);
    std::vector<Answer>().swap(answers);
  }
  void Drop()
  {
    Cleanse(content);
    DropAnswers();
    std::string().swap(path);
    marks = Marks();
    readAt = 0;
  }
};

class Snapshot
{
public:
  Snapshot() = default;
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;
  ~Snapshot() { Flush(); }

  static Snapshot& ThisThread()
  {
    thread_local Snapshot snapshot;
    const unsigned long generation = g_Generation.load(std::memory_order_acquire);
    if (snapshot.m_Generation != generation) {
      snapshot.Flush();
      snapshot.m_Generation = generation;
    }
    return snapshot;
  }

  Entry* Find(const MvString& path)
  {
    for (Entry& e : m_Entries) {
      if (e.Holds(path))
        return &e;
    }
    return nullptr;
  }
  // A free slot, else the least recently used one, emptied.
  Entry& Take()
  {
    Entry* victim = &m_Entries[0];
    for (Entry& e : m_Entries) {
      if (e.path.empty()) {
        victim = &e;
        break;
      }
      if (e.lastUse < victim->lastUse)
        victim = &e;
    }
    victim->Drop();
    return *victim;
  }
  void Use(Entry& e) { e.lastUse = ++m_Clock; }
  void Flush()
  {
    for (Entry& e : m_Entries)
      e.Drop();
  }

private:
  Entry m_Entries[TBX_SNAPSHOT_FILES];
  unsigned long long m_Clock = 0;
  unsigned long m_Generation = 0;
};

// Brings the snapshot of `path` up to date. On Read, `kept` is the entry holding the content, or
// null when the file is not kept: `content` then holds it. Otherwise the entry is gone.
// With `link`, a symbolic link is not followed: *link tells whether `path` is one, and a link is
// NotOpened.
TBX_ReadResult Refresh(const MvString& path, MvString& content, Entry*& kept, bool* link)
{
  kept = nullptr;
  if (link != nullptr)
    *link = false;
  if (path.empty() || TBX_HasZeroByte(path))
    return TBX_ReadFile(path, content);
  Snapshot& snapshot = Snapshot::ThisThread();
  Entry* entry = snapshot.Find(path);
  if (entry != nullptr || link != nullptr) {
    // lstat answers for a plain file what stat would, and tells a link apart in the same call.
    struct stat st;
    int rc = lstat(path.c_str(), &st);
    if (rc == 0 && S_ISLNK(st.st_mode)) {
      if (link != nullptr) {
        *link = true;
        return TBX_ReadResult::NotOpened;
      }
      rc = stat(path.c_str(), &st);
    }
    if (rc != 0) {
      const int err = errno;
      if (entry != nullptr)
        entry->Drop();
      if (err == ENOENT || err == ENOTDIR)
        return TBX_ReadResult::NotOpened;
      return TBX_ReadFile(path, content);  // the reader tells what it is
    }
    if (entry != nullptr && Marks(st) == entry->marks && entry->Trusted()) {
      snapshot.Use(*entry);
      kept = entry;
      return TBX_ReadResult::Read;
    }
  }

  // Not kept, changed, or too fresh to trust: read it, and keep what it says now.
  const long long before = Now();
  MvString bytes;
  struct stat st;
  const TBX_ReadResult read = TBX_ReadFile(path, bytes, SIZE_MAX, &st);
  if (read != TBX_ReadResult::Read || !S_ISREG(st.st_mode) ||
      bytes.size() > TBX_SNAPSHOT_MAX_BYTES) {
    if (entry != nullptr)
      entry->Drop();
    if (read == TBX_ReadResult::Read)
      content = std::move(bytes);
    return read;
  }
  try {
    if (entry == nullptr) {
      entry = &snapshot.Take();
      entry->path.assign(path.c_str(), path.size());
    }
    // The same content (a fresh file reread) keeps what was derived from it.
    const char* text = bytes.c_str() != nullptr ? bytes.c_str() : "";
    if (entry->content.size() != bytes.size() ||
        entry->content.compare(0, entry->content.size(), text, bytes.size()) != 0) {
      Cleanse(entry->content);
      entry->DropAnswers();
      entry->content.assign(text, bytes.size());
    }
    entry->marks = Marks(st);
    entry->readAt = before;
    snapshot.Use(*entry);
    kept = entry;
  } catch (const std::bad_alloc&) {
    // Short of memory: the file is read, only not kept.
    if (entry != nullptr)
      entry->Drop();
    kept = nullptr;
  }
  if (bytes.begin() != nullptr && kept != nullptr)
    OPENSSL_cleanse(bytes.begin(), bytes.size());
  if (kept == nullptr)
    content = std::move(bytes);
  return TBX_ReadResult::Read;
}

}  // namespace

TBX_ReadResult TBX_SnapshotRead(const MvString& path, MvString& content, bool* link)
{
  Entry* kept = nullptr;
  MvString fresh;
  const TBX_ReadResult read = Refresh(path, fresh, kept, link);
  if (read != TBX_ReadResult::Read)
    return read;
  if (kept != nullptr)
    content.assign(kept->content.data(), static_cast<unsigned>(kept->content.size()));
  else
    content = std::move(fresh);
  return read;
}

TBX_ReadResult TBX_SnapshotValue(const MvString& path, const MvString& name,
                                 TBX_SnapshotDerive derive, bool& found, MvString& value)
{
  Entry* kept = nullptr;
  MvString content;
  const TBX_ReadResult read = Refresh(path, content, kept, nullptr);
  if (read != TBX_ReadResult::Read)
    return read;
  if (kept == nullptr) {
    found = derive(path, content, name, value);
    return read;
  }
  for (const Answer& a : kept->answers) {
    if (a.name.size() == name.size() &&
        a.name.compare(0, a.name.size(), name.c_str() != nullptr ? name.c_str() : "",
                       name.size()) == 0) {
      found = a.found;
      if (a.found)
        value.assign(a.value.data(), static_cast<unsigned>(a.value.size()));
      return read;
    }
  }
  content.assign(kept->content.data(), static_cast<unsigned>(kept->content.size()));
  MvString derived;
  const bool answer = derive(path, content, name, derived);
  if (content.begin() != nullptr)
    OPENSSL_cleanse(content.begin(), content.size());
  // `derive` reads no store file, so the entry still holds the content it was given.
  if (kept->answers.size() < kAnswersPerFile) {
    try {
      Answer a;
      a.name.assign(name.c_str() != nullptr ? name.c_str() : "", name.size());
      a.found = answer;
      if (answer)
        a.value.assign(derived.c_str() != nullptr ? derived.c_str() : "", derived.size());
      kept->answers.push_back(std::move(a));
    } catch (const std::bad_alloc&) {
      // Not kept; the answer stands.
    }
  }
  found = answer;
  if (answer)
    value = derived;
  return read;
}

void TBX_SnapshotFlush()
{
  g_Generation.fetch_add(1, std::memory_order_acq_rel);
  Snapshot::ThisThread();
}
