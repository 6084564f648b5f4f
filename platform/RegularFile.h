#pragma once

// Opens a user's file for reading only when it is a regular file, without
// ever waiting: a FIFO without a writer would block open() for good, and a
// device is not something a picture or a sound file can be. Looked at before
// opening, so that a device is never opened, and again after, as the name
// may have changed hands in between. Returns a descriptor in blocking mode
// with close-on-exec set, or -1: then *pbNotRegular says whether the name
// is something other than a regular file, or else errno says what failed.
// Plain POSIX, so the file readers' fuzz targets can build it without Qt.
int OpenRegularFile(const char *pszPath, bool *pbNotRegular);
