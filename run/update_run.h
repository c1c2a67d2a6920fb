// The update run: the whole life of the process, from the eligibility gates to the completion notice.
#pragma once

// The whole run. Returns the exit code: 1 when the machine is not eligible, 0 otherwise. Every failure
// past the gates, an exhausted memory included, only skips the step concerned.
[[nodiscard]] int RunUpdate() noexcept;
