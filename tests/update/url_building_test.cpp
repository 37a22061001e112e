#include <gtest/gtest.h>

#include <string>

#include "update/url_building.h"

namespace {

TEST(PercentEncode, KeepsUnreservedAsciiAndEncodesEveryOtherUtf8Byte) {
    EXPECT_EQ(PercentEncode(L"AZaz09/-_.~"), L"AZaz09/-_.~");
    EXPECT_EQ(PercentEncode(L"a b"), L"a%20b");
    EXPECT_EQ(PercentEncode(L"ą"), L"%C4%85");
    EXPECT_EQ(PercentEncode(L"Łódź"), L"%C5%81%C3%B3d%C5%BA");
    EXPECT_EQ(PercentEncode(L"?&=#%+:\\"), L"%3F%26%3D%23%25%2B%3A%5C");
    EXPECT_EQ(PercentEncode(L"\U0001F600"), L"%F0%9F%98%80");  // a surrogate pair is one code point
    EXPECT_EQ(PercentEncode(L"\x7F"), L"%7F");
    EXPECT_EQ(PercentEncode(L""), L"");
}

TEST(BuildFileUrl, ForwardSlashesNoLeadingSlashBaseVerbatim) {
    const std::wstring base = L"https://patch.example/client/";
    EXPECT_EQ(BuildFileUrl(base, L"data\\a b.pak"), base + L"data/a%20b.pak");
    EXPECT_EQ(BuildFileUrl(base, L"\\/\\data\\sub/x.pak"), base + L"data/sub/x.pak");
    EXPECT_EQ(BuildFileUrl(base, L"data//x.pak"), base + L"data//x.pak");  // only leading ones go
    EXPECT_EQ(BuildFileUrl(base, L"///"), base);
    EXPECT_EQ(BuildFileUrl(base, L"what?.pak"), base + L"what%3F.pak");
    EXPECT_EQ(BuildFileUrl(L"https://patch.example/client", L"a.pak"), L"https://patch.example/clienta.pak");
    EXPECT_EQ(BuildFileUrl(L"https://patch.example/dir with space/", L"a.pak"),
              L"https://patch.example/dir with space/a.pak");
}

TEST(AppendQueryParameter, QuestionMarkFirstThenAmpersandEncodedKeyAndValue) {
    const std::wstring manifest = BuildFileUrl(L"https://patch.example/client/", L"manifest.md5");
    const std::wstring once = AppendQueryParameter(manifest, L"nocache", L"123456789");
    EXPECT_EQ(once, L"https://patch.example/client/manifest.md5?nocache=123456789");
    EXPECT_EQ(AppendQueryParameter(once, L"attempt", L"2-99"),
              L"https://patch.example/client/manifest.md5?nocache=123456789&attempt=2-99");
    EXPECT_EQ(AppendQueryParameter(L"https://h/x?", L"k", L"v"), L"https://h/x?&k=v");
    EXPECT_EQ(AppendQueryParameter(L"https://h/?a=1/x", L"k", L"v"), L"https://h/?a=1/x&k=v");
    EXPECT_EQ(AppendQueryParameter(L"https://h/x", L"a b", L"c/d&e=ą"), L"https://h/x?a%20b=c/d%26e%3D%C4%85");
}

}  // namespace
