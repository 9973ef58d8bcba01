// bench/bench_stats.hpp: the summaries the benchmarks print of their samples.
#pragma once
#include <algorithm>
#include <vector>

// The value at fraction p (0 to 1) of the sorted samples, the nearest rank; 0 when empty.
inline double bench_percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    size_t i = (size_t)(p * (double)(v.size() - 1) + 0.5);
    std::nth_element(v.begin(), v.begin() + (long)i, v.end());
    return v[i];
}

// The middle sample (the upper one of an even count); 0 when empty.
inline double bench_median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + (long)v.size() / 2, v.end());
    return v[v.size() / 2];
}
