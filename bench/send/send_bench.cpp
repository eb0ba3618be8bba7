// One submission timed step by step, next to the standard tools doing the
// same work on the same files against the same local SMTP server:
//   send_bench compare <scratch> <MiB> <rounds>
//   send_bench memory <scratch> <MiB>      (peak memory of one submission)
//   send_bench cli <scratch> <MiB> <rounds> <kestlin>
//                     (the program's --send next to the window's submission)
#include "MailServers.h"
#include "common/Display.h"
#include "packaging/clsCryptFile.h"
#include "settings/clsIniFile.h"
#include "startup/SendSteps.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace kestlin;

namespace {

const char *const kKey = "f6dff74fbb0000000000000000000000"; // MD5("Ruda"), 40 bits + zero salt
const char *const kSteps[]
    = { "FncCrtWorkSpace", "FncMoveFile", "FncCrtText", "FncCompress",  "FncFixFileName",
        "FncEncrypt",      "FncSendMail", "FncMoveLog", "FncCrtLogFile" };
// The tool that does each step's work, where one does.
const std::map<std::string, std::string> kPeers = { { "FncMoveFile", "cp" },
                                                    { "FncCompress", "gcab -c -z" },
                                                    { "FncEncrypt", "openssl enc -rc4" },
                                                    { "FncSendMail", "curl smtp upload" },
                                                    { "FncMoveLog", "cp -r + rm -rf" } };

class QuietDisplay : public Display
{
public:
    MsgResult ShowMessage(const std::string &text, const std::string &, MsgIcon icon,
                          MsgButtons) override
    {
        if (icon != MsgIcon::Information)
            std::cerr << "message: " << text << "\n";
        return MsgResult::Ok;
    }
    void SetWaitCursor(bool) override { }
    std::optional<std::string> ChooseExistingFile(const std::string &) override { return {}; }
    std::optional<std::string> ChooseFolder(const std::string &) override { return {}; }
};

class FileList : public AttachmentList
{
public:
    std::vector<std::string> entries;
    int Count() const override { return static_cast<int>(entries.size()); }
    std::string Entry(int i) const override { return entries[static_cast<size_t>(i)]; }
    void SetSelected(int, bool) override { }
    void Remove(int i) override { entries.erase(entries.begin() + i); }
    void FocusAddButton() override { }
};

class StepTimer : public SendProgress
{
public:
    void StepStarted(const std::string &step, const std::string &) override
    {
        Close();
        current_ = step;
        start_ = Clock::now();
    }
    void BytesDone(int64_t, int64_t) override { }
    void Close()
    {
        if (!current_.empty())
            seconds[current_] = std::chrono::duration<double>(Clock::now() - start_).count();
        current_.clear();
    }
    std::map<std::string, double> seconds;

private:
    std::string current_;
    Clock::time_point start_;
};

bool Run(const std::string &command)
{
    const int status = std::system(command.c_str());
    if (status != 0)
        std::cerr << "failed (" << status << "): " << command << "\n";
    return status == 0;
}

std::string Q(const std::string &path)
{
    return "'" + path + "'";
}

// Half the files CSV text, half pseudo-random bytes that do not compress.
std::vector<std::string> MakeReports(const std::string &folder, int mib)
{
    fs::create_directories(folder);
    std::vector<std::string> files;
    const int count = 10;
    const size_t each = static_cast<size_t>(mib) * 1024 * 1024 / count;
    std::vector<char> buffer(1 << 20);
    uint64_t x = 88172645463325252ull;
    for (int i = 0; i < count; ++i) {
        const std::string path = folder + "/report" + std::to_string(i) + (i % 2 ? ".bin" : ".csv");
        std::ofstream out(path, std::ios::binary);
        for (size_t done = 0; done < each;) {
            const size_t n = std::min(buffer.size(), each - done);
            if (i % 2) {
                for (size_t k = 0; k < n; ++k) {
                    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
                    buffer[k] = static_cast<char>(x);
                }
            } else {
                for (size_t k = 0; k < n; ++k) {
                    const uint64_t row = (done + k) / 40;
                    buffer[k] = (done + k) % 40 == 39 ? '\n' : "0123456789,"[(row * 7 + k) % 11];
                }
            }
            out.write(buffer.data(), static_cast<std::streamsize>(n));
            done += n;
        }
        files.push_back(path);
    }
    return files;
}

std::string Stored(const std::string &clear)
{
    clsCryptFile crypt;
    crypt.InFile(clear);
    crypt.Password("Ruda");
    crypt.Encrypt(1);
    std::string text = crypt.OutFile();
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.erase(at, 2);
    return text;
}

struct Bench
{
    std::string scratch, ini, temp, tempLog, log;
    std::vector<std::string> reports;
    test::SmtpServer smtp;

