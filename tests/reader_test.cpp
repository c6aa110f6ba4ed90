// SPDX-License-Identifier: Apache-2.0

// The reader's bound, in process: whatever size it is told, it never reads more than
// SKUID_FILE_MAX bytes, so that a file that grows while it is read cannot hold the boot up.
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include <cutils/properties.h>
#include <gtest/gtest.h>

#include "store/sku_store.h"

TEST(Reader, NeverReadsPastTheBound) {
    struct Case {
        const char* name;
        std::string content;
        size_t told;  // the size the reader is told (what fstat found)
        std::string value;
        off_t read;  // where the reader stops
    } cases[] = {
            {"a file within the bound", std::string(999, '\n') + "LAST", 1003, "LAST", 1003},
            {"a file that grew after fstat", "FIRST\nLATER", 6, "FIRST\n", 6},
            {"a file that shrank after fstat", "SHORT", 100, "SHORT", 5},
            {"a file told larger than the bound", std::string(SKUID_FILE_MAX - 1, '\n') + "ab\ncd",
             SKUID_FILE_MAX + 4, "a", static_cast<off_t>(SKUID_FILE_MAX)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int fd = memfd_create("skuid", 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, c.content.data(), c.content.size()),
                  static_cast<ssize_t>(c.content.size()));
        ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
        char out[PROPERTY_VALUE_MAX] = {};
        read_skuid_content(fd, c.told, out);
        EXPECT_EQ(out, c.value);
        EXPECT_EQ(lseek(fd, 0, SEEK_CUR), c.read);
        close(fd);
    }
}
