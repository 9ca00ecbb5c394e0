#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

// The fastest of several runs of an action, in seconds; prepare runs untimed before each.
double BestSeconds(int runs, const std::function<void()>& action);
double BestSeconds(int runs, const std::function<void()>& prepare, const std::function<void()>& action);

// The median of several runs of an action, in seconds; prepare runs untimed before each.
double MedianSeconds(int runs, const std::function<void()>& prepare, const std::function<void()>& action);

// Writes everything to the devices and empties the system's caches of files
// and folders, so that what runs next reads from the devices. False when this
// process may not (only root may).
bool DropCaches();

// Runs a shell command and fails the benchmark when it fails.
void RunCommand(const std::string& command);

// A folder for generated data below the build folder, kept between runs.
std::filesystem::path BenchDataFolder(const std::string& name);

// The shell's single-quoted form of a path.
std::string Quoted(const std::filesystem::path& path);
