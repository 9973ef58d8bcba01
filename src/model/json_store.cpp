// src/model/json_store.cpp: the three whole-file operations every save file and asset go
// through.
//
// A save goes to "<name>.tmp" first and is renamed over the real file, so a reader only ever
// sees a complete file. Closing a file does not put its data on the disk, though: after a
// power cut a freshly renamed file can come back empty while the old one is gone. So the
// temporary file is synced before the rename, and the directory after it.
#include "model/json_store.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <allegro5/allegro.h>

#include "platform/platform_desktop.hpp"
#include "support/ka_common.hpp"

// Reads the rest of file into a new NUL-terminated buffer, doubling from 4 KiB up to the cap.
// Closes file in every case. Out of memory fails quietly: the caller has nothing to log that
// the allocator would not say better.
static char *_read_all(ALLEGRO_FILE *file) {
    size_t cap = 4096;
    size_t len = 0;
    char *buf = (char *)malloc(cap);
    if (!buf) {
        al_fclose(file);
        return nullptr;
    }
    for (;;) {
        if (len + 1 >= cap) {
            if (cap >= STORE_MAX_FILE_BYTES) {
                ka_log(LOG_ERR, "file larger than %d bytes, refused", STORE_MAX_FILE_BYTES);
                free(buf);
                al_fclose(file);
                return nullptr;
            }
            char *bigger = (char *)realloc(buf, cap * 2);
            if (!bigger) {
                free(buf);
                al_fclose(file);
                return nullptr;
            }
            buf = bigger;
            cap *= 2;
        }
        size_t got = al_fread(file, buf + len, cap - len - 1);
        if (got == 0) break;
        len += got;
    }
    // A read error also returns 0 bytes; taking it for the end of the file would hand the
    // caller a cut-off text that looks like a damaged file, which start-up then replaces.
    bool failed = al_ferror(file);
    al_fclose(file);
    if (failed) {
        ka_log(LOG_ERR, "read error after %zu bytes", len);
        free(buf);
        return nullptr;
    }
    buf[len] = '\0';
    return buf;
}

char *store_read_asset(const char *resource) {
    __ka_assert(resource, return nullptr);
    char path[512];
    if (!platform_asset_path(resource, path, sizeof path)) return nullptr;
    ALLEGRO_FILE *file = al_fopen(path, "rb");
    if (!file) {
        ka_log(LOG_ERR, "asset %s not found", path);
        return nullptr;
    }
    return _read_all(file);
}

char *store_read_save(const char *filename) {
    __ka_assert(filename, return nullptr);
    char path[1024];
    if (!platform_save_path(filename, path, sizeof path)) return nullptr;
    platform_begin_save_io();
    char *text = nullptr;
    ALLEGRO_FILE *file = al_fopen(path, "rb");
    if (file) text = _read_all(file);
    platform_end_save_io();
    return text;
}

// Writes the n bytes to a new temporary file of the given mode (-1: the default, under the
// umask) and puts them on the device. 1 on success; 0 when the file was created but not written
// and synced whole (the caller removes it); -1 when it could not even be created.
static int _write_synced(const char *tmp_path, const char *data, size_t n, int mode) {
    int fd = open(tmp_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        ka_log(LOG_ERR, "cannot write %s", tmp_path);
        return -1;
    }
    // fchmod, unlike open, is not cut by the umask: the replaced file's mode comes back whole.
    if (mode >= 0 && fchmod(fd, (mode_t)mode) != 0) {
        ka_log(LOG_ERR, "cannot give %s the mode %o: %s", tmp_path, mode, strerror(errno));
        close(fd);
        return 0;
    }
    ALLEGRO_FILE *file = al_fopen_fd(fd, "wb");
    if (!file) {
        close(fd);
        ka_log(LOG_ERR, "cannot write %s", tmp_path);
        return 0; // the empty temporary file exists now and must go
    }
    bool ok = al_fwrite(file, data, n) == n;
    ok = al_fflush(file) && ok;
    if (ok && fsync(fd) != 0) {
        ka_log(LOG_ERR, "cannot sync %s: %s", tmp_path, strerror(errno));
        ok = false;
    }
    // al_fclose closes fd as well.
    ok = al_fclose(file) && ok;
    return ok ? 1 : 0;
}

// The file a save replaces: the save file itself, or, when that is a symbolic link (a user who
// keeps the file in another folder), the file the link leads to, so that the link stays a link
// and its target gets the new text. A link to a file not there yet leads to where it is to be
// made. 1 with the path in out; 0 (logged) for a loop of links or a path too long.
static int _save_target(const char *path, char *out, size_t out_size) {
    if ((size_t)snprintf(out, out_size, "%s", path) >= out_size) return 0;
    for (int hops = 0; hops < 40; hops++) {
        struct stat st;
        if (lstat(out, &st) != 0 || !S_ISLNK(st.st_mode)) return 1;
        char link[PATH_MAX];
        ssize_t n = readlink(out, link, sizeof link - 1);
        if (n < 0) break;
        link[n] = '\0';
        const char *slash = strrchr(out, '/');
        int fits;
        if (link[0] == '/' || !slash) {
            fits = (size_t)snprintf(out, out_size, "%s", link) < out_size;
        } else {
            size_t dir_len = (size_t)(slash - out) + 1;
            fits = dir_len + (size_t)n < out_size;
            if (fits) memcpy(out + dir_len, link, (size_t)n + 1);
        }
        if (!fits) break;
    }
    ka_log(LOG_ERR, "cannot follow the link %s", path);
    return 0;
}

