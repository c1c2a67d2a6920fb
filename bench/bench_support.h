// What the Windows benchmarks share: one timer, one median, the owners of the parsed command line and of
// the floor's runtime stream.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

// An array the platform allocated with LocalAlloc (CommandLineToArgvW's arguments).
struct FreeLocal {
    void operator()(wchar_t** arguments) const noexcept { ::LocalFree(arguments); }
};
using UniqueLocalArguments = std::unique_ptr<wchar_t*, FreeLocal>;

struct CloseStream {
    void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
};
using UniqueStream = std::unique_ptr<std::FILE, CloseStream>;

// Milliseconds that `run` takes, by the performance counter.
template <typename Run>
double TimeMilliseconds(Run run) {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    LARGE_INTEGER stop{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    run();
    ::QueryPerformanceCounter(&stop);
    return 1000.0 * static_cast<double>(stop.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// The middle value; the mean of the two middle ones for an even count.
inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
