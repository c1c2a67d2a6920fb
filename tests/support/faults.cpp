#include "faults.h"

#include <map>
#include <string>

namespace faults {
namespace {

// One plan for the whole test program: the wrappers have no other way to reach it. Before it is
// constructed, `armed` reads false and nothing counts.
struct Plan {
    bool armed = false;
    std::string function;
    int failAt = 0;
    DWORD error = 0;
    bool shortened = false;
    std::map<std::string, int> calls;
} plan;

}  // namespace

void Arm(const char* function, int failAt, DWORD error, bool shortened) {
    plan = {true, function, failAt, error, shortened, {}};
}

void Disarm() {
    plan.armed = false;
}

int CountCalls(const char* function) {
    const auto found = plan.calls.find(function);
    return found == plan.calls.end() ? 0 : found->second;
}

bool Passes(const char* function, std::size_t* count) {
    if (!plan.armed) return true;
    plan.armed = false;  // what the bookkeeping calls must not count
    const bool fails = ++plan.calls[function] == plan.failAt && plan.function == function;
    plan.armed = true;
    if (!fails) return true;
    ::SetLastError(plan.error);
    if (!plan.shortened || count == nullptr || *count == 0) return false;
    --*count;
    return true;
}

}  // namespace faults
