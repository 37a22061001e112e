#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "progress.h"

namespace {

TEST(Progress, AtMostOneLineASecondAndNoneForShortRuns) {
    using namespace std::chrono;
    steady_clock::time_point now{};
    std::ostringstream out;
    {
        ProgressReport quick(&out, 1, 10, [&] { return now; });
        now += milliseconds(900);
        quick.AddBytes(10);
        quick.FileDone();
        quick.Finish();
    }
    EXPECT_EQ(out.str(), "");

    now = {};
    ProgressReport slow(&out, 3, 3 * 1048576, [&] { return now; });
    for (int i = 0; i < 30; ++i) {  // 3 s in steps of 0.1 s
        now += milliseconds(100);
        slow.AddBytes(104858);
    }
    slow.FileDone();
    slow.Finish();
    EXPECT_EQ(out.str(),
              "zerandis-manifest: 0/3 files, 1.0 MiB of 3.0 MiB, 1.0 MiB/s\n"
              "zerandis-manifest: 0/3 files, 2.0 MiB of 3.0 MiB, 1.0 MiB/s\n"
              "zerandis-manifest: 0/3 files, 3.0 MiB of 3.0 MiB, 1.0 MiB/s\n"
              "zerandis-manifest: 1/3 files, 3.0 MiB of 3.0 MiB, 1.0 MiB/s\n");
}

}  // namespace
