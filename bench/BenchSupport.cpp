#include "BenchSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <unistd.h>

double BestSeconds(int runs, const std::function<void()>& action)
{
    return BestSeconds(
        runs, [] {}, action);
}

double BestSeconds(int runs, const std::function<void()>& prepare, const std::function<void()>& action)
{
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        action();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

double MedianSeconds(int runs, const std::function<void()>& prepare, const std::function<void()>& action)
{
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        seconds.push_back(BestSeconds(1, prepare, action));
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

bool DropCaches()
{
    sync();
    std::ofstream control("/proc/sys/vm/drop_caches");
    control << "3" << std::flush;
    return control.good();
}

void RunCommand(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("command failed: " + command);
    }
}

std::filesystem::path BenchDataFolder(const std::string& name)
{
    const char* base = std::getenv("LYRAFETCH_BENCH_DATA");
    return std::filesystem::path(base ? base : LYRAFETCH_BENCH_DATA_DEFAULT) / name;
}

std::string Quoted(const std::filesystem::path& path)
{
    std::string result = "'";
    for (char c : path.string()) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}
