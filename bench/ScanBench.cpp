// Scans synthetic library pairs and compares the time with `find` over the same
// trees, which reads every folder once and examines every entry once: the
// floor for any scan. Also measures the memory a scanned tree takes. Shapes:
// nested (about 200,000 files: 1,000 artists of 10 albums of 12 files), large
// (about 1,000,000 files: 6,500 artists of 8 albums) and flat (50,000 album
// folders of one file each, directly in the root). Name the shapes to run as
// arguments; without any, all run. With --cold first, the caches are dropped
// before each run (as root only), and the scan is also compared with a
// parallel walk, fdfind, where it is installed. Nine in ten of the player's
// albums hold a manifest, as after a few jobs.
#include "BenchSupport.h"
#include "LibraryGenerator.h"

#include "model/FolderNode.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::unique_ptr<CFolderNode> ScanPair(const fs::path& computer, const fs::path& player)
{
    auto root = std::make_unique<CFolderNode>();
    root->SetName(SIDE_COMPUTER, FromNativeName(computer.native()));
    root->SetName(SIDE_PLAYER, FromNativeName(player.native()));
    if (!root->Scan()) {
        throw std::runtime_error("scan failed");
    }
    return root;
}

std::uint64_t CountFiles(const CFolderNode& node)
{
    std::uint64_t files = node.m_files[SIDE_COMPUTER].size() + node.m_files[SIDE_PLAYER].size();
    for (const auto& child : node.m_children) {
        files += CountFiles(*child);
    }
    return files;
}

// The peak resident set since the last ResetPeakResident, in bytes.
double PeakResidentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stod(line.substr(6)) * 1024;
        }
    }
    throw std::runtime_error("no VmHWM in /proc/self/status");
}

void ResetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Scans in a child process, so that the peak it reports belongs to one scan
// alone; returns the peak growth of the resident set and the heap the finished
// tree holds, in bytes.
std::pair<double, double> MeasureMemory(const fs::path& computer, const fs::path& player)
{
    int channel[2];
    if (pipe(channel) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t child = fork();
    if (child == 0) {
        malloc_trim(0); // the heap of an earlier tree must not hide the growth
        ResetPeakResident();
        const double before = PeakResidentBytes();
        const auto heapBefore = mallinfo2().uordblks;
        auto root = ScanPair(computer, player);
        const double figures[2] = {PeakResidentBytes() - before,
                                   static_cast<double>(mallinfo2().uordblks - heapBefore)};
        (void)!write(channel[1], figures, sizeof figures);
        _exit(0);
    }
    double figures[2] = {0, 0};
    close(channel[1]);
    (void)!read(channel[0], figures, sizeof figures);
    close(channel[0]);
    waitpid(child, nullptr, 0);
    return {figures[0], figures[1]};
}

void Measure(const char* shape, CLibraryParams params, double ratioGoal)
{
    const fs::path data = BenchDataFolder(std::string("scan-") + shape);
    const fs::path computer = data / "computer";
    const fs::path player = data / "player";
    if (!fs::exists(data / "complete")) {
        fs::remove_all(data);
        std::printf("generating the %s library pair in %s ...\n", shape, data.c_str());
        const CLibraryStats stats = GenerateLibraryPair(computer, player, params);
        std::printf("generated %llu files in %llu albums\n", static_cast<unsigned long long>(stats.m_files),
                    static_cast<unsigned long long>(stats.m_albums));
        fs::create_directory(data / "complete");
    }

    const std::string find = "find " + Quoted(computer) + " " + Quoted(player) + " -printf '%s\\n' >/dev/null";
    RunCommand(find); // warm the caches for both
    const auto [peakBytes, treeBytes] = MeasureMemory(computer, player);
    const std::uint64_t files = CountFiles(*ScanPair(computer, player));

    const int runs = 5;
    const double scanSeconds = BestSeconds(runs, [&] { ScanPair(computer, player); });
    const double findSeconds = BestSeconds(runs, [&] { RunCommand(find); });

    std::printf("%s library: %llu file entries, best of %d runs, warm caches\n", shape,
                static_cast<unsigned long long>(files), runs);
    std::printf("  scan            %8.1f ms\n", scanSeconds * 1000);
    std::printf("  find -printf %%s %8.1f ms\n", findSeconds * 1000);
    std::printf("  ratio scan/find %8.2f   (goal <= %.2f)\n", scanSeconds / findSeconds, ratioGoal);
    std::printf("  peak memory     %8.1f MB, %.1f bytes per file entry (goal < 150)\n", peakBytes / 1e6,
                peakBytes / files);
    std::printf("  tree heap       %8.1f bytes per file entry\n", treeBytes / files);
}

// The same with nothing of either tree in the caches, as at the first start
// after a player is plugged in or the computer started: then the time is the
// devices', and what counts is how many requests the scan keeps in flight.
void MeasureCold(const char* shape)
{
    const fs::path data = BenchDataFolder(std::string("scan-") + shape);
    if (!fs::exists(data / "complete")) {
        std::printf("%s library: run the warm benchmark first, it generates the library\n", shape);
        return;
    }
    const std::string folders = Quoted(data / "computer") + " " + Quoted(data / "player");
    const std::string find = "find " + folders + " -printf '%s\\n' >/dev/null";
    const std::string fdfind = "fdfind -u -j 8 --size +0b . " + folders + " >/dev/null";
    const bool haveFdfind = std::system("command -v fdfind >/dev/null") == 0;
    const int runs = 3;
    const auto cold = [] { DropCaches(); };
    const double scanSeconds = MedianSeconds(runs, cold, [&] { ScanPair(data / "computer", data / "player"); });
    const double findSeconds = MedianSeconds(runs, cold, [&] { RunCommand(find); });
    std::printf("%s library, median of %d runs, cold caches\n", shape, runs);
    std::printf("  scan            %8.1f ms\n", scanSeconds * 1000);
    std::printf("  find -printf %%s %8.1f ms\n", findSeconds * 1000);
    std::printf("  ratio scan/find %8.2f   (goal <= 0.50)\n", scanSeconds / findSeconds);
    if (haveFdfind) {
        const double fdSeconds = MedianSeconds(runs, cold, [&] { RunCommand(fdfind); });
        std::printf("  fdfind -j 8     %8.1f ms   ratio scan/fdfind %5.2f\n", fdSeconds * 1000,
                    scanSeconds / fdSeconds);
    } else {
        std::printf("  fdfind is not installed: no figure against it\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    // "--cold" measures with the caches dropped before each run.
    const bool cold = argc > 1 && std::string(argv[1]) == "--cold";
    if (cold) {
        --argc;
        ++argv;
        if (!DropCaches()) {
            std::printf("cold caches: only root may drop the caches; skipped\n");
            return 0;
        }
    }
    CLibraryParams nested;
    nested.m_manifests = 0.9;
    CLibraryParams large;
    large.m_manifests = 0.9;
    large.m_artists = 6500;
    large.m_albumsPerArtist = 8;
    CLibraryParams flat;
    flat.m_artists = 5000;
    flat.m_albumsPerArtist = 10;
    flat.m_minFilesPerAlbum = flat.m_maxFilesPerAlbum = 1;
    flat.m_bFlat = true;
    flat.m_manifests = 0.9;
    const struct
    {
        const char* m_name;
        CLibraryParams m_params;
        double m_ratioGoal;
    } shapes[] = {{"nested", nested, 1.2}, {"large", large, 1.2}, {"flat", flat, 1.5}};
    for (const auto& shape : shapes) {
        if (argc == 1 || std::find(argv + 1, argv + argc, std::string(shape.m_name)) != argv + argc) {
            cold ? MeasureCold(shape.m_name) : Measure(shape.m_name, shape.m_params, shape.m_ratioGoal);
        }
    }
    return 0;
}