    bool Setup(const std::string &folder, int mib)
    {
        scratch = folder;
        ini = scratch + "/Kestlin.INI";
        temp = scratch + "/temp";
        tempLog = scratch + "/templog";
        log = scratch + "/log";
        for (const std::string &f : { temp, tempLog, log })
            fs::create_directories(f);
        reports = MakeReports(scratch + "/reports", mib);
        std::string reason;
        if (!smtp.Start(test::SmtpOptions {}, reason)) {
            std::cerr << "SMTP server: " << reason << "\n";
            return false;
        }
        const std::map<std::string, std::map<std::string, std::string>> settings
            = { { "USER",
                  { { "HOUKOKU", "石油動態報告" },
                    { "USERID", "U01" },
                    { "PASSWORD", Stored("secret") },
                    { "MAILADRESS", "reply@example.jp" } } },
                { "MAIL",
                  { { "SMTP", "127.0.0.1" },
                    { "PORT", std::to_string(smtp.port()) },
                    { "CERTIFY", "0" },
                    { "SUBJECT", "【石油動態報告】" },
                    { "MAILADRESS", "report@example.jp" } } },
                { "SYSTEM", { { "LOG", log }, { "TEMPLOG", tempLog }, { "TEMP", temp } } } };
        clsIniFile file;
        file.PathIniFile(ini);
        for (const auto &[section, keys] : settings) {
            file.Section(section);
            for (const auto &[key, value] : keys) {
                file.Key(key);
                if (!file.WriteValue(value)) {
                    std::cerr << file.GetErrMessage() << "\n";
                    return false;
                }
            }
        }
        return true;
    }

    // The mails pile up in the server's folder: drop them between rounds.
    void DropMail()
    {
        for (const test::ReceivedMail &mail : smtp.Received())
            fs::remove(mail.path);
        fs::remove_all(tempLog);
        fs::create_directories(tempLog);
    }

    bool Ours(std::map<std::string, double> &seconds)
    {
        QuietDisplay display;
        FileList list;
        list.entries = reports;
        SendPipeline pipeline(display, list, ini);
        StepTimer timer;
        pipeline.Progress(&timer);
        const auto start = Clock::now();
        pipeline.cmdSend_Click();
        timer.Close();
        seconds = timer.seconds;
        seconds["total"] = std::chrono::duration<double>(Clock::now() - start).count();
        return list.entries.empty();
    }

    bool Tools(std::map<std::string, double> &seconds)
    {
        const std::string work = temp + "/tools";
        const std::string copies = work + "/Temp";
        fs::create_directories(copies);
        std::string cp = "cp --";
        for (const std::string &r : reports)
            cp.append(" ").append(Q(r));
        const std::string cab = work + "/TEMPU_FILE.cab", enc = work + "/TMPU01.txt";
        const std::string eml = scratch + "/message.eml";
        const std::vector<std::pair<std::string, std::string>> steps = {
            { "FncMoveFile", cp + " " + Q(copies) },
            { "FncCompress", "cd " + Q(copies) + " && gcab -c -z " + Q(cab) + " *" },
            { "FncEncrypt", "openssl enc -rc4 -K " + std::string(kKey)
                                + " -provider legacy -provider default -in " + Q(cab) + " -out "
                                + Q(enc) },
            { "FncSendMail", "curl -s --crlf smtp://127.0.0.1:" + std::to_string(smtp.port())
                                 + " --mail-from reply@example.jp --mail-rcpt report@example.jp"
                                 + " --upload-file " + Q(eml) },
            { "FncMoveLog",
              "cp -r -- " + Q(copies) + " " + Q(tempLog + "/tools") + " && rm -rf " + Q(work) },
        };
        double total = 0;
        for (const auto &[step, command] : steps) {
            if (step == "FncSendMail" && !PrepareMessage(enc, eml))
                return false;
            const auto start = Clock::now();
            if (!Run(command))
                return false;
            seconds[step] = std::chrono::duration<double>(Clock::now() - start).count();
            total += seconds[step];
        }
        seconds["total"] = total;
        return true;
    }

    // The message curl uploads, made beforehand and not timed.
    static bool PrepareMessage(const std::string &attachment, const std::string &eml)
    {
        {
            std::ofstream out(eml, std::ios::binary);
            out << "From: reply@example.jp\nTo: report@example.jp\nSubject: report\n"
                   "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n"
                   "--b\nContent-Type: text/plain\n\nU01,reply@example.jp\n\n"
                   "--b\nContent-Type: application/octet-stream\n"
                   "Content-Transfer-Encoding: base64\n"
                   "Content-Disposition: attachment; filename=\"TMPU01.txt\"\n\n";
        }
        return Run("openssl base64 -e -in " + Q(attachment) + " >> " + Q(eml)
                   + " && printf '\\n--b--\\n' >> " + Q(eml));
    }
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

long PeakKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// kestlin --send of the same reports as a process of its own, its output
// thrown away: wall seconds and the process's peak memory in KiB.
bool CommandLineSend(Bench &bench, const std::string &kestlin, double &seconds, long &peakKiB)
{
    std::vector<std::string> args { kestlin, "--settings", bench.ini, "--send" };
    args.insert(args.end(), bench.reports.begin(), bench.reports.end());
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout))
            ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return false;
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    peakKiB = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::cerr << "kestlin --send ended with " << status << "\n";
        return false;
    }
    return true;
}

