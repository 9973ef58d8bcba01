// src/model/json_store.hpp: whole-file text reads of assets and save files, and the atomic,
// durable replacement of a save file. What the texts mean is the caller's business.
#pragma once
#include <cstddef>

// Largest buffer a read may grow to; a file that does not fit with its NUL is refused.
#define STORE_MAX_FILE_BYTES 4194304

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
