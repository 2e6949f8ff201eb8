// The page's stream operations without a window, each on full "\\?\...:name" paths, so that they
// run on a worker and the page alone decides what the user is told.
#pragma once
#include <windows.h>

#include "shell/propntfs/content_copy.h"

namespace kestrune {

enum class StreamOutcome {
    Done,
    Exists,       // the new name is taken
    InUse,        // another program holds the stream without sharing it
    TargetInUse,  // another program holds the file to be written
    OutOfMemory,
    OpenFailed,   // the source cannot be opened (gone, or no access)
    CreateFailed, // the target cannot be created or opened for writing
    ReadFailed,
    WriteFailed,
    Cancelled,
    NotRemoved,   // the old name of a copied stream could not go: the copy was taken back
    FormerContentKept, // a file written part way could not be put back: its old content is kept beside
};

// Opens an existing stream or file to read, sharing reads only, so its content holds still.
HANDLE OpenToRead(const wchar_t* path);

// Copies `source` into `target`, which must not exist. A copy that fails or is cancelled is
// removed through the handle that made it, never by name.
StreamOutcome CopyIntoNew(HANDLE source, const wchar_t* target, CopyProgress* progress);

// The stream's content into `file`, written whole into `beside` (a free name in the same folder)
// first. An existing file keeps its identity: its content is rewritten through a handle, so its
// other links, its streams, owner, security and attributes stay. It is left as it was when the
// copy fails or is cancelled: its old content is copied to `former` (another free name) before a
// byte of it changes, and written back when writing it fails part way; where that fails too,
// `former` stays (FormerContentKept).
StreamOutcome SaveStreamTo(const wchar_t* streamPath, const wchar_t* file, const wchar_t* beside, const wchar_t* former,
                           CopyProgress* progress);

// Renames the stream in place; where the volume refuses that, copies it under the new name and
// removes the old one, opened for deletion before anything is copied.
StreamOutcome RenameStreamTo(const wchar_t* oldPath, const wchar_t* newPath, const wchar_t* newName,
                             CopyProgress* progress);

} // namespace kestrune
