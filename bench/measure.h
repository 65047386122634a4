#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace varne::bench {

using Clock = std::chrono::steady_clock;

inline double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <class Work>
double time_ms(Work&& work)
{
    const auto start = Clock::now();
    work();
    return ms_since(start);
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs every work once per round, each round starting with the next work, so that no work always
// follows the same other; gives the times of each work in the order given.
inline std::vector<std::vector<double>> interleaved(int rounds, const std::vector<std::function<void()>>& works)
{
    std::vector<std::vector<double>> times(works.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t turn = 0; turn < works.size(); ++turn) {
            const size_t index = (round + turn) % works.size();
            times[index].push_back(time_ms(works[index]));
        }
    }
    return times;
}

}  // namespace varne::bench
