// A whole store written to temporary files and moved into place at the end.
#include "encode/store.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

#include "encode/encode.h"
#include "format/format.h"
#include "place/place.h"

namespace {

constexpr const char *indexName = "itemloc.dat";
constexpr const char *dataName = "item.dat";
// Index records are gathered and written 4096 at a time.
constexpr int indexBufferRecords = 4096;

// Paths are kept in fixed buffers so that a signal handler can remove the
// temporary files without touching anything that allocates.
constexpr std::size_t pathMax = 4096;
char dirPath[pathMax];
char indexPath[pathMax];
char dataPath[pathMax];
char indexTemp[pathMax];
char dataTemp[pathMax];
char failure[2 * pathMax + 128];

int indexFd = -1;
int dataFd = -1;
bool overwriteStore = false;
bool active = false;
// A path to remove after a failure, or an empty string. Written only while
// no temporary file exists in it, and read by the signal handler.
volatile sig_atomic_t indexTempLive = 0;
volatile sig_atomic_t dataTempLive = 0;
// Folders of dirPath this run created, each marked at the index where its
// path ends in dirPath, so that a failed run takes them away again. Set only
// after the folder exists, and read by the signal handler.
volatile unsigned char madeDir[pathMax];
volatile sig_atomic_t madeDirs = 0;
// dirPath as removeMadeDirs cuts it short at each folder it removes.
char removePath[pathMax];

std::uint8_t indexBuffer[indexBufferRecords * fmtRecordSize];
int indexUsed = 0;
std::uint64_t items = 0;
std::uint64_t dataBytes = 0;
// Bytes of the current item written so far, and whether its writing failed.
std::uint64_t itemBytes = 0;
int itemErrno = 0;
bool itemTooLarge = false;

int failureErrno = 0;

void setFailure(const char *what, const char *path, int error) {
    failureErrno = error;
    if (error != 0) {
        std::snprintf(failure, sizeof failure, "%s %s: %s", what, path, std::strerror(error));
    } else {
        std::snprintf(failure, sizeof failure, "%s %s", what, path);
    }
}

// What goes between dirPath and a file name: nothing for the current
// directory or a path that already ends in a slash ("out/").
const char *separator() {
    const std::size_t n = std::strlen(dirPath);
    return n == 0 || dirPath[n - 1] == '/' ? "" : "/";
}

bool joinPath(char *out, const char *name) {
    const int n = std::snprintf(out, pathMax, "%s%s%s", dirPath, separator(), name);
    return n > 0 && static_cast<std::size_t>(n) < pathMax;
}

// A temporary file beside the store, with the permissions a new file of the
// store would get; live is set once it exists.
int makeTemp(char *path, const char *name, volatile sig_atomic_t *live) {
    return placeTemp(path, pathMax, dirPath, name, live);
}

// Removes the folders this run created, deepest first. rmdir takes only empty
// ones, so nothing another process put there meanwhile is lost. Safe in a
// signal handler.
void removeMadeDirs() {
    if (!madeDirs) return;
    std::size_t end = 0;
    while (dirPath[end] != '\0') {
        removePath[end] = dirPath[end];
        end++;
    }
    removePath[end] = '\0';
    for (std::size_t i = end + 1; i-- > 0;) {
        if (!madeDir[i]) continue;
        removePath[i] = '\0';
        rmdir(removePath);
        madeDir[i] = 0;
    }
    madeDirs = 0;
}

void closeAndRemove() {
    if (indexFd >= 0) close(indexFd);
    if (dataFd >= 0) close(dataFd);
    indexFd = -1;
    dataFd = -1;
    if (indexTempLive) unlink(indexTemp);
    if (dataTempLive) unlink(dataTemp);
    indexTempLive = 0;
    dataTempLive = 0;
    removeMadeDirs();
    active = false;
}

int failWith(const char *what, const char *path, int error) {
    setFailure(what, path, error);
    closeAndRemove();
    return -1;
}

bool exists(const char *path) {
    struct stat st;
    return lstat(path, &st) == 0;
}

bool isDir(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates dirPath and every missing folder above it, one component after
// another, with the mode a new folder gets from the umask. A component that
// exists but is no folder is named in the failure.
int makeDirs() {
    char prefix[pathMax];
    const std::size_t length = std::strlen(dirPath);
    for (std::size_t end = 1; end <= length; end++) {
        // A component ends before a slash or at the end; repeated slashes
        // and a trailing one add none.
        if (end < length && (dirPath[end] != '/' || dirPath[end - 1] == '/')) continue;
        if (end == length && dirPath[end - 1] == '/') continue;
        std::memcpy(prefix, dirPath, end);
        prefix[end] = '\0';
        struct stat st;
        if (stat(prefix, &st) == 0) {
            if (S_ISDIR(st.st_mode)) continue;
            if (end == length) {
                failWith(prefix, "is not a directory", 0);
            } else {
                char what[pathMax + 32];
                char why[pathMax + 32];
                std::snprintf(what, sizeof what, "cannot create directory %s:", dirPath);
                std::snprintf(why, sizeof why, "%s is not a directory", prefix);
                failWith(what, why, 0);
            }
            failureErrno = ENOTDIR;
            return -1;
        }
        if (errno != ENOENT) return failWith("cannot create directory", prefix, errno);
        const sigset_t old = placeHold();
        const int made = mkdir(prefix, 0777);
        if (made == 0) {
            madeDir[end] = 1;
            madeDirs = 1;
        }
        placeRelease(old);
        if (made != 0) {
            // Made meanwhile by someone else: as good as ours, but not ours
            // to remove.
            if (errno == EEXIST && isDir(prefix)) continue;
            return failWith("cannot create directory", prefix, errno);
        }
    }
    return 0;
}

int putData(void *, const std::uint8_t *bytes, std::size_t n) {
    itemBytes += n;
    // The item must start below 2 GiB and keep its stored length below 2 GiB.
    if (itemBytes > encStoreLimit) {
        itemTooLarge = true;
        return -1;
    }
    if (placeWriteAll(dataFd, bytes, n) != 0) {
        itemErrno = errno;
        return -1;
    }
    return 0;
}

int flushIndex() {
    if (placeWriteAll(indexFd, indexBuffer, static_cast<std::size_t>(indexUsed)) != 0) return -1;
    indexUsed = 0;
    return 0;
}

// Moves a finished temporary file to its final name, over an existing one
// only with overwrite.
int place(const char *temp, const char *final) {
    return placeFinal(temp, final, overwriteStore);
}

} // namespace

int encStoreBegin(const char *dir, bool overwrite) {
    if (active) closeAndRemove();
    failure[0] = '\0';
    items = 0;
    dataBytes = 0;
    indexUsed = 0;
    overwriteStore = overwrite;
    const char *d = dir == nullptr ? "" : dir;
    if (std::strlen(d) >= pathMax - 32) return failWith("directory name too long:", d, 0);
    std::snprintf(dirPath, pathMax, "%s", d);
    if (!joinPath(indexPath, indexName) || !joinPath(dataPath, dataName)) {
        return failWith("directory name too long:", d, 0);
    }
    if (!overwrite) {
        for (const char *path : {indexPath, dataPath}) {
            if (exists(path)) {
                failWith(path, "already exists", 0);
                failureErrno = EEXIST;
                return -1;
            }
        }
    }
    if (makeDirs() != 0) return -1;
    indexFd = makeTemp(indexTemp, indexName, &indexTempLive);
    if (indexFd < 0) return failWith("cannot create a file in", d[0] ? d : ".", errno);
    dataFd = makeTemp(dataTemp, dataName, &dataTempLive);
    if (dataFd < 0) return failWith("cannot create a file in", d[0] ? d : ".", errno);
    active = true;
    return 0;
}

int encStoreAdd(const std::uint8_t *text, std::size_t n) {
    if (!active) {
        setFailure("no store in progress", "", 0);
        return -1;
    }
    if (n > encItemMax) {
        char what[64];
        std::snprintf(what, sizeof what,
                      "item %llu is too large:", static_cast<unsigned long long>(items));
        return failWith(what, "an item holds at most 2147483647 bytes", 0);
    }
    if (dataBytes > encStoreLimit) {
        return failWith("store too large:", "items must start below 2 GiB", 0);
    }
    itemBytes = 0;
    itemErrno = 0;
    itemTooLarge = false;
    const EncWriter writer{putData, nullptr};
    const std::int64_t stored = encItem(text, n, &writer);
    if (stored < 0) {
        if (itemTooLarge) {
            char what[64];
            std::snprintf(what, sizeof what,
                          "item %llu is too large:", static_cast<unsigned long long>(items));
            return failWith(what, "its stored length passes 2 GiB", 0);
        }
        return failWith("cannot write", dataPath, itemErrno);
    }
    std::uint8_t *record = indexBuffer + indexUsed;
    std::memset(record, 0, fmtRecordSize);
    fmtPutBigEndian32(record + fmtOffsetAt, static_cast<std::uint32_t>(dataBytes));
    fmtPutBigEndian32(record + fmtStoredAt, static_cast<std::uint32_t>(stored));
    indexUsed += fmtRecordSize;
    if (indexUsed == static_cast<int>(sizeof indexBuffer) && flushIndex() != 0) {
        return failWith("cannot write", indexPath, errno);
    }
    dataBytes += static_cast<std::uint64_t>(stored);
    items++;
    return 0;
}

int encStoreCommit() {
    if (!active) {
        setFailure("no store in progress", "", 0);
        return -1;
    }
    if (flushIndex() != 0) return failWith("cannot write", indexPath, errno);
    if (fsync(dataFd) != 0) return failWith("cannot write", dataPath, errno);
    if (fsync(indexFd) != 0) return failWith("cannot write", indexPath, errno);
    const int closedData = close(dataFd);
    dataFd = -1;
    if (closedData != 0) return failWith("cannot write", dataPath, errno);
    const int closedIndex = close(indexFd);
    indexFd = -1;
    if (closedIndex != 0) return failWith("cannot write", indexPath, errno);
    // The two files are placed with signals held off: a signal between them
    // would leave half a store, and one before the marks below are cleared
    // would remove the folders that now hold it.
    const sigset_t old = placeHold();
    // item.dat first: a reader that finds the new index finds its data too.
    if (place(dataTemp, dataPath) != 0) {
        placeRelease(old);
        return failWith("cannot create", dataPath, errno);
    }
    dataTempLive = 0;
    if (place(indexTemp, indexPath) != 0) {
        const int error = errno;
        // Without overwrite the item.dat just placed is ours: take it back
        // rather than leave half a store.
        if (!overwriteStore) unlink(dataPath);
        placeRelease(old);
        return failWith("cannot create", indexPath, error);
    }
    indexTempLive = 0;
    active = false;
    // The folders now hold the store: they stay.
    madeDirs = 0;
    for (std::size_t i = 0; dirPath[i] != '\0'; i++) madeDir[i + 1] = 0;
    placeRelease(old);
    // Make the new names durable; a directory that cannot be synced is no
    // reason to fail a store that is already in place.
    const int dirFd = open(dirPath[0] ? dirPath : ".", O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return 0;
}

void encStoreAbort() {
    if (active) closeAndRemove();
}

void encStoreAbortFromSignal() {
    if (indexTempLive) unlink(indexTemp);
    if (dataTempLive) unlink(dataTemp);
    removeMadeDirs();
}

const char *encStoreFailure() {
    return failure;
}
int encStoreErrno() {
    return failureErrno;
}
std::uint64_t encStoreItems() {
    return items;
}
std::uint64_t encStoreBytes() {
    return dataBytes;
}
