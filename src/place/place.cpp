#include "place/place.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

sigset_t placeHold() {
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    return old;
}

void placeRelease(const sigset_t &old) {
    const int error = errno;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = error;
}

int placeTemp(char *path, std::size_t capacity, const char *dir, const char *name,
              volatile sig_atomic_t *live) {
    const std::size_t n = std::strlen(dir);
    const char *separator = n == 0 || dir[n - 1] == '/' ? "" : "/";
    const int made = std::snprintf(path, capacity, "%s%s.%s.XXXXXX", dir, separator, name);
    if (made <= 0 || static_cast<std::size_t>(made) >= capacity) {
        errno = ENAMETOOLONG;
        return -1;
    }
    // A signal between the creation and the mark would find the file
    // unmarked, and its handler would leave it behind.
    const sigset_t old = placeHold();
    const int fd = mkstemp(path);
    if (fd >= 0) *live = 1;
    placeRelease(old);
    if (fd < 0) return -1;
    // mkstemp makes 0600; the file is one the user makes: 0666 less the umask.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return fd;
}

int placeFinal(const char *temp, const char *final, bool replace) {
    if (replace) return rename(temp, final);
    // link fails when the name exists: no window in which a file that
    // appeared meanwhile could be replaced.
    if (link(temp, final) == 0) return unlink(temp);
    if (errno == EEXIST) return -1;
    // A file system without hard links: look, then rename.
    struct stat st;
    if (lstat(final, &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(temp, final);
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
