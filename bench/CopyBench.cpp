// Copies a synthetic selection of about 1 GB (albums of 10 to 15 files of 3
// to 12 MB) to an empty player folder with a whole copy job, and compares the
// time with `cp -r` of the same albums followed by a flush, on the same file
// system. The job flushes every album to the device, so both include it. Then
// deletes 300 albums of 12 files, and 3,000 albums of one folder, with a job,
// against `rm -r` and a flush. Then refreshes one changed album of 12 files
// and compares the time with a copy of it plus its deletion (alone with
// "refresh" after the folder). Pass
// a folder as the first argument to put the player there (an exFAT image,
// say); by default it lies beside the source.
#include "BenchSupport.h"
#include "LibraryGenerator.h"

#include "app/LyrafetchDoc.h"
#include "platform/MessageTarget.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The albums a job copies or writes anew, as the Copy Files dialog counts them.
int AlbumsToWrite(const CFolderNode& node)
{
    int count = node.IsAlbumToCopy() || node.IsAlbumToRefresh() ? 1 : 0;
    for (const auto& child : node.m_children) {
        count += AlbumsToWrite(*child);
    }
    return count;
}

// Loads the pair, lets select choose the albums wanted, and runs the job as the
// Copy Files dialog does; returns the seconds of the job alone.
double RunJob(const fs::path& computer, const fs::path& player, const std::function<void(CFolderNode&)>& select)
{
    CLyrafetchDoc doc({computer.string(), player.string()});
    if (doc.Load(); !doc.m_pModel) {
        throw std::runtime_error("load failed");
    }
    select(*doc.m_pModel);
    doc.m_log.m_nAlbumsToDelete = doc.m_pModel->CountAlbumsToDelete();
    doc.m_log.m_nAlbumsToCopy = AlbumsToWrite(*doc.m_pModel);
    CDoneWaiter waiter;
    const auto start = std::chrono::steady_clock::now();
    if (!doc.StartCopy(&waiter, WM_COPYNOTIFY)) {
        throw std::runtime_error("job not started");
    }
    waiter.Wait();
    doc.EndCopy();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (doc.m_log.m_nAlbumsToCopy != 0 || doc.m_log.m_nAlbumsToDelete != 0 ||
        doc.m_log.GetText().find("ERROR") != std::string::npos) {
        throw std::runtime_error("the job failed:\n" + doc.m_log.GetText());
    }
    return seconds;
}

// A delete pass of a job against rm -r of the same folders and a flush: the
// albums of the shape taken off the player.
void MeasureDelete(const fs::path& data, const fs::path& target, const char* shape, const CLibraryParams& params,
                   const char* goal)
{
    const fs::path library = data / (std::string("delete-") + shape);
    if (!fs::exists(library / "complete")) {
        fs::remove_all(library);
        GenerateLibraryPair(library / "player", library / "unused", params);
        fs::create_directory(library / "complete");
    }
    const fs::path empty = target / "bench-empty";
    const fs::path player = target / "bench-player";
    fs::create_directories(empty / "Nothing");
    const auto fill = [&] {
        fs::remove_all(player);
        RunCommand("cp -r " + Quoted(library / "player") + " " + Quoted(player) + " && sync");
    };
    const int runs = 5;
    const std::string rm = "rm -r " + Quoted(player) + "/* && sync";
    std::vector<double> job;
    std::vector<double> reference;
    for (int run = 0; run < runs; ++run) {
        fill();
        job.push_back(RunJob(empty, player, [](CFolderNode& root) { root.ApplySelection(SELECT_NONE); }));
        fill();
        reference.push_back(BestSeconds(1, [&] { RunCommand(rm); }));
    }
    fs::remove_all(player);
    fs::remove_all(empty);
    std::sort(job.begin(), job.end());
    std::sort(reference.begin(), reference.end());
    std::printf("delete benchmark: %s in %s, median of %d runs\n", shape, target.c_str(), runs);
    std::printf("  delete job                %8.3f s\n", job[runs / 2]);
    std::printf("  rm -r + sync              %8.3f s   ratio %5.2f %s\n", reference[runs / 2],
                job[runs / 2] / reference[runs / 2], goal);
}

