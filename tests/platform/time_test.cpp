#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

platform::LocalDate fixedDate() { return {2026, 3, 5}; }

TEST(Clock, InjectedClockIsReadAndSystemClockRestored) {
    platform::setClock(&fixedDate);
    const auto d = platform::localDate();
    EXPECT_EQ(d.year, 2026);
    EXPECT_EQ(d.month, 3);
    EXPECT_EQ(d.day, 5);
    platform::setClock(nullptr);
    const auto s = platform::localDate();
    EXPECT_GE(s.year, 2024);
    EXPECT_GE(s.month, 1);
    EXPECT_LE(s.month, 12);
    EXPECT_GE(s.day, 1);
    EXPECT_LE(s.day, 31);
}

TEST(Environment, UnsetAndEmptyReadTheSame) {
    ::unsetenv("NUBO_TEST_VARIABLE");
    EXPECT_EQ(platform::getEnvironmentVariable("NUBO_TEST_VARIABLE"), "");
    ::setenv("NUBO_TEST_VARIABLE", "", 1);
    EXPECT_EQ(platform::getEnvironmentVariable("NUBO_TEST_VARIABLE"), "");
    ::setenv("NUBO_TEST_VARIABLE", "C:\\app\\", 1);
    EXPECT_EQ(platform::getEnvironmentVariable("NUBO_TEST_VARIABLE"), "C:\\app\\");
    ::setenv("NUBO_TEST_VARIABLE", "Fich\u00C8r", 1);  // arrives in the code page
    EXPECT_EQ(platform::getEnvironmentVariable("NUBO_TEST_VARIABLE"), "Fich\xD4r");
    ::unsetenv("NUBO_TEST_VARIABLE");
}

}  // namespace
