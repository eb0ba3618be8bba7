// Packs ~50 MB (30 MB of Japanese CSV-like text, 20 MB of random bytes) with
// our Cab and with the peers in the same run, and prints the ratios:
//   size: our archive against gzip -6 of the same bytes (goal <= 1.01),
//   time: our Cab against gcab -c -z (goal <= 1.0),
//   peak memory of our Cab, for the text alone and for everything (it must
//   not grow with the input; goal < 32 MiB).
// Usage: kestlin_cab_bench <empty work folder>
#include "cab32.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr size_t kTextBytes = 30u << 20;
constexpr size_t kRandomBytes = 20u << 20;

void WriteText(const std::string &path)
{
    static const char *const products[]
        = { "ガソリン", "灯油", "軽油", "A重油", "C重油", "ジェット燃料", "ナフサ" };
    static const char *const places[] = { "東京都千代田区", "大阪府大阪市",   "北海道札幌市",
                                          "福岡県福岡市",   "愛知県名古屋市", "神奈川県川崎市" };
    static const char *const notes[]
        = { "", "定期", "臨時報告", "訂正あり", "前月比増", "在庫調整" };
    std::mt19937 random(20240229);
    std::ofstream out(path, std::ios::binary);
    std::string line;
    size_t written = 0;
    out << "報告ID,年月,事業所,品目,受入(kl),払出(kl),在庫(kl),備考\r\n";
    while (written < kTextBytes) {
        line = "R" + std::to_string(100000 + random() % 900) + ",2024"
               + std::to_string(10 + random() % 3) + "," + places[random() % 6] + ","
               + products[random() % 7] + "," + std::to_string(random() % 50000) + "."
               + std::to_string(random() % 10) + "," + std::to_string(random() % 50000) + "."
               + std::to_string(random() % 10) + "," + std::to_string(random() % 200000) + ","
               + notes[random() % 6] + "\r\n";
        out << line;
        written += line.size();
    }
}

void WriteRandom(const std::string &path)
{
    std::mt19937_64 random(7);
    std::ofstream out(path, std::ios::binary);
    std::string block(1 << 16, '\0');
    for (size_t done = 0; done < kRandomBytes; done += block.size()) {
        for (size_t i = 0; i < block.size(); i += 8) {
            uint64_t v = random();
            std::memcpy(&block[i], &v, 8);
        }
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
}

struct Run
{
    double seconds = 0; // wall clock
    double cpuSeconds = 0; // user + system, with the processes it waited for
    long peakKiB = 0;
    int status = -1;
};

double Seconds(const timeval &t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs work in a child process, so that its peak memory is its own.
template<typename Work>
Run Measure(Work work)
{
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(work());
    int status = 0;
    rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.peakKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

constexpr int kRounds = 3;

Run Best(const Run &a, const Run &b)
{
    if (a.status != 0)
        return b;
    Run best = a;
    best.seconds = std::min(a.seconds, b.seconds);
    best.cpuSeconds = std::min(a.cpuSeconds, b.cpuSeconds);
    best.peakKiB = std::max(a.peakKiB, b.peakKiB);
    best.status = b.status;
    return best;
}

Run Shell(const std::string &command)
{
    return Measure([&] { return std::system(command.c_str()) == 0 ? 0 : 1; });
}

Run OurCab(const std::string &archive, const std::string &folder)
{
    return Measure([&] {
        std::string line = "-a -r -o -mz \"" + archive + "\" \"" + folder + "/\" *.*";
        return Cab(1, line.c_str(), nullptr, 0) == 0 ? 0 : 1;
    });
}

double Size(const std::string &path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <empty work folder>\n", argv[0]);
        return 2;
    }
    const std::string w = argv[1];
    ::mkdir((w + "/text").c_str(), 0755);
    ::mkdir((w + "/all").c_str(), 0755);
    WriteText(w + "/text/report.csv");
    WriteRandom(w + "/all/random.bin");
    ::link((w + "/text/report.csv").c_str(), (w + "/all/report.csv").c_str());

    Run textRun = OurCab(w + "/text.cab", w + "/text");
    Run gzipText = Shell("gzip -6 -c '" + w + "/text/report.csv' > '" + w + "/text.gz'");
    Run gzipRandom = Shell("gzip -6 -c '" + w + "/all/random.bin' > '" + w + "/random.gz'");
    // The machine may be shared: ours and gcab take turns, the best of each counts.
    Run allRun, gcab;
    for (int round = 0; round < kRounds; ++round) {
        allRun = Best(allRun, OurCab(w + "/all.cab", w + "/all"));
        gcab = Best(gcab, Shell("cd '" + w + "/all' && gcab -c -z '" + w
                                + "/gcab.cab' random.bin report.csv"));
    }
    for (const Run &r : { textRun, allRun, gzipText, gzipRandom, gcab }) {
        if (r.status != 0) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
    }
    const double gzipAll = Size(w + "/text.gz") + Size(w + "/random.gz");
    std::printf("input: %.1f MB text + %.1f MB random\n", kTextBytes / 1e6, kRandomBytes / 1e6);
    std::printf("size, text:  ours %.0f B / gzip -6 %.0f B = %.4f (goal <= 1.01)\n",
                Size(w + "/text.cab"), Size(w + "/text.gz"),
                Size(w + "/text.cab") / Size(w + "/text.gz"));
    std::printf("size, all:   ours %.0f B / gzip -6 %.0f B = %.4f (goal <= 1.01)\n",
                Size(w + "/all.cab"), gzipAll, Size(w + "/all.cab") / gzipAll);
    std::printf("size, all:   gcab -c -z %.0f B / gzip -6 = %.4f\n", Size(w + "/gcab.cab"),
                Size(w + "/gcab.cab") / gzipAll);
    std::printf(
        "time, all:   ours %.2f s / gcab -c -z %.2f s = %.3f (goal <= 1.0; best of %d, wall)\n",
        allRun.seconds, gcab.seconds, allRun.seconds / gcab.seconds, kRounds);
    std::printf(
        "cpu, all:    ours %.2f s / gcab -c -z %.2f s = %.3f (processor time, all threads)\n",
        allRun.cpuSeconds, gcab.cpuSeconds, allRun.cpuSeconds / gcab.cpuSeconds);
    std::printf("time, all:   gzip -6 (both files) %.2f s\n",
                gzipText.seconds + gzipRandom.seconds);
    std::printf("peak memory: ours %.1f MiB on 30 MB, %.1f MiB on 50 MB (goal < 32 MiB)\n",
                textRun.peakKiB / 1024.0, allRun.peakKiB / 1024.0);
    return 0;
}
