#pragma once
// Files written aside and moved into place whole: a temporary file beside
// the final one, made and marked for removal with signals held off, then
// linked or renamed to its name. quorlin-pack's store and quorlin-unpack -o
// write their files this way, so that a failure or a signal leaves no part
// of a file behind.
#include <csignal>
#include <cstddef>
#include <cstdint>

// Holds off every signal that can be held, for a step that must not be cut
// in two (a file made and marked, two files placed together); the mask to
// give back to placeRelease.
sigset_t placeHold();
// Gives the mask back; errno is kept.
void placeRelease(const sigset_t &old);

// Makes the temporary file "DIR/.NAME.XXXXXX" (dir "" for the current
// folder) in path (capacity bytes), with the mode a new file gets from the
// umask, and sets *live once it exists: a signal handler that sees *live
// unlinks path, and nothing else. The descriptor, or -1 with errno.
int placeTemp(char *path, std::size_t capacity, const char *dir, const char *name,
              volatile sig_atomic_t *live);

// Moves the finished temporary file to final. Without replace, an existing
// final is never replaced, even one made since it was last looked for
// (EEXIST). 0, or -1 with errno and the temporary file still there.
int placeFinal(const char *temp, const char *final, bool replace);

// Writes all n bytes to fd, retrying short writes and signals; 0, or -1
// with errno.
int placeWriteAll(int fd, const std::uint8_t *bytes, std::size_t n);
