#pragma once
// What the companion programs share: option errors as getopt words them,
// under the program's own name, and the checked end of standard output.
// The signals that end a run are caught by placeCatchSignals (place/place.h).

// Names the program in getopt's messages by name, whatever path it was
// started by (getopt takes the name from argv[0]), and lets getopt print
// them: "NAME: invalid option -- 'x'", "NAME: option requires an argument --
// 'C'", "NAME: option '--list' doesn't allow an argument".
void cliBegin(const char *name, char **argv);

// The program's name as cliBegin was given it.
const char *cliName();

// After getopt has refused an option: the hint line that follows its
// message; returns the exit status, 1.
int cliTryHelp();

// Flushes and closes standard output. 0, or 1 after a message when what was
// printed there was lost (a full disk, a closed pipe).
int cliCloseStdout();
