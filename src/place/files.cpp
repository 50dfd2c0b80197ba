// Files in flight: made beside their final names, registered while they
// exist, and committed or dropped.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "place/place.h"
#include "registry.h"

void (*placeHeldHook)() = nullptr;

namespace {

// The packer has two files in flight at once (item.dat and itemloc.dat),
// the extractor one.
constexpr int slotCount = 4;

// A slot's path is complete before live is set, and the handler reads only
// the live ones.
struct Slot {
    char path[placePathMax];
    volatile std::sig_atomic_t live;
    int fd;
};
Slot slots[slotCount];

} // namespace

void placeRemoveAll() {
    placeRemoveFiles();
    placeRemoveDirs();
}

void placeRemoveFiles() {
    for (Slot &s : slots) {
        if (s.live) unlink(s.path);
        s.live = 0;
    }
}

int placeJoin(char *out, std::size_t capacity, const char *dir, const char *name) {
    if (dir == nullptr) dir = "";
    const std::size_t n = std::strlen(dir);
    const char *separator = n == 0 || dir[n - 1] == '/' ? "" : "/";
    const int made = std::snprintf(out, capacity, "%s%s%s", dir, separator, name);
    if (made < 0 || static_cast<std::size_t>(made) >= capacity) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return 0;
}

int placeBegin(const char *dir, const char *name) {
    int slot = 0;
    while (slot < slotCount && slots[slot].live) slot++;
    if (slot == slotCount) {
        errno = EMFILE;
        return -1;
    }
    Slot &s = slots[slot];
    char pattern[placePathMax];
    if (std::snprintf(pattern, sizeof pattern, ".%s.XXXXXX", name) >=
            static_cast<int>(sizeof pattern) ||
        placeJoin(s.path, sizeof s.path, dir, pattern) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    // A signal between the creation and the registration would find the
    // file unregistered, and its handler would leave it behind.
    const sigset_t old = placeHold();
    s.fd = mkstemp(s.path);
    if (s.fd >= 0 && placeHeldHook != nullptr) placeHeldHook();
    if (s.fd >= 0) s.live = 1;
    placeRelease(old);
    if (s.fd < 0) return -1;
    // mkstemp makes 0600; the file is one the user makes: 0666 less the umask.
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(s.fd, 0666 & ~mask) != 0) {
        placeDrop(slot);
        return -1;
    }
    return slot;
}

int placeFd(int slot) {
    return slots[slot].fd;
}

int placeClose(int slot, bool sync) {
    Slot &s = slots[slot];
    if (s.fd < 0) return 0;
    if (sync && fsync(s.fd) != 0) return -1;
    const int closed = close(s.fd);
    s.fd = -1;
    return closed;
}

int placeMove(int slot, const char *finalPath, bool replace) {
    Slot &s = slots[slot];
    int r;
    if (replace) {
        r = rename(s.path, finalPath);
    } else if (link(s.path, finalPath) == 0) {
        // link fails when the name exists: no window in which a file that
        // appeared meanwhile could be replaced.
        r = unlink(s.path);
    } else if (errno == EEXIST) {
        r = -1;
    } else {
        // A file system without hard links: look, then rename.
        struct stat st;
        if (lstat(finalPath, &st) == 0) {
            errno = EEXIST;
            r = -1;
        } else {
            r = rename(s.path, finalPath);
        }
    }
    if (r == 0) s.live = 0;
    return r;
}

void placeDrop(int slot) {
    const int error = errno;
    Slot &s = slots[slot];
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
    const sigset_t old = placeHold();
    if (s.live) unlink(s.path);
    s.live = 0;
    placeRelease(old);
    errno = error;
}

int placeCommit(int slot, const char *finalPath, bool replace) {
    if (placeClose(slot, true) != 0) {
        placeDrop(slot);
        return -1;
    }
    const sigset_t old = placeHold();
    const int r = placeMove(slot, finalPath, replace);
    placeRelease(old);
    if (r != 0) placeDrop(slot);
    return r;
}

int placeWriteAll(int fd, const std::uint8_t *bytes, std::size_t n) {
    while (n > 0) {
        const ssize_t done = write(fd, bytes, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return -1;
        bytes += done;
        n -= static_cast<std::size_t>(done);
    }
    return 0;
}