// One album of 12 files of 3 to 12 MB on the player, changed on the computer:
// the job writes the new version beside the old, swaps them and deletes the
// old. Against a job that copies the album to an empty player and one that
// deletes it, the sum of both.
void MeasureRefresh(const fs::path& data, const fs::path& target)
{
    const fs::path library = data / "refresh-12";
    if (!fs::exists(library / "complete")) {
        fs::remove_all(library);
        CLibraryParams params;
        params.m_artists = 1;
        params.m_albumsPerArtist = 1;
        params.m_minFileSize = 3'000'000;
        params.m_maxFileSize = 12'000'000;
        params.m_overlap = 0;
        params.m_playerOnly = 0;
        GenerateLibraryPair(library / "computer", library / "unused", params);
        fs::create_directory(library / "complete");
    }
    const fs::path computer = library / "computer";
    const fs::path player = target / "bench-player";
    RunCommand("cat " + Quoted(computer) + "/*/*/* >/dev/null");
    const auto all = [](CFolderNode& root) { root.ApplySelection(SELECT_ALL); };
    const auto none = [](CFolderNode& root) { root.ApplySelection(SELECT_NONE); };
    // As the scan finds the album once the computer's version changed.
    const std::function<void(CFolderNode&)> changed = [&](CFolderNode& node) {
        node.ApplySelection(SELECT_ALL);
        node.m_bChanged = node.IsAlbum() && !node.m_names[SIDE_PLAYER].empty();
        for (const auto& child : node.m_children) {
            changed(*child);
        }
    };
    const int runs = 9;
    std::vector<double> copyAndDelete;
    std::vector<double> refresh;
    for (int run = 0; run < runs; ++run) {
        fs::remove_all(player);
        fs::create_directories(player);
        RunCommand("sync");
        const double copy = RunJob(computer, player, all);
        RunCommand("sync");
        copyAndDelete.push_back(copy + RunJob(computer, player, none));
        RunJob(computer, player, all);
        RunCommand("sync");
        refresh.push_back(RunJob(computer, player, changed));
    }
    fs::remove_all(player);
    std::sort(copyAndDelete.begin(), copyAndDelete.end());
    std::sort(refresh.begin(), refresh.end());
    std::printf("refresh benchmark: one album of 12 files in %s, median of %d runs\n", target.c_str(), runs);
    std::printf("  copy job + delete job     %8.3f s\n", copyAndDelete[runs / 2]);
    std::printf("  refresh job               %8.3f s   ratio %5.2f (goal <= 1.10)\n", refresh[runs / 2],
                refresh[runs / 2] / copyAndDelete[runs / 2]);
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path data = BenchDataFolder("copy-1gb");
    const fs::path computer = data / "computer";
    // "refresh" as the second argument measures the refresh alone.
    if (argc > 2 && std::string(argv[2]) == "refresh") {
        fs::create_directories(argv[1]);
        MeasureRefresh(data, argv[1]);
        return 0;
    }
    if (!fs::exists(data / "complete")) {
        fs::remove_all(data);
        CLibraryParams params;
        params.m_artists = 11;
        params.m_albumsPerArtist = 1;
        params.m_minFilesPerAlbum = 10;
        params.m_maxFilesPerAlbum = 15;
        params.m_minFileSize = 3'000'000;
        params.m_maxFileSize = 12'000'000;
        params.m_overlap = 0;
        params.m_playerOnly = 0;
        std::printf("generating about 1 GB in %s ...\n", computer.c_str());
        const CLibraryStats stats = GenerateLibraryPair(computer, data / "unused-player", params);
        std::printf("generated %llu files, %.0f MB\n", static_cast<unsigned long long>(stats.m_files),
                    stats.m_bytes / 1e6);
        fs::create_directory(data / "complete");
    }
    const fs::path target = argc > 1 ? fs::path(argv[1]) : data;
    const fs::path player = target / "bench-player";
    const fs::path copy = target / "bench-cp";
    RunCommand("cat " + Quoted(computer) + "/*/*/* >/dev/null"); // the source in the cache for both

    // Two references: a flush of everything, which is all a kernel file system
    // needs, and a flush of each copied file (coreutils' sync FILE... calls
    // fsync on each), the only one that reaches a FUSE driver.
    const std::string cp = "cp -r " + Quoted(computer) + "/. " + Quoted(copy);
    const std::string references[] = {cp + " && sync", cp + " && find " + Quoted(copy) + " -type f -exec sync {} +"};
    const int runs = 5;
    double jobSeconds = 1e30;
    double referenceSeconds[2] = {1e30, 1e30};
    for (int run = 0; run < runs; ++run) {
        // Alternate, so that none always meets the file system after another.
        fs::remove_all(player);
        fs::create_directories(player);
        RunCommand("sync");
        jobSeconds =
            std::min(jobSeconds, RunJob(computer, player, [](CFolderNode& root) { root.ApplySelection(SELECT_ALL); }));
        for (int reference = 0; reference < 2; ++reference) {
            fs::remove_all(copy);
            fs::create_directories(copy);
            RunCommand("sync");
            referenceSeconds[reference] =
                std::min(referenceSeconds[reference], BestSeconds(1, [&] { RunCommand(references[reference]); }));
        }
    }
    fs::remove_all(player);
    fs::remove_all(copy);

    std::printf("copy benchmark: 1 GB in %s, best of %d runs\n", target.c_str(), runs);
    std::printf("  copy job                  %8.2f s\n", jobSeconds);
    std::printf("  cp -r + sync              %8.2f s   ratio %5.2f (goal <= 1.10 on a kernel file system)\n",
                referenceSeconds[0], jobSeconds / referenceSeconds[0]);
    std::printf("  cp -r + sync of each file %8.2f s   ratio %5.2f (goal <= 1.10 on FUSE)\n", referenceSeconds[1],
                jobSeconds / referenceSeconds[1]);
    CLibraryParams nested;
    nested.m_artists = 30;
    nested.m_albumsPerArtist = 10;
    nested.m_minFileSize = 20'000;
    nested.m_maxFileSize = 200'000;
    nested.m_overlap = 0;
    nested.m_playerOnly = 0;
    MeasureDelete(data, target, "300 albums of 12 files", nested, "(goal <= 1.10)");
    // Thousands of albums beside each other: what stays is not listed again
    // after each album that goes.
    CLibraryParams wide = nested;
    wide.m_artists = 1;
    wide.m_albumsPerArtist = 3000;
    wide.m_minFilesPerAlbum = wide.m_maxFilesPerAlbum = 1;
    // Hiding every album first costs a few more lookups of names in the
    // folder than rm -r makes, which tell on file systems that look names up
    // one entry after another, as exFAT does.
    MeasureDelete(data, target, "3000 albums of 1 file in one folder", wide, "(no goal: grows with the folder)");
    MeasureRefresh(data, target);
    return 0;
}
