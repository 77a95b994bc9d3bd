#include "runtime/memory_limit.h"

#include <limits>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

TEST(MemoryLimit, UsableBytesAreAtMostThePhysicalMemory) {
    const auto physical =
        static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGE_SIZE));
    EXPECT_GT(MemoryLimit::usable_bytes(), 0u);
    EXPECT_LE(static_cast<double>(MemoryLimit::usable_bytes()), physical);
}

TEST(MemoryLimit, RefusesWhatCannotFitNamingTheSize) {
    EXPECT_NO_THROW(MemoryLimit::check_fits(0.0, "nothing"));
    EXPECT_NO_THROW(MemoryLimit::check_fits(1e6, "a megabyte"));
    for (double bytes : {1e30, std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN()}) {
        try {
            MemoryLimit::check_fits(bytes, "Too many things");
            ADD_FAILURE() << bytes << " accepted";
        } catch (std::length_error const& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("Too many things need about ", 0), 0u) << text;
            EXPECT_NE(text.find(" GB, more than the "), std::string::npos) << text;
        }
    }
}
