#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/check_phase.h"

namespace {

TEST(DownloadOrderTest, UpdaterFirstPatcherLastOthersInManifestOrder) {
    std::vector<ManifestEntry> list = {{L"", 1, L"ZERANDIS_PATCHER.EXE"},  {L"", 1, L"a.pak"},
                                       {L"", 1, L"Patcher\\zerandis_patcherupdate.BIN"},
                                       {L"", 1, L"b.pak"},                 {L"", 1, L"c.pak"}};
    OrderDownloadList(list, L"patcher\\Zerandis_PatcherUpdate.bin", L"Zerandis_Patcher.exe");
    std::vector<std::wstring> order;
    for (const ManifestEntry& e : list) order.push_back(e.path);
    EXPECT_EQ(order, (std::vector<std::wstring>{L"Patcher\\zerandis_patcherupdate.BIN", L"a.pak", L"b.pak",
                                                L"c.pak", L"ZERANDIS_PATCHER.EXE"}));

    // An entry named like both settings counts as the updater.
    list = {{L"", 1, L"x"}, {L"", 1, L"same.exe"}};
    OrderDownloadList(list, L"SAME.exe", L"same.EXE");
    EXPECT_EQ(list[0].path, L"same.exe");
}

}  // namespace
