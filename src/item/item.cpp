#include "item/item.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "format/format.h"

namespace {

// Items are read in runs of at most 512 bytes; the 8 spare bytes let the
// 64-bit peek load past the last valid byte without leaving the array.
constexpr int bufferSize = 512;

// Index records are read a block at a time: the walk over all items takes
// them in order, one system call per 256 records instead of one each.
constexpr int indexBlock = 4096;

// item.dat too: the walk takes the items in the order they were written, and
// most are shorter than a run, so one read serves hundreds of them.
constexpr int dataBlock = 65536;

// The byte arrays stand apart from the reader's other state, which starts
// with closed handles (-1): zero-filled, they take no room in the program
// file.
std::uint8_t indexBytes[indexBlock];
std::uint8_t runBytes[bufferSize + 8];
std::uint8_t blockBytes[dataBlock];

struct BitReader {
    int locFile = -1;
    int dataFile = -1;
    // indexBytes holds itemloc.dat from indexStart on, as last read.
    off_t indexStart = 0;
    int indexLen = 0;
    // Where the next run of the selected item starts in item.dat; reads give
    // the position, so selecting an item needs no seek. runBytes holds the
    // current run.
    off_t dataPos = 0;
    std::int32_t remaining = 0;
    // blockBytes holds item.dat from blockStart on, as last read.
    off_t blockStart = 0;
    int blockLen = 0;
    // The index record of the item last selected.
    std::uint32_t selectedOffset = 0;
    std::uint32_t selectedStored = 0;
};

BitReader reader;

// Reads up to n bytes from position at, retrying short reads and signals;
// the count read, which is below n only at the end of the file or when a
// read failed (*failed set, errno telling why).
int readFull(int fd, std::uint8_t *p, int n, off_t at, bool *failed) {
    int got = 0;
    *failed = false;
    while (got < n) {
        ssize_t r = pread(fd, p + got, static_cast<std::size_t>(n - got), at + got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) *failed = true;
        if (r <= 0) break;
        got += static_cast<int>(r);
    }
    return got;
}

// Reads up to n bytes (at most a run) of item.dat from position at into p,
// through the block; the count read, below n only where item.dat ends or
// cannot be read (*failed).
int readData(std::uint8_t *p, int n, off_t at, bool *failed) {
    *failed = false;
    if (at < reader.blockStart || at + n > reader.blockStart + reader.blockLen) {
        reader.blockStart = at;
        reader.blockLen = readFull(reader.dataFile, blockBytes, dataBlock, at, failed);
    }
    const off_t inBlock = reader.blockStart + reader.blockLen - at;
    const int got = inBlock < n ? static_cast<int>(inBlock) : n;
    std::memcpy(p, blockBytes + (at - reader.blockStart), static_cast<std::size_t>(got));
    return got;
}

} // namespace

ItemRun itemRun{runBytes, 0, 0};

// A run shorter than asked for means item.dat ended early: it is closed, so
// every later itemSelect fails too.
int itemRefill() {
    if (reader.remaining <= 0) return -1;
    int want = reader.remaining < bufferSize ? reader.remaining : bufferSize;
    bool failed = false;
    int got = reader.dataFile < 0 ? 0 : readData(runBytes, want, reader.dataPos, &failed);
    if (got < want) {
        if (reader.dataFile >= 0) close(reader.dataFile);
        reader.dataFile = -1;
        return -1;
    }
    reader.remaining -= got;
    reader.dataPos += got;
    itemRun.bits = got * 8;
    itemRun.bitsUsed = 0;
    std::memset(runBytes + got, 0, 8);
    return got * 8;
}

