#pragma once
// Captures the bytes a call writes to standard output (through the text
// stream) or to standard error (file descriptor 2), CR LF line ends included.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "textio/textio.h"

namespace hufcheck {

inline std::string readAll(std::FILE *f) {
    std::fflush(f);
    std::rewind(f);
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
    return out;
}

template <typename Call> std::string captureStdout(Call call) {
    std::FILE *f = std::tmpfile();
    txtSetOutput(fileno(f));
    call();
    txtFlush();
    txtSetOutput(1);
    std::string out = readAll(f);
    std::fclose(f);
    return out;
}

template <typename Call> std::string captureStderr(Call call) {
    std::FILE *f = std::tmpfile();
    const int saved = dup(2);
    dup2(fileno(f), 2);
    call();
    dup2(saved, 2);
    close(saved);
    std::string out = readAll(f);
    std::fclose(f);
    return out;
}

} // namespace hufcheck
