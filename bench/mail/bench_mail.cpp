// Sends one large attachment to a local SMTP server, first with our library,
// then with the curl command uploading a message of the same size, and prints
// wall time and peak memory of each, and their ratios.
//
//   bench_mail [MiB]           runs the comparison (default 100 MiB)
//   bench_mail send PORT FILE  one submission with our library (child)
//   bench_mail size [MiB]      how soon a server with a 10 MB limit refuses
//                              the attachment, against the whole upload
#include "MailServers.h"
#include "bsmtp.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

struct Run
{
    double seconds = 0;
    double cpuSeconds = 0; // user + system of the sending process
    long peakKiB = 0;
    int status = -1;
};

Run Measure(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    // posix_spawn, not fork: a forked child would count our own pages.
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return {};
    int status = 0;
    rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                     + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

int SendOnce(const char *port, const char *file)
{
    const std::string server = std::string("127.0.0.1\t") + port + "\t120";
    const std::string files = std::string(file) + "|TMPbench.txt|application/octet-stream";
    char *result = SendMail(server.c_str(), "<to@kestlin.test>", "<me@kestlin.test>",
                            "【石油動態報告】", "報告ID:1\r\n", files.c_str());
    const bool ok = result && !*result;
    if (!ok)
        std::fprintf(stderr, "SendMail: %s\n", result ? result : "(null)");
    BsmtpFree(result);
    return ok ? 0 : 1;
}

void MakeFile(const std::string &path, size_t mib)
{
    std::mt19937_64 generator(42);
    std::vector<uint64_t> block(1 << 17); // 1 MiB
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < mib; ++i) {
        for (uint64_t &word : block)
            word = generator();
        out.write(reinterpret_cast<const char *>(block.data()),
                  static_cast<std::streamsize>(block.size() * sizeof(uint64_t)));
    }
}

void ClearMail(const kestlin::test::SmtpServer &server)
{
    for (const std::string &path : server.MessageFiles()) {
        fs::remove(path);
        fs::remove(fs::path(path).replace_extension(".env"));
    }
}

// Seconds from the call to SendMail to the refusal, by a server that takes
// at most 10,000,000 bytes and says so as offer tells; the time from MAIL
// FROM to the refusal is within it.
double TimeRefusal(const std::string &attachment, kestlin::test::SmtpOptions::SizeOffer offer,
                   std::string &reason)
{
    kestlin::test::SmtpServer server;
    kestlin::test::SmtpOptions options;
    options.mechanisms.clear();
    options.sizeLimit = 10000000;
    options.sizeOffer = offer;
    if (!server.Start(options, reason))
        return -1;
    const std::string address = "127.0.0.1\t" + std::to_string(server.port()) + "\t120";
    const std::string files = attachment + "|TMPbench.txt|application/octet-stream";
    const auto start = std::chrono::steady_clock::now();
    char *result = SendMail(address.c_str(), "<to@kestlin.test>", "<me@kestlin.test>",
                            "【石油動態報告】", "報告ID:1\r\n", files.c_str());
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    reason = result ? result : "(null)";
    BsmtpFree(result);
    return seconds;
}

