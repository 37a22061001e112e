#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "common/text.h"
#include "net/url_reference.h"

namespace {

TEST(HttpsRequestRedirect, LocationResolvesAsRfc3986Says) {
    const std::wstring base = L"https://h:1/a/b/c?q=1#f";
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"d?u=http://x/", L"https://h:1/a/b/d?u=http://x/"},  // "://" in a query is no scheme
        {L"?y", L"https://h:1/a/b/c?y"},
        {L"", L"https://h:1/a/b/c?q=1"},
        {L"#g", L"https://h:1/a/b/c?q=1"},
        {L"../../g#frag", L"https://h:1/g"},
        {L"./g/.", L"https://h:1/a/b/g/"},
        {L"/x/../y?z", L"https://h:1/y?z"},
        {L"//other/p", L"https://other/p"},
        {L"HTTP://h/p", L"HTTP://h/p"},
        {L"a:b", L"a:b"},
    };
    for (const auto& [reference, expected] : cases) {
        EXPECT_EQ(ResolveUrlReference(base, reference), expected) << WideToUtf8(reference);
    }
}

}  // namespace
