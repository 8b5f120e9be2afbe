#include <gtest/gtest.h>

#include "platform/library.h"

namespace {

// The test module exports `answer`, which returns 42 (library_test_module.cpp).
using AnswerFunction = int (*)();

TEST(Library, LoadsAnEntryOfALibrary) {
    const platform::LibraryEntry entry = platform::loadLibraryEntry(NUBO_TEST_MODULE, "answer");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(reinterpret_cast<AnswerFunction>(entry)(), 42);
    // Loading again gives the same entry.
    EXPECT_EQ(platform::loadLibraryEntry(NUBO_TEST_MODULE, "answer"), entry);
}

TEST(Library, MissingLibraryOrEntryGivesNothing) {
    EXPECT_EQ(platform::loadLibraryEntry("nubo-no-such-library-here.dll", "answer"), nullptr);
    EXPECT_EQ(platform::loadLibraryEntry(NUBO_TEST_MODULE, "noSuchEntry"), nullptr);
    EXPECT_EQ(platform::loadLibraryEntry("", "answer"), nullptr);
    EXPECT_EQ(platform::loadLibraryEntry(NUBO_TEST_MODULE, ""), nullptr);
}

}  // namespace
