// The main of every Windows test program. Outside the build's own Wine prefix it first applies the rules
// of guard.h, and refuses, naming what it found and changing nothing, where they are not met; once the
// tests have run it removes what they left, also after a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "guard.h"
#include "text.h"

namespace {

class ClearTracesAtTheEnd : public ::testing::Environment {
  public:
    void TearDown() override { EXPECT_TRUE(guard::ClearTestTraces()) << "the tests left traces behind"; }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing changes nothing, and is how CTest learns the tests.
    if (!GTEST_FLAG_GET(list_tests) && !guard::InBuildPrefix()) {
        const bool throwaway = std::any_of(argv + 1, argv + argc, [](const char* argument) {
            return std::strcmp(argument, guard::kThrowawayFlag) == 0;
        });
        const std::wstring refusal = guard::FindRefusal(throwaway);
        if (!refusal.empty()) {
            std::fprintf(stderr, "%s: refused to run the tests on this machine:\n%s", argv[0],
                         Narrow(refusal).c_str());
            return 2;
        }
        ::testing::AddGlobalTestEnvironment(new ClearTracesAtTheEnd);  // GoogleTest owns it
    }
    return RUN_ALL_TESTS();
}
