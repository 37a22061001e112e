#include <gtest/gtest.h>

#include "update/download_phase.h"

namespace {

TEST(MismatchLineTest, NamesBothSumsAndSizesAndAHashError) {
    const ManifestEntry entry{L"0123456789abcdef0123456789abcdef", 10, L"a\\b.pak"};
    EXPECT_EQ(MismatchLogLine(entry, L"", ~0ull, 3, L"Nie można odczytać X: Odmowa (5)"),
              L"Niezgodność pobranego pliku a\\b.pak. Oczekiwany MD5=0123456789abcdef0123456789abcdef, pobrany "
              L"MD5=<brak>, oczekiwany rozmiar=10, pobrany rozmiar=18446744073709551615, próba=3/3. Błąd MD5: "
              L"Nie można odczytać X: Odmowa (5)");
}

}  // namespace
