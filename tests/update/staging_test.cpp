#include <gtest/gtest.h>

#include "common/app_paths.h"
#include "update/staging.h"

namespace {

TEST(StagingTest, OwnExecutableIsStagedBesideTheRunningProgram) {
    SetAppPaths(L"C:\\Gry\\Zerandis\\bin\\Zerandis_Patcher.exe");
    const StagedFile own = StagingFor({L"", 1, L"Launcher\\ZERANDIS_PATCHER.exe"}, L"launcher\\zerandis_patcher.exe");
    EXPECT_TRUE(own.ownExecutable);
    EXPECT_EQ(own.stagingPath, L"C:\\Gry\\Zerandis\\bin\\Zerandis_Patcher.exe.new");
    const StagedFile other = StagingFor({L"", 1, L"data\\a.pak"}, L"launcher\\zerandis_patcher.exe");
    EXPECT_FALSE(other.ownExecutable);
    EXPECT_EQ(other.stagingPath, L"C:\\Gry\\Zerandis\\bin\\data\\a.pak.download");
}

}  // namespace
