// Texts between the library and the world: messages and attributes fetched from the library
// (measure, then fetch), written to standard output or saved to a file, and saved messages loaded.
// Results are 0, a library result code or the operating system's error number.
#ifndef KESTRUM_TEXT_H
#define KESTRUM_TEXT_H

#include <memory>
#include <string>

// Writes text to standard output; a stream that fails (closed, disk full) is a failure, not a
// silently cut result.
long WriteOut(const char* text);

// Writes the text form of a message to standard output (`path` null) or saves it to `path`,
// replacing the file whole where it can. `fromLibrary` tells a failed library call from a failure
// of the utility.
long WriteMessage(void* message, const char* path, bool& fromLibrary);

// Loads a saved message into an opened message object. A failure of the utility's own gets its
// reason in `reason`.
long LoadMessage(void* message, const char* path, bool& fromLibrary, std::string& reason);

// Measures and fetches one attribute, or the signed URL, of a message; failures of the library
// get the error report.
long FetchAttribute(void* message, const char* name, std::unique_ptr<char[]>& value);
long FetchURL(void* message, std::unique_ptr<char[]>& url);

#endif
