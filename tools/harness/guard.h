// The rules that keep the test programs off a machine whose manuals and records are real. The suite
// rewrites the maker's registry keys, the four manual folders and C:\Documentation, so it runs only where
// it was told the machine is a throwaway one, runs elevated, and finds none of those before it starts.
// The kit's runner checks them first (check_machine.cpp), and every Windows test program again
// (tests/support/test_main.cpp), so that one started by hand refuses the same way.
#pragma once

#include <string>

namespace guard {

// The command-line flag that says the machine is a throwaway one.
inline constexpr char kThrowawayFlag[] = "--throwaway-machine";

// Empty when the tests may run here; otherwise what stands in the way, one finding a line.
[[nodiscard]] std::wstring FindRefusal(bool throwawayGiven);

// Whether this is the build's own Wine prefix (cmake/wine-run.sh says so), made for the suite alone:
// nothing there is anyone's, and the suites there run side by side, so none of the rules apply.
[[nodiscard]] bool InBuildPrefix();

// Removes what the tests leave behind on a machine that FindRefusal let them run on: the maker's keys
// and folders and the scratch keys of the registry tests. Returns false when something stayed.
[[nodiscard]] bool ClearTestTraces();

}  // namespace guard
