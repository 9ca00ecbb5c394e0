// Converts an album of 12 generated 60-second FLAC tracks to Opus 128 kbit/s
// with a whole copy job onto an empty player, on a tmpfs and on an exFAT
// image (exfat-fuse), and compares it, in the same run, with the reference:
// `xargs -P $(nproc)` over `ffmpeg -c:a libopus -b:a 128k` into a folder,
// then `cp -r` of that folder onto the player and `sync`. Prints the ratios
// of wall time and of CPU time (this process's threads and every child's),
// and the rate per core in times real time. Runs as root: it mounts the two
// players in a mount namespace of its own.
#include "BenchSupport.h"

#include "app/LyrafetchDoc.h"
#include "platform/MessageTarget.h"
#include "transfer/FormatProfile.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {

constexpr int TRACKS = 12;
constexpr int TRACK_SECONDS = 60;

double Seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// CPU seconds, user and system, of this process's threads and of the
// children it has waited for.
double CpuSeconds()
{
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return Seconds(self.ru_utime) + Seconds(self.ru_stime) + Seconds(children.ru_utime) + Seconds(children.ru_stime);
}

struct CRun
{
    double m_wall = 0;
    double m_cpu = 0;
};

template <typename Action> CRun Measure(Action action)
{
    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    action();
    return CRun{std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                CpuSeconds() - cpuBefore};
}

void ConvertWithJob(const fs::path& computer, const fs::path& player)
{
    CLyrafetchDoc doc({computer.string(), player.string()});
    if (doc.Load(); !doc.m_pModel) {
        throw std::runtime_error("load failed");
    }
    doc.SetFormat(*FindProfile("opus-128"));
    doc.m_pModel->ApplySelection(SELECT_ALL);
    doc.m_log.m_nAlbumsToCopy = doc.m_pModel->CountAlbumsToCopy();
    CDoneWaiter waiter;
    if (!doc.StartCopy(&waiter, WM_COPYNOTIFY)) {
        throw std::runtime_error("job not started");
    }
    waiter.Wait();
    doc.EndCopy();
    if (doc.m_log.m_nAlbumsToCopy != 0 || doc.m_log.GetText().find("ERROR") != std::string::npos) {
        throw std::runtime_error("the job failed:\n" + doc.m_log.GetText());
    }
}

// The album, made once and kept with the benchmarks' data.
fs::path MakeAlbum()
{
    const fs::path computer = BenchDataFolder("convert") / "computer";
    const fs::path album = computer / "Artist" / "Album";
    fs::create_directories(album);
    for (int track = 1; track <= TRACKS; ++track) {
        const fs::path file = album / ((track < 10 ? "0" : "") + std::to_string(track) + ".flac");
        if (!fs::exists(file)) {
            RunCommand("ffmpeg -nostdin -y -loglevel error -f lavfi -i anoisesrc=d=" + std::to_string(TRACK_SECONDS) +
                       ":c=pink:r=44100:a=0.3:seed=" + std::to_string(track) + " -ac 2 " + Quoted(file));
        }
    }
    return computer;
}

void MountPlayer(const fs::path& player, bool exfat, const fs::path& image)
{
    fs::create_directories(player);
    if (exfat) {
        RunCommand("rm -f " + Quoted(image) + " && truncate -s 512M " + Quoted(image) + " && mkfs.exfat " +
                   Quoted(image) + " >/dev/null && mount.exfat-fuse -o uid=0,gid=0 $(losetup -f --show " +
                   Quoted(image) + ") " + Quoted(player) + " >/dev/null 2>&1");
    } else {
        RunCommand("mount -t tmpfs -o size=512m lyrafetch-bench " + Quoted(player));
    }
}

} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::fprintf(stderr, "needs root, to mount the players in a namespace of its own\n");
        return 1;
    }
    const fs::path computer = MakeAlbum();
    const fs::path album = computer / "Artist" / "Album";
    const fs::path work = BenchDataFolder("convert") / "run";
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    RunCommand("cat " + Quoted(album) + "/* >/dev/null"); // the sources in the cache for both
    std::printf("%d tracks of %d s, FLAC to Opus 128 kbit/s, %u cores\n", TRACKS, TRACK_SECONDS, cores);
    for (const bool exfat : {false, true}) {
        fs::remove_all(work);
        const fs::path player = work / "player";
        const fs::path converted = work / "converted";
        MountPlayer(player, exfat, work / "player.img");
        const CRun job = Measure([&] { ConvertWithJob(computer, player); });
        RunCommand("rm -r " + Quoted(player / "Artist") + " && sync");
        fs::create_directories(converted);
        const CRun reference = Measure([&] {
            RunCommand("cd " + Quoted(album) +
                       " && ls *.flac | xargs -P $(nproc) -I{} ffmpeg -nostdin -loglevel error " +
                       "-y -i {} -c:a libopus -b:a 128k " + Quoted(converted) + "/{}.opus && cp -r " +
                       Quoted(converted) + " " + Quoted(player / "Album") + " && sync");
        });
        RunCommand("umount " + Quoted(player));
        if (exfat) {
            RunCommand("losetup -j " + Quoted(work / "player.img") + " | cut -d: -f1 | xargs -r losetup -d");
        }
        const double audio = TRACKS * TRACK_SECONDS;
        std::printf("%s player: job %.2f s wall, %.2f s CPU; reference %.2f s wall, %.2f s CPU\n",
                    exfat ? "exFAT" : "tmpfs", job.m_wall, job.m_cpu, reference.m_wall, reference.m_cpu);
        std::printf("  wall time ratio %.2fx (goal <= 1.0x), CPU time ratio %.2fx (goal <= 1.1x)\n",
                    job.m_wall / reference.m_wall, job.m_cpu / reference.m_cpu);
        std::printf("  per core: job %.0fx real time (%.0fx per CPU second), reference %.0fx\n",
                    audio / (job.m_wall * cores), audio / job.m_cpu, audio / (reference.m_wall * cores));
    }
    fs::remove_all(work);
    return 0;
}
