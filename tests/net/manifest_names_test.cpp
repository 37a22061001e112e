#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/win_compat.h"
#include "net/manifest_names.h"

namespace {

std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

// FoldCase must join whatever Windows takes for one name, and nothing else,
// in the alphabets it claims (Latin to Extended-A, Greek, Cyrillic).
TEST(CaseFolding, MatchesWindowsNameComparison) {
    std::vector<wchar_t> characters;
    for (wchar_t c = 0x20; c < 0x180; ++c) characters.push_back(c);
    for (wchar_t c = 0x386; c < 0x3D0; ++c) characters.push_back(c);
    for (wchar_t c = 0x400; c < 0x460; ++c) characters.push_back(c);
    std::map<std::string, std::wstring> byFold;
    for (wchar_t c : characters) byFold[FoldCase(Narrow(std::wstring(1, c)))] += c;
    for (wchar_t a : characters) {
        for (wchar_t b : characters) {
            // Wine keeps final sigma apart from sigma, though both upper-case
            // to capital sigma; the tool joins them, so it refuses rather than misses.
            if (a >= b || a == 0x3C2 || b == 0x3C2) continue;
            const bool windows = ::CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL;
            const bool ours = FoldCase(Narrow(std::wstring(1, a))) == FoldCase(Narrow(std::wstring(1, b)));
            EXPECT_EQ(ours, windows) << std::hex << "U+" << static_cast<int>(a) << " U+" << static_cast<int>(b);
        }
    }
}

}  // namespace
