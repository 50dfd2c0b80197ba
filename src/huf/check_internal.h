#pragma once
// Shared by the sources of the tree's checks only.

// The text of a broken rule, formatted only when one is found, in one
// buffer that the next fault overwrites.
[[gnu::format(printf, 1, 2)]] const char *hufFaultText(const char *format, ...);
