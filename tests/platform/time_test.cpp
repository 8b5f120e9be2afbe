#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/environment.h"

namespace {

platform::LocalDate fixedDate() {
    return {2026, 3, 5};
}

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
    testing_support::unsetEnvironment("NUBO_TEST_VARIABLE");
    EXPECT_EQ(platform::getEnvironmentVariable("NUBO_TEST_VARIABLE"), "");
    testing_support::setEnvironment("NUBO_TEST_VARIABLE", "");
    EXPECT_EQ(platform::getEnvironmentVariable("NUBO_TEST_VARIABLE"), "");
    testing_support::setEnvironment("NUBO_TEST_VARIABLE", "C:\\app\\");
    EXPECT_EQ(platform::getEnvironmentVariable("NUBO_TEST_VARIABLE"), "C:\\app\\");
    testing_support::setEnvironment("NUBO_TEST_VARIABLE",
                                    "Fich\u00C8r");  // arrives in the code page
    EXPECT_EQ(platform::getEnvironmentVariable("NUBO_TEST_VARIABLE"), "Fich\xD4r");
    testing_support::unsetEnvironment("NUBO_TEST_VARIABLE");
}

}  // namespace
