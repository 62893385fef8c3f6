// bench/RatioReporter.h
// What the side-by-side benchmark programs share: registering a case by name, the list of
// comparisons (ours against a peer, with an optional aim), and the reporter that prints the
// usual table and then each comparison's ratio, ours / peer, from the median CPU time of the
// repetitions (or the single run's time without repetitions), or from a counter both report.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace oxbench {

inline const char kOurs[] = "oxfirst";

struct Comparison {
    std::string ours;
    std::string peer;
    const char* aim; // empty: no aim, just a figure
    double limit;    // the aim is met when ours / peer < limit, or <= limit when orEqual
    bool orEqual;
    const char* counter = nullptr; // compare this user counter instead of the CPU time
};
inline std::vector<Comparison> gComparisons;

template <typename Function, typename... Arguments>
std::string add(const std::string& name, Function function, Arguments... arguments)
{
    auto* benchmark = benchmark::RegisterBenchmark(
        name.c_str(), [=](benchmark::State& state) { function(state, arguments...); });
    benchmark->Unit(benchmark::kNanosecond);
    return name;
}

// The console table, then one line per comparison.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!median && !single)
                continue;
            // Cases registered with arguments are named with them: "Glibc/Pair/64".
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            mTimes[name] = run.GetAdjustedCPUTime();
            for (const auto& [counter, value] : run.counters)
                mTimes[name + "#" + counter] = value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        out << "\nRatios, oxfirst / peer (CPU time, or the counter after '#'; below 1 is better for "
               "oxfirst):\n";
        char line[256];
        for (const Comparison& comparison : gComparisons) {
            const std::string suffix =
                comparison.counter != nullptr ? std::string("#") + comparison.counter : "";
            auto ours = mTimes.find(comparison.ours + suffix);
            auto peer = mTimes.find(comparison.peer + suffix);
            if (ours == mTimes.end() || peer == mTimes.end() || peer->second <= 0)
                continue;
            const double ratio = ours->second / peer->second;
            const bool met = ratio < comparison.limit || (comparison.orEqual && ratio == comparison.limit);
            const char* verdict = comparison.aim[0] == 0 ? "" : met ? "meets aim" : "MISSES aim";
            const std::string peerName = distinctPart(comparison.peer, comparison.ours);
            const std::string oursName =
                comparison.ours + (comparison.counter != nullptr ? " " + suffix : "");
            std::snprintf(line, sizeof line, "  %-70s vs %-18s %6.2f  %s%s%s\n", oursName.c_str(),
                          peerName.substr(peerName.rfind('/') + 1).c_str(), ratio,
                          comparison.aim[0] != 0 ? comparison.aim : "", comparison.aim[0] != 0 ? "  " : "",
                          verdict);
            out << line;
        }
    }

private:
    // The peer's name without the trailing components it shares with ours, from its last '/':
    // "Glibc" for "Glibc/Pair/64" against "SmallBlock/Pair/64", "std::any" for
    // "Copy/int/std::any" against "Copy/int/oxfirst".
    static std::string distinctPart(std::string peer, std::string ours)
    {
        for (std::size_t cut = peer.rfind('/'); cut != std::string::npos; cut = peer.rfind('/')) {
            const std::string tail = peer.substr(cut);
            if (ours.size() < tail.size() || ours.compare(ours.size() - tail.size(), tail.size(), tail) != 0)
                break;
            peer.erase(cut);
            ours.erase(ours.size() - tail.size());
        }
        return peer.substr(peer.rfind('/') + 1);
    }

    std::map<std::string, double> mTimes;
};

/// Runs the registered benchmarks with the ratio reporter, in colour on a terminal.
inline void runWithRatios()
{
    RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Color
                                                 : benchmark::ConsoleReporter::OO_None);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}

} // namespace oxbench
