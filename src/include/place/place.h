#pragma once
// Files written aside and moved into place whole. A file in flight is a
// temporary file beside its final name, registered from the moment it
// exists; it is then committed (synced, closed and linked or renamed to its
// name) or dropped. Folders made for the files are registered too, and go
// again unless kept. One registry serves the whole program: a signal that
// ends the run removes what is in it first, so that neither a failure nor a
// signal leaves part of a file, or a folder the run made, behind.
// quorlin-pack's store and quorlin-unpack -o write their files this way.
#include <csignal>
#include <cstddef>
#include <cstdint>

// --- Signals ---------------------------------------------------------------

// Catches the signals that end a run (SIGINT, SIGTERM, SIGHUP, SIGQUIT and
// SIGPIPE): the handler removes what the registry holds, then the signal
// ends the program as it would have. A signal the program was started with
// ignored (nohup, trap '' PIPE) stays ignored. SIGXFSZ is ignored, so that
// a write past the file size limit fails (EFBIG) and is reported like any
// failed write instead of ending the run with a core dump.
void placeCatchSignals();

// Holds off every signal that can be held, for a step that must not be cut
// in two (a file made and registered, two files placed together); the mask
// to give back to placeRelease.
sigset_t placeHold();
// Gives the mask back; errno is kept.
void placeRelease(const sigset_t &old);

// --- Folders -----------------------------------------------------------------

// Creates dir and every missing folder above it, with the mode a new folder
// gets from the umask; repeated and trailing slashes make none. The folders
// it made are registered: placeDropDirs (or a signal) removes them again
// until placeKeepDirs. 0, or -1 with errno and placeFailedPath() naming the
// component that could not be made (ENOTDIR: it exists and is no folder);
// the folders made so far are removed again.
int placeMakeDirs(const char *dir);
const char *placeFailedPath();
// The folders placeMakeDirs made now hold something that stays.
void placeKeepDirs();
// Removes the folders placeMakeDirs made, deepest first, if they are empty.
void placeDropDirs();

// --- Files -------------------------------------------------------------------

// Starts a file in flight: the temporary file "DIR/.NAME.XXXXXX" (dir "" or
// nullptr for the current folder), with the mode a new file gets from the
// umask. Its slot in the registry (0 or more), or -1 with errno.
int placeBegin(const char *dir, const char *name);
// The descriptor to write the file through.
int placeFd(int slot);
// Syncs (when sync is set) and closes the file. 0, or -1 with errno; the
// file stays registered either way.
int placeClose(int slot, bool sync);
// Moves the closed file to finalPath, never over an existing file unless
// replace is set (not even one made since it was last looked for: EEXIST),
// and forgets it. 0, or -1 with errno and the file still registered.
int placeMove(int slot, const char *finalPath, bool replace);
// Closes (if open) and removes the file, and forgets it; errno is kept.
void placeDrop(int slot);
// Syncs, closes and moves the file into place; 0, or -1 with errno and the
// file dropped.
int placeCommit(int slot, const char *finalPath, bool replace);

// --- Paths and writes ----------------------------------------------------------

// Joins a folder ("" or nullptr for the current one) and a name into out
// (capacity bytes): "name", "dir/name", or "dir/name" for "dir/". 0, or -1
// (ENAMETOOLONG) when it does not fit.
int placeJoin(char *out, std::size_t capacity, const char *dir, const char *name);

// Writes all n bytes to fd, retrying short writes and signals; 0, or -1
// with errno.
int placeWriteAll(int fd, const std::uint8_t *bytes, std::size_t n);

// A test's way into the step that registers a new file: called with every
// signal held, between the temporary file's creation and its registration.
// nullptr in the programs.
extern void (*placeHeldHook)();
