// src/model/json_store.hpp: whole-file text reads of assets and save files, and the atomic,
// durable replacement of a save file. What the texts mean is the caller's business.
#pragma once
#include <cstddef>

// Largest buffer a read may grow to; a file that does not fit with its NUL is refused. The
// largest file the program itself can write (the received list at its worst, about 3.1 MB, and
// the preset list, about 3.6 MB) stays far below, so nothing it writes is ever refused.
#define STORE_MAX_FILE_BYTES 16777216

// The text of a read-only asset (a name relative to the assets folder, e.g. "lang/fr.json"),
// NUL-terminated, owned by the caller (free). Null when it cannot be found or read.
char *store_read_asset(const char *resource);

// The text of a file in the save directory, owned by the caller (free). Null when it does not
// exist (not an error) or cannot be read.
char *store_read_save(const char *filename);

// Replaces a save file with the bytes of data up to its NUL, atomically and durably: readers see
// either the old file or the new one, also after a crash or a power cut. 1 when the file now
// holds exactly data, durably. 0 on failure (logged): the old file is left as it was, except
// when only the final directory sync failed, when the new file is in place but may not survive
// a power cut.
int store_write_save(const char *filename, const char *data);

// Moves a save file that exists but could not be used out of the way, so that the next save
// does not destroy what may still be repaired by hand. It becomes "<filename>.rejected" when
// that name is free, else "<filename>.<date>-<time>.rejected" (with "-2", "-3"... when even
// that is taken): an earlier rejected copy is never replaced. The name given is written to
// kept (kept_size bytes, may be null). 1 if the file was moved; 0 when there was none
// (quietly) or it could not be moved (logged).
int store_set_aside(const char *filename, char *kept, size_t kept_size);
