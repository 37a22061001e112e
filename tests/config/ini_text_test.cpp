#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "config/ini_text.h"

namespace {

TEST(IniText, AFileWithAByteOrderMarkIsReadAsUtf8ByTheProfileRules) {
    const std::string text = "\xEF\xBB\xBF[inne]\r\nGAME_EXE=nie\r\n [ patcher ]\r\n game_exe = \"Gra \xC5\x82\xC3\xB3" "d\xC5\xBA.exe\" \r\n"
                             "GAME_EXE=drugi\r\nUPDATER=" + std::string(3000, 'u') + "\r\n";
    ASSERT_TRUE(HasUtf8Bom(text));
    std::wstring value;
    EXPECT_TRUE(FindIniValue(std::string_view(text).substr(3), L"PATCHER", L"GAME_EXE", value));
    EXPECT_EQ(value, L"Gra łódź.exe");
    EXPECT_TRUE(FindIniValue(std::string_view(text).substr(3), L"PATCHER", L"UPDATER", value));
    EXPECT_EQ(value, std::wstring(2047, L'u'));
    EXPECT_FALSE(FindIniValue(std::string_view(text).substr(3), L"PATCHER", L"MANIFEST", value));
    EXPECT_FALSE(HasUtf8Bom("[PATCHER]"));
}

}  // namespace