int SizeRefusal(size_t mib)
{
    const fs::path dir
        = fs::temp_directory_path() / ("kestlin-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string attachment = (dir / "report.bin").string();
    MakeFile(attachment, mib);
    using Offer = kestlin::test::SmtpOptions::SizeOffer;
    const struct
    {
        Offer offer;
        const char *label;
        int rounds;
    } cases[] = { { Offer::Limit, "limit announced (SIZE 10000000)", 3 },
                  { Offer::Bare, "refused at MAIL FROM SIZE=", 3 },
                  { Offer::None, "SIZE not offered (whole upload)", 1 } };
    std::printf("attachment %zu MiB, server limit 10,000,000 bytes, loopback\n", mib);
    double times[3] = {};
    bool refused = true;
    for (size_t i = 0; i < 3; ++i) {
        double best = -1;
        std::string reason;
        for (int round = 0; round < cases[i].rounds; ++round) {
            const double seconds = TimeRefusal(attachment, cases[i].offer, reason);
            best = best < 0 || (seconds >= 0 && seconds < best) ? seconds : best;
        }
        // Sent is no refusal: that would be a fault, not a figure.
        refused = refused && best >= 0 && !reason.empty();
        times[i] = best;
        size_t cut = std::min<size_t>(reason.size(), 60);
        while (cut < reason.size() && (static_cast<unsigned char>(reason[cut]) & 0xC0) == 0x80)
            --cut; // not inside a character
        std::printf("%-34s %8.3f s (best of %d)  %s\n", cases[i].label, best, cases[i].rounds,
                    reason.substr(0, cut).c_str());
    }
    std::printf("refusal before the upload / after it: %.4f, %.4f (goal: under 1 s each)\n",
                times[0] / times[2], times[1] / times[2]);
    fs::remove_all(dir);
    return refused && times[0] < 1 && times[1] < 1 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "send")
        return SendOnce(argv[2], argv[3]);
    if (argc >= 2 && std::string(argv[1]) == "size")
        return SizeRefusal(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100);
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;

    const fs::path dir
        = fs::temp_directory_path() / ("kestlin-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string attachment = (dir / "report.bin").string();
    MakeFile(attachment, mib);

    kestlin::test::SmtpServer server;
    std::string reason;
    kestlin::test::SmtpOptions options;
    options.mechanisms.clear();
    if (!server.Start(options, reason)) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        return 1;
    }
    const std::string port = std::to_string(server.port());
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    // The message our library produced is what curl sends: same size.
    const Run warmup = Measure({ self, "send", port, attachment });
    if (warmup.status != 0 || !server.WaitForMessages(1, 60000))
        return 1;
    const std::string prepared = (dir / "prepared.eml").string();
    fs::copy_file(server.MessageFiles().at(0), prepared);
    ClearMail(server);

    const int rounds = 3;
    std::vector<Run> ours, theirs;
    for (int i = 0; i < rounds; ++i) {
        ours.push_back(Measure({ self, "send", port, attachment }));
        server.WaitForMessages(1, 60000);
        ClearMail(server);
        theirs.push_back(
            Measure({ "curl", "-sS", "smtp://127.0.0.1:" + port, "--mail-from", "me@kestlin.test",
                      "--mail-rcpt", "to@kestlin.test", "-T", prepared }));
        server.WaitForMessages(1, 60000);
        ClearMail(server);
    }
    auto best = [](const std::vector<Run> &runs) {
        Run b = runs.front();
        for (const Run &r : runs) {
            if (r.status != 0)
                return Run {};
            b.seconds = std::min(b.seconds, r.seconds);
            b.cpuSeconds = std::min(b.cpuSeconds, r.cpuSeconds);
            b.peakKiB = std::max(b.peakKiB, r.peakKiB);
        }
        return b;
    };
    const Run a = best(ours), b = best(theirs);
    std::printf("attachment           %zu MiB (message %.1f MiB)\n", mib,
                static_cast<double>(fs::file_size(prepared)) / (1 << 20));
    std::printf("libbsmtp SendMail    %.2f s (best of %d), CPU %.2f s, peak RSS %.1f MiB\n",
                a.seconds, rounds, a.cpuSeconds, a.peakKiB / 1024.0);
    std::printf("curl command         %.2f s (best of %d), CPU %.2f s, peak RSS %.1f MiB\n",
                b.seconds, rounds, b.cpuSeconds, b.peakKiB / 1024.0);
    std::printf("time ratio ours/curl %.2f (goal <= 1.20)\n", a.seconds / b.seconds);
    std::printf("peak memory ours     %.1f MiB (goal < 32 MiB)\n", a.peakKiB / 1024.0);
    server.Stop();
    fs::remove_all(dir);
    return a.status == 0 && b.status == 0 ? 0 : 1;
}
