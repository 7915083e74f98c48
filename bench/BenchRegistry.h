#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

// Registers the cases of the suite. Every case is named "<case>/<variant>", the variant being
// "ours" (the program's code) or "literal" (the same work done the plain way), so the
// table can set the two side by side. Each is run several times and reported by its median and
// its minimum, in milliseconds of wall time.
namespace BenchRegistry {

struct Target
{
    double maxMs = 0;    // 0: no time target
    double minRatio = 0; // 0: no target for literal time / our time
};

enum class Weight
{
    Light, // many iterations per repetition
    Heavy, // one iteration per repetition: a literal case that takes seconds
};

void add(const std::string &caseId, const std::string &variant, const std::string &label,
         std::function<void(benchmark::State &)> body, Weight weight = Weight::Light,
         Target target = {});

} // namespace BenchRegistry
