#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace benchsupport {

// Times of the steps of each benchmark iteration, reported as the median per step. Steps timed
// in turn within one iteration meet the same load, so the ratio of two of them holds on a machine
// that is busy with other work, where two benchmarks run minutes apart do not; and a median is
// not pulled up by the iterations that another process interrupted.
class StepTimes
{
public:
    using Clock = std::chrono::steady_clock;

    // Starts the first step of an iteration.
    void start() { m_last = Clock::now(); }
    // Ends the step under way, records it under name and starts the next one. Gives the step's
    // time in microseconds.
    double lap(const char *name)
    {
        const Clock::time_point now = Clock::now();
        const double time = std::chrono::duration<double, std::micro>(now - m_last).count();
        add(name, time);
        m_last = now;
        return time;
    }
    // Records a time measured by the caller, such as the sum of several steps.
    void add(const char *name, double microseconds) { samples(name).push_back(microseconds); }

    // The median of a step's times in microseconds; 0 when it has none.
    double median(const char *name)
    {
        std::vector<double> &times = samples(name);
        if (times.empty())
            return 0;
        const auto middle = times.begin() + std::ptrdiff_t(times.size() / 2);
        std::nth_element(times.begin(), middle, times.end());
        return *middle;
    }

    // Every step's median as the counter "<step>_us", and ratio = median(over) / median(under).
    void report(benchmark::State &state, const char *over, const char *under)
    {
        for (Step &step : m_steps)
            state.counters[step.name + "_us"] = median(step.name.c_str());
        const double base = median(under);
        if (base > 0)
            state.counters["ratio"] = median(over) / base;
    }

private:
    struct Step
    {
        std::string name;
        std::vector<double> times;
    };

    std::vector<double> &samples(const char *name)
    {
        for (Step &step : m_steps) {
            if (step.name == name)
                return step.times;
        }
        m_steps.push_back({name, {}});
        return m_steps.back().times;
    }

    std::vector<Step> m_steps;
    Clock::time_point m_last;
};

} // namespace benchsupport
