// Error codes as text: the system's own from its table, WinHTTP codes from a
// message table of a module.

#include <gtest/gtest.h>

#include <string>

#include "common/handle.h"
#include "common/text.h"
#include "config/error_text.h"

namespace {

struct LibraryTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
using Library = UniqueHandle<LibraryTraits>;

// test_messages.dll lies beside the test executable.
std::wstring TestMessagesPath() {
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + TEST_MESSAGES_DLL;
}

TEST(WindowsErrorTextFrom, WinHttpCodesComeFromTheModule) {
    const Library messages(::LoadLibraryExW(TestMessagesPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(messages) << "cannot load " << ::testing::PrintToString(TestMessagesPath());

    // The table's text ends in a line break; the result is trimmed.
    EXPECT_EQ(WindowsErrorTextFrom(12029, messages.Get()),
              L"Połączenie z serwerem testowym nie powiodło się. (12029)");
    // Below the WinHTTP range the module is never asked, though it has a text.
    EXPECT_EQ(WindowsErrorTextFrom(11999, messages.Get()), L"Nieznany błąd (11999)");
    // In the range, but in neither table.
    EXPECT_EQ(WindowsErrorTextFrom(12999, messages.Get()), L"Nieznany błąd (12999)");
    // Without a module the system's table alone has nothing for WinHTTP codes.
    EXPECT_EQ(WindowsErrorTextFrom(12029, nullptr), L"Nieznany błąd (12029)");
}

TEST(WindowsErrorText, WinHttpCodeThroughWinHttpDll) {
    // Windows: winhttp.dll's text for ERROR_WINHTTP_CANNOT_CONNECT. Wine's
    // winhttp.dll has no message table: there it reads "Nieznany błąd (12029)".
    const std::wstring text = WindowsErrorText(12029);
    const std::wstring suffix = L" (12029)";
    ASSERT_TRUE(text.ends_with(suffix)) << ::testing::PrintToString(text);
    const std::wstring message = text.substr(0, text.size() - suffix.size());
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(TrimWhitespace(message), message);
    EXPECT_EQ(message.find_first_of(L"\r\n"), std::wstring::npos);
}

TEST(WindowsErrorText, KnownAndUnknownCodes) {
    EXPECT_EQ(WindowsErrorText(4294967295u), L"Nieznany błąd (4294967295)");

    const std::wstring success = WindowsErrorText(0);
    ASSERT_GT(success.size(), 4u);
    EXPECT_EQ(success.substr(success.size() - 4), L" (0)");
    EXPECT_EQ(success.find(L"Nieznany"), std::wstring::npos);
    const std::wstring message = success.substr(0, success.size() - 4);
    EXPECT_EQ(TrimWhitespace(message), message);
    EXPECT_EQ(message.find_first_of(L"\r\n"), std::wstring::npos);

    const std::wstring notFound = WindowsErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(notFound.substr(notFound.size() - 4), L" (2)");
    EXPECT_EQ(notFound.find(L"Nieznany"), std::wstring::npos);
    EXPECT_EQ(notFound.find_first_of(L"\r\n"), std::wstring::npos);
}

}  // namespace