// Makes the rename itself durable by syncing the directory that holds path. File systems
// that cannot sync a directory say so with EINVAL; their renames are as durable as they get.
static int _sync_parent_dir(const char *path) {
    char dir[PATH_MAX];
    const char *slash = strrchr(path, '/');
    if (!slash) {
        snprintf(dir, sizeof dir, ".");
    } else if (slash == path) {
        snprintf(dir, sizeof dir, "/");
    } else {
        snprintf(dir, sizeof dir, "%.*s", (int)(slash - path), path);
    }
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        ka_log(LOG_ERR, "cannot sync directory %s: %s", dir, strerror(errno));
        return 0;
    }
    int ok = fsync(fd) == 0 || errno == EINVAL;
    if (!ok) ka_log(LOG_ERR, "cannot sync directory %s: %s", dir, strerror(errno));
    close(fd);
    return ok;
}

int store_write_save(const char *filename, const char *data) {
    __ka_assert(filename, return 0);
    __ka_assert(data, return 0);
    char path[1024];
    if (!platform_save_path(filename, path, sizeof path)) return 0;
    platform_begin_save_io();
    char target[PATH_MAX];
    if (!_save_target(path, target, sizeof target)) {
        platform_end_save_io();
        return 0;
    }
    // The temporary file sits beside the target, so the rename stays within its file system.
    char tmp_path[PATH_MAX + 8];
    snprintf(tmp_path, sizeof tmp_path, "%s.tmp", target);
    // The user may have narrowed the file's permissions (600): the new file keeps them.
    struct stat old;
    int mode = stat(target, &old) == 0 && S_ISREG(old.st_mode) ? (int)(old.st_mode & 07777) : -1;

    size_t n = strlen(data);
    int written = _write_synced(tmp_path, data, n, mode);
    if (written < 0) {
        platform_end_save_io();
        return 0;
    }
    if (written == 0) {
        remove(tmp_path);
        platform_end_save_io();
        return 0;
    }
    if (rename(tmp_path, target) != 0) {
        ka_log(LOG_ERR, "rename %s -> %s failed", tmp_path, target);
        remove(tmp_path);
        platform_end_save_io();
        return 0;
    }
    int durable = _sync_parent_dir(target);
    platform_end_save_io();
    return durable;
}

// Moves from to to unless something already has that name. 1 when moved; 0 when the name is
// taken; -1 on any other failure (errno says why). The check and the move are one step where
// the file system allows it, so even a file appearing meanwhile is never replaced.
static int _move_unless_taken(const char *from, const char *to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 1;
    if (errno == EEXIST) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // No such rename here: a hard link is refused over an existing name just the same.
    if (link(from, to) == 0) {
        unlink(from);
        return 1;
    }
    if (errno == EEXIST) return 0;
    if (errno != EPERM && errno != EOPNOTSUPP) return -1;
    // No hard links either (FAT): look first. Only this program writes the save folder.
    struct stat st;
    if (lstat(to, &st) == 0) return 0;
    return rename(from, to) == 0 ? 1 : -1;
}

// The suffix of the attempt-th name tried for a rejected file: ".rejected" first, then the
// local time ".20241231-235959.rejected", then the same with "-2", "-3"...
static void _aside_suffix(int attempt, const struct tm *now, char *out, size_t out_size) {
    if (attempt == 0) {
        snprintf(out, out_size, ".rejected");
        return;
    }
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", now);
    if (attempt == 1) {
        snprintf(out, out_size, ".%s.rejected", stamp);
    } else {
        snprintf(out, out_size, ".%s-%d.rejected", stamp, attempt);
    }
}

int store_set_aside(const char *filename, char *kept, size_t kept_size) {
    if (kept && kept_size) kept[0] = '\0';
    __ka_assert(filename, return 0);
    char path[1024];
    if (!platform_save_path(filename, path, sizeof path)) return 0;
    time_t t = time(nullptr);
    struct tm now;
    localtime_r(&t, &now);
    platform_begin_save_io();
    // A missing file has nothing to keep; asking the file system to move it anyway would, on a
    // read-only or unwritable folder, fail with EROFS or EACCES and log a move that never was.
    struct stat st;
    if (lstat(path, &st) != 0 && errno == ENOENT) {
        platform_end_save_io();
        return 0;
    }
    int moved = 0;
    char aside[1100];
    char suffix[64];
    // A thousand copies within one second would take a runaway loop of damaged files; stop
    // rather than spin.
    for (int attempt = 0; attempt < 1000; attempt++) {
        _aside_suffix(attempt, &now, suffix, sizeof suffix);
        if ((size_t)snprintf(aside, sizeof aside, "%s%s", path, suffix) >= sizeof aside) break;
        moved = _move_unless_taken(path, aside);
        if (moved != 0) break;
    }
    if (moved == 1) {
        _sync_parent_dir(path);
        if (kept) snprintf(kept, kept_size, "%s%s", filename, suffix);
    } else if (moved < 0 && errno != ENOENT) { // ENOENT: nothing there to keep
        ka_log(LOG_ERR, "rename %s -> %s failed: %s", path, aside, strerror(errno));
    } else if (moved == 0) {
        ka_log(LOG_ERR, "cannot keep %s aside: no free name", path);
    }
    moved = moved == 1;
    platform_end_save_io();
    return moved;
}
