// The product's one exception boundary. Its code builds paths, listings and document texts, and memory
// running out for one (std::bad_alloc is the only exception anything here throws) must not end the run:
// the step concerned yields `failed`, as its own failure would, and the caller goes on with its next.
#pragma once

template <typename Result, typename Step>
[[nodiscard]] Result RunGuarded(Result failed, Step step) noexcept {
    try {
        return step();
    } catch (...) {
        return failed;
    }
}
