// The kit runner's first step: whether the test programs may run on this machine, by the rules each of
// them applies again itself (guard.h). Exits 0 when they may; otherwise prints what stands in the way and
// exits 2, having changed nothing.
#include <cstdio>
#include <cstring>
#include <string>

#include "guard.h"
#include "text.h"

int main(int argc, char** argv) {
    const bool throwaway = argc == 2 && std::strcmp(argv[1], guard::kThrowawayFlag) == 0;
    const std::wstring refusal = guard::FindRefusal(throwaway);
    if (refusal.empty()) return 0;
    std::printf("refused: the tests would rewrite what this machine holds, or can't run here:\n%s",
                Narrow(refusal).c_str());
    return 2;
}
