/*
 * tbxsnapshot.h - what the store's local files said, kept per thread and revalidated, not reread.
 *
 * A shop reads the same few store files (config.xml, keys/current, the key files) on every call,
 * and they almost never change. Each thread keeps the content of the last TBX_SNAPSHOT_FILES
 * files it read, with the file's identity and change marks (device, inode, size, modification
 * and status-change time in nanoseconds). A read looks at the file's status (one lstat; for a
 * link, a stat of its target too) and hands out the kept content while the marks are unchanged;
 * any change rereads the file, so a replaced or rewritten file takes effect on the next read, as
 * when every read opened the file.
 *
 * Marks too fresh to be trusted: a file written twice within one timestamp tick, with the same
 * size, keeps its marks. So while a file's modification or status-change time lies within
 * TBX_SNAPSHOT_RACY_SECONDS of the moment its content was read (the coarsest tick of common file
 * systems), every read rereads it and keeps what it finds; once the marks are older than that,
 * any later write gives them a newer time.
 *
 * Kept out of the snapshot: files over TBX_SNAPSHOT_MAX_BYTES, anything but regular files, and
 * stores read over HTTP (callers go to the transport for those). The kept bytes are cleansed
 * whenever they leave (eviction, change, flush, thread exit): private keys pass through here.
 * The snapshot holds plain bytes, never library objects, so it leaves the live-object count
 * alone. Running out of memory only means a file is not kept.
 */
#ifndef TBXSNAPSHOT_H
#define TBXSNAPSHOT_H

#include "mvstring.h"
#include "tbxbase.h"

enum
{
  /* Files each thread keeps (the store's files a payment reads, with room for a second store). */
  TBX_SNAPSHOT_FILES = 16,
  /* Largest file kept; store files are a few hundred bytes. */
  TBX_SNAPSHOT_MAX_BYTES = 64 * 1024,
  /* Seconds within which a file's marks do not vouch for its content. */
  TBX_SNAPSHOT_RACY_SECONDS = 2
};

/*
 * Reads the local file at `path` as TBX_ReadFile does (the same results, `content` unchanged
 * unless Read), through the calling thread's snapshot. With `link`, a symbolic link at `path` is
 * not followed: *link is set when it is one, and the result is then NotOpened.
 */
TBX_ReadResult TBX_SnapshotRead(const MvString& path, MvString& content, bool* link = nullptr);

/*
 * What `derive` makes of the file's content for `name` (one attribute of a store file): computed
 * from the content TBX_SnapshotRead hands out, and kept beside it until the content changes, so
 * an unchanged file is neither reread nor parsed again. On Read, `found` is what `derive`
 * answered and `value` its value when found; otherwise both stay as they were. A throw of
 * `derive` passes through and nothing is kept.
 */
typedef bool (*TBX_SnapshotDerive)(const MvString& path, const MvString& content,
                                   const MvString& name, MvString& value);
TBX_ReadResult TBX_SnapshotValue(const MvString& path, const MvString& name,
                                 TBX_SnapshotDerive derive, bool& found, MvString& value);

/* Drops this thread's snapshot now, and every other thread's at its next read. */
void TBX_SnapshotFlush();

#endif /* TBXSNAPSHOT_H */
