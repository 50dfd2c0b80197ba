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

constexpr std::size_t pathMax = 4096;
char dirPath[pathMax];
char indexPath[pathMax];
char dataPath[pathMax];
char failure[2 * pathMax + 128];

// The two files in flight (slots of the place registry), -1 when none.
int indexSlot = -1;
int dataSlot = -1;
int dataFd = -1;
bool overwriteStore = false;
bool active = false;

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

void closeAndRemove() {
    if (indexSlot >= 0) placeDrop(indexSlot);
    if (dataSlot >= 0) placeDrop(dataSlot);
    indexSlot = -1;
    dataSlot = -1;
    dataFd = -1;
    placeDropDirs();
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

// Creates dirPath and every missing folder above it. A component that
// exists but is no folder is named in the failure.
int makeDirs() {
    if (placeMakeDirs(dirPath) == 0) return 0;
    const int error = errno;
    const char *at = placeFailedPath();
    if (error != ENOTDIR) return failWith("cannot create directory", at, error);
    // The store's folder itself is a file, or a folder above it is.
    char trimmed[pathMax];
    std::snprintf(trimmed, sizeof trimmed, "%s", dirPath);
    for (std::size_t n = std::strlen(trimmed); n > 1 && trimmed[n - 1] == '/'; n--) {
        trimmed[n - 1] = '\0';
    }
    if (std::strcmp(at, trimmed) == 0) {
        failWith(at, "is not a directory", 0);
    } else {
        char what[pathMax + 32];
        char why[pathMax + 32];
        std::snprintf(what, sizeof what, "cannot create directory %s:", dirPath);
        std::snprintf(why, sizeof why, "%s is not a directory", at);
        failWith(what, why, 0);
    }
    failureErrno = ENOTDIR;
    return -1;
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
    if (placeWriteAll(placeFd(indexSlot), indexBuffer, static_cast<std::size_t>(indexUsed)) != 0)
        return -1;
    indexUsed = 0;
    return 0;
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
    if (placeJoin(indexPath, pathMax, d, indexName) != 0 ||
        placeJoin(dataPath, pathMax, d, dataName) != 0) {
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
    indexSlot = placeBegin(d, indexName);
    if (indexSlot < 0) return failWith("cannot create a file in", d[0] ? d : ".", errno);
    dataSlot = placeBegin(d, dataName);
    if (dataSlot < 0) return failWith("cannot create a file in", d[0] ? d : ".", errno);
    dataFd = placeFd(dataSlot);
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
        char why[64];
        std::snprintf(why, sizeof why, "an item holds at most %zu bytes", encItemMax);
        return failWith(what, why, 0);
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
    if (placeClose(dataSlot, true) != 0) return failWith("cannot write", dataPath, errno);
    if (placeClose(indexSlot, true) != 0) return failWith("cannot write", indexPath, errno);
    // The two files are placed with signals held off: a signal between them
    // would leave half a store, and one before the folders are kept would
    // remove the folders that now hold it.
    const sigset_t old = placeHold();
    // item.dat first: a reader that finds the new index finds its data too.
    if (placeMove(dataSlot, dataPath, overwriteStore) != 0) {
        placeRelease(old);
        return failWith("cannot create", dataPath, errno);
    }
    dataSlot = -1;
    if (placeMove(indexSlot, indexPath, overwriteStore) != 0) {
        const int error = errno;
        // Without overwrite the item.dat just placed is ours: take it back
        // rather than leave half a store.
        if (!overwriteStore) unlink(dataPath);
        placeRelease(old);
        return failWith("cannot create", indexPath, error);
    }
    indexSlot = -1;
    active = false;
    placeKeepDirs();
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
