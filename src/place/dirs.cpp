// Folders made for the files in flight: registered, so that a failed or
// stopped run takes them away again.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "place/place.h"
#include "registry.h"

namespace {

// The path placeMakeDirs was given, and a mark at the index where each
// folder it made ends in it. A mark is set only once the folder exists, and
// read by the signal handler.
char madePath[placePathMax];
volatile unsigned char madeAt[placePathMax];
volatile std::sig_atomic_t madeAny = 0;
// madePath as placeRemoveDirs cuts it short at each folder it removes.
char removePath[placePathMax];
// The component placeMakeDirs could not make.
char failedPath[placePathMax];

bool isDir(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int failAt(const char *prefix, int error) {
    std::strcpy(failedPath, prefix);
    placeDropDirs();
    errno = error;
    return -1;
}

} // namespace

int placeMakeDirs(const char *dir) {
    placeKeepDirs();
    failedPath[0] = '\0';
    const std::size_t length = std::strlen(dir);
    if (length >= placePathMax) return failAt("", ENAMETOOLONG);
    std::memcpy(madePath, dir, length + 1);
    char prefix[placePathMax];
    for (std::size_t end = 1; end <= length; end++) {
        // A component ends before a slash or at the end; repeated slashes
        // and a trailing one add none.
        if (end < length && (dir[end] != '/' || dir[end - 1] == '/')) continue;
        if (end == length && dir[end - 1] == '/') continue;
        std::memcpy(prefix, dir, end);
        prefix[end] = '\0';
        struct stat st;
        if (stat(prefix, &st) == 0) {
            if (S_ISDIR(st.st_mode)) continue;
            return failAt(prefix, ENOTDIR);
        }
        if (errno != ENOENT) return failAt(prefix, errno);
        const sigset_t old = placeHold();
        const int made = mkdir(prefix, 0777);
        if (made == 0) {
            madeAt[end] = 1;
            madeAny = 1;
        }
        placeRelease(old);
        if (made != 0) {
            // Made meanwhile by someone else: as good as ours, but not ours
            // to remove.
            if (errno == EEXIST && isDir(prefix)) continue;
            return failAt(prefix, errno);
        }
    }
    return 0;
}

const char *placeFailedPath() {
    return failedPath;
}

void placeKeepDirs() {
    const sigset_t old = placeHold();
    madeAny = 0;
    for (std::size_t i = 0; i < placePathMax; i++) madeAt[i] = 0;
    placeRelease(old);
}

void placeDropDirs() {
    const sigset_t old = placeHold();
    placeRemoveDirs();
    placeRelease(old);
}

// rmdir takes only empty folders, so nothing another process put there
// meanwhile is lost.
void placeRemoveDirs() {
    if (!madeAny) return;
    std::size_t end = 0;
    while (madePath[end] != '\0') {
        removePath[end] = madePath[end];
        end++;
    }
    removePath[end] = '\0';
    for (std::size_t i = end + 1; i-- > 0;) {
        if (!madeAt[i]) continue;
        removePath[i] = '\0';
        rmdir(removePath);
        madeAt[i] = 0;
    }
    madeAny = 0;
}