// Alternating rounds, so that the page cache and the machine's other load
// fall on both alike.
int CompareCommandLine(Bench &bench, int rounds, const std::string &kestlin)
{
    std::vector<double> window, cli;
    long peakKiB = 0;
    const auto runWindow = [&] {
        std::map<std::string, double> seconds;
        if (!bench.Ours(seconds))
            return false;
        window.push_back(seconds["total"]);
        bench.DropMail();
        return true;
    };
    const auto runCli = [&] {
        double took = 0;
        long peak = 0;
        if (!CommandLineSend(bench, kestlin, took, peak))
            return false;
        cli.push_back(took);
        peakKiB = std::max(peakKiB, peak);
        bench.DropMail();
        return true;
    };
    // Each goes first every other round: whatever the one before leaves
    // behind (dirty pages, a busy server) falls on both alike.
    for (int round = 0; round < rounds; ++round) {
        const bool ok = round % 2 ? runCli() && runWindow() : runWindow() && runCli();
        if (!ok)
            return 1;
    }
    const double w = Median(window), c = Median(cli);
    std::printf("%-28s %9s\n", "submission", "s");
    std::printf("%-28s %9.3f\n", "window's (in process)", w);
    std::printf("%-28s %9.3f\n", "kestlin --send (process)", c);
    std::printf("ratio --send / window: %.3f (goal <= 1.05; medians of %d rounds)\n",
                w > 0 ? c / w : 0, rounds);
    std::printf("kestlin --send peak RSS: %.1f MiB (goal < 64 MiB)\n", peakKiB / 1024.0);
    return 0;
}

int Compare(Bench &bench, int rounds)
{
    std::map<std::string, std::vector<double>> ours, tools;
    for (int round = 0; round < rounds; ++round) {
        std::map<std::string, double> a, b;
        if (!bench.Ours(a) || !bench.Tools(b))
            return 1;
        for (const auto &[k, v] : a)
            ours[k].push_back(v);
        for (const auto &[k, v] : b)
            tools[k].push_back(v);
        bench.DropMail();
    }
    std::printf("%-16s %9s %9s %7s  %s\n", "step", "ours s", "tools s", "ratio", "tool");
    std::vector<std::string> rows(std::begin(kSteps), std::end(kSteps));
    rows.push_back("total");
    for (const std::string &step : rows) {
        const double o = Median(ours[step]);
        if (tools.count(step)) {
            const double t = Median(tools[step]);
            const auto peer = kPeers.find(step);
            std::printf("%-16s %9.3f %9.3f %7.2f  %s\n", step.c_str(), o, t, t > 0 ? o / t : 0,
                        peer == kPeers.end() ? "all of the above" : peer->second.c_str());
        } else {
            std::printf("%-16s %9.3f %9s %7s\n", step.c_str(), o, "-", "-");
        }
    }
    std::printf("(medians of %d rounds; curl's message is prepared beforehand, untimed)\n", rounds);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4 || (std::string(argv[1]) == "cli" && argc < 6)) {
        std::cerr << "usage: send_bench compare <scratch> <MiB> <rounds> | memory <scratch> <MiB>"
                     " | cli <scratch> <MiB> <rounds> <kestlin>\n";
        return 2;
    }
    const std::string mode = argv[1];
    const int mib = std::atoi(argv[3]);
    Bench bench;
    const std::string scratch = std::string(argv[2]) + "/" + mode + std::to_string(mib);
    if (!bench.Setup(scratch, mib))
        return 1;
    int status = 0;
    if (mode == "compare") {
        status = Compare(bench, argc > 4 ? std::atoi(argv[4]) : 3);
    } else if (mode == "cli") {
        status = CompareCommandLine(bench, std::atoi(argv[4]), argv[5]);
    } else {
        const long before = PeakKiB();
        std::map<std::string, double> seconds;
        status = bench.Ours(seconds) ? 0 : 1;
        std::printf("%4d MiB of reports: peak RSS %.1f MiB (%.1f MiB before the submission)\n", mib,
                    PeakKiB() / 1024.0, before / 1024.0);
    }
    bench.smtp.Stop();
    fs::remove_all(scratch);
    return status;
}
