#include "BenchRegistry.h"

#include <algorithm>

namespace BenchRegistry {

void add(const std::string &caseId, const std::string &variant, const std::string &label,
         std::function<void(benchmark::State &)> body, Weight weight, Target target)
{
    auto *registered = benchmark::RegisterBenchmark(
        (caseId + '/' + variant).c_str(), [=](benchmark::State &state) {
            body(state);
            state.SetLabel(label);
            if (target.maxMs > 0)
                state.counters["target_ms"] = target.maxMs;
            if (target.minRatio > 0)
                state.counters["target_ratio"] = target.minRatio;
        });
    registered->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics("min", [](const std::vector<double> &values) {
            return *std::min_element(values.begin(), values.end());
        });
    if (weight == Weight::Heavy)
        registered->Iterations(1)->Repetitions(3);
    else
        registered->MinTime(0.2)->Repetitions(7);
}

} // namespace BenchRegistry