namespace {

// The file of the last failed open, for the caller's message.
const char *openFailedName = "";

// Opens one file of the store for reading: a regular file only. A folder
// opens on this system, and a pipe would wait for a writer, so both are
// refused here rather than failing later as an item that cannot be read.
int openStoreFile(int dirFd, const char *name) {
    const int fd = openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    int error = 0;
    if (fstat(fd, &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

int itemOpenAt(const char *dir) {
    itemClose();
    int dirFd = AT_FDCWD;
    if (dir != nullptr && dir[0] != '\0') {
        dirFd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) {
            openFailedName = "";
            return -1;
        }
    }
    openFailedName = "itemloc.dat";
    reader.locFile = openStoreFile(dirFd, "itemloc.dat");
    if (reader.locFile >= 0) {
        openFailedName = "item.dat";
        reader.dataFile = openStoreFile(dirFd, "item.dat");
    }
    const int error = errno;
    if (dirFd != AT_FDCWD) close(dirFd);
    if (reader.locFile < 0 || reader.dataFile < 0) {
        itemClose();
        errno = error;
        return -1;
    }
    openFailedName = "";
    return 0;
}

int itemOpen() {
    return itemOpenAt(nullptr);
}

const char *itemOpenFailedName() {
    return openFailedName;
}

ItemStatus itemSelectStatus(std::int32_t n, std::int32_t *length) {
    // Nothing of the previous item may be delivered after a failed select.
    itemRun.bits = 0;
    itemRun.bitsUsed = 0;
    reader.remaining = 0;
    *length = 0;
    if (reader.locFile < 0 || n < 0) {
        errno = EBADF;
        return itemIndexUnreadable;
    }

    // 64-bit position: record 2147483647 starts beyond 2^32.
    const off_t recordPos = static_cast<off_t>(n) * fmtRecordSize;
    if (recordPos < reader.indexStart ||
        recordPos + fmtRecordSize > reader.indexStart + reader.indexLen) {
        bool failed;
        reader.indexStart = recordPos;
        reader.indexLen = readFull(reader.locFile, indexBytes, indexBlock, recordPos, &failed);
        if (reader.indexLen < fmtRecordSize) {
            if (failed) return itemIndexUnreadable;
            return reader.indexLen == 0 ? itemIndexEnds : itemRecordCut;
        }
    }
    const std::uint8_t *record = indexBytes + (recordPos - reader.indexStart);
    std::uint32_t offset = fmtBigEndian32(record + fmtOffsetAt);
    std::uint32_t stored = fmtBigEndian32(record + fmtStoredAt);
    reader.selectedOffset = offset;
    reader.selectedStored = stored;

    // The offset is a signed 32-bit position: 2^31 and above cannot be sought.
    auto itemPos = static_cast<std::int32_t>(offset);
    if (itemPos < 0) return itemOffsetTooLarge;
    // An item shorter than its header has no decoded length to report.
    if (stored < fmtHeaderSize) return itemStoredTooShort;
    if (reader.dataFile < 0) return itemDataClosed;
    int first = stored < bufferSize ? static_cast<int>(stored) : bufferSize;
    bool failed;
    if (readData(runBytes, first, itemPos, &failed) < first) {
        return failed ? itemDataUnreadable : itemDataEnds;
    }
    reader.dataPos = static_cast<off_t>(itemPos) + first;
    std::memset(runBytes + first, 0, 8);

    const auto decoded =
        static_cast<std::int32_t>(fmtLittleEndian32(runBytes + fmtDecodedLengthAt));
    *length = decoded;
    reader.remaining = static_cast<std::int32_t>(stored - static_cast<std::uint32_t>(first));
    itemRun.bits = first * 8;
    // The bit stream follows the header; an item of just the header has none.
    itemRun.bitsUsed = fmtHeaderSize * 8;
    return decoded < 0 ? itemNegativeLength : itemOk;
}

std::int32_t itemSelect(std::int32_t n) {
    std::int32_t length;
    const ItemStatus status = itemSelectStatus(n, &length);
    return status == itemOk || status == itemNegativeLength ? length : -1;
}

void itemSelectedRecord(std::uint32_t *offset, std::uint32_t *stored) {
    *offset = reader.selectedOffset;
    *stored = reader.selectedStored;
}

std::int64_t itemIndexRecords() {
    struct stat st;
    if (reader.locFile < 0 || fstat(reader.locFile, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size) / fmtRecordSize;
}

ItemWalk itemWalkFrom(std::int64_t first, std::int64_t last) {
    return ItemWalk{first, last, first};
}

bool itemWalkNext(ItemWalk *walk, ItemStep *step) {
    const std::int64_t n = walk->next;
    if (n > fmtItemNumberMax || (walk->last != itemToEnd && n > walk->last)) return false;
    step->n = static_cast<std::int32_t>(n);
    step->status = itemSelectStatus(step->n, &step->length);
    walk->next = n + 1;
    if (step->status == itemIndexEnds || step->status == itemRecordCut) {
        // Nothing follows the index's end.
        walk->next = fmtItemNumberMax + 1;
        if (step->status == itemIndexEnds && walk->last == itemToEnd &&
            (n > walk->first || n == 0)) {
            return false;
        }
    }
    return true;
}

std::int32_t itemGetBits(int k) {
    std::int32_t result = 0;
    while (k > 0) {
        std::uint64_t word;
        int have = itemPeekBits(&word);
        if (have < 0) return -1;
        int take = have < k ? have : k;
        result = static_cast<std::int32_t>(static_cast<std::uint32_t>(result) << take |
                                           static_cast<std::uint32_t>(word >> (64 - take)));
        itemRun.bitsUsed += take;
        k -= take;
    }
    return result;
}

int itemClose() {
    if (reader.locFile >= 0) close(reader.locFile);
    if (reader.dataFile >= 0) close(reader.dataFile);
    reader.locFile = -1;
    reader.dataFile = -1;
    reader.indexLen = 0;
    reader.blockLen = 0;
    return 0;
}
