// Files of the sandbox's state directory. Every write replaces its file whole, through a
// temporary file in the same directory and a rename, so a crash leaves the old or the new content.
#ifndef SBFILE_H
#define SBFILE_H

#include <string>

namespace sandbox {

// Reads the whole file (at most `limit` bytes; larger files fail). False when it cannot be read.
bool ReadFile(const std::string& path, std::string& content, size_t limit = 1 << 20);

// Writes `content` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. `mode` is the new file's permission. False (with `error` set) on any failure; the old
// file is then untouched.
bool WriteFileAtomic(const std::string& path, const std::string& content, unsigned mode,
                     std::string& error);

// Creates `dir` and its missing parents with `mode`. False (with `error` set) when one cannot be
// made or exists as something other than a directory.
bool MakeDirs(const std::string& dir, unsigned mode, std::string& error);

bool FileExists(const std::string& path);

// The text of errno as "strerror (errno N)".
std::string ErrnoText(int err);

}  // namespace sandbox

#endif
