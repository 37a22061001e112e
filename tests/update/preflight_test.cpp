#include <gtest/gtest.h>

#include <cstdint>

#include "update/preflight.h"

namespace {

constexpr std::uint64_t kMax = ~std::uint64_t{0};

TEST(PeakSpaceNeed, MissingFilesNeedTheirSizesOnly) {
    EXPECT_EQ(PeakSpaceNeed({{100, 0, 0}, {30, 0, 0}}), 130u);
    EXPECT_EQ(PeakSpaceNeed({}), 0u);
}

TEST(PeakSpaceNeed, GrowthPlusTheLargestOldFileBesideItsStagingCopy) {
    // 60 + 5 of growth; the shrinking file frees space but counts none; 80 is the largest old file.
    EXPECT_EQ(PeakSpaceNeed({{100, 40, 0}, {10, 5, 0}, {20, 80, 0}}), 145u);
}

TEST(PeakSpaceNeed, LeftoverStagingFilesAreCreditedToTheirOwnFile) {
    EXPECT_EQ(PeakSpaceNeed({{100, 40, 50}, {100, 0, 150}}), 50u);
}

TEST(PeakSpaceNeed, SaturatesInsteadOfWrapping) {
    EXPECT_EQ(PeakSpaceNeed({{kMax, 0, 0}, {kMax, 0, 0}}), kMax);
    EXPECT_EQ(PeakSpaceNeed({{kMax, kMax, kMax}, {1, 0, 0}}), kMax);
}

}  // namespace
