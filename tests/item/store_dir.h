#pragma once
// The item store reads its files from the current directory: each test runs
// inside a fresh directory of its own and returns to the old one afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "fixture.h"
#include "item/item.h"

inline fx::Bytes operator+(fx::Bytes a, const fx::Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A readable test name from a case's description.
inline std::string nameOf(const char *text) {
    std::string name;
    for (const char *p = text; *p != '\0'; p++) {
        const bool alnum =
            (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9');
        name += alnum ? *p : '_';
    }
    return name;
}

struct StoreDir : ::testing::Test {
    std::string dir;
    std::string oldCwd;

    void SetUp() override {
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        oldCwd = buf;
        dir = fx::tempDir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        itemClose();
        ASSERT_EQ(chdir(oldCwd.c_str()), 0);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};
