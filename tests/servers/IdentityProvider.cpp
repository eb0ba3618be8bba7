#include "IdentityProvider.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace kestlin::test {

namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

IdentityProvider::~IdentityProvider()
{
    Stop();
}

bool IdentityProvider::Start(const IdentityOptions &options, std::string &reason)
{
    Stop();
    std::string pattern = (fs::temp_directory_path() / "kestlin-idp.XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        reason = "no temporary folder for the identity provider";
        return false;
    }
    folder_ = pattern;
    std::vector<std::string> args {
        "/usr/bin/python3", std::string(KESTLIN_TEST_SERVERS_DIR) + "/oauth_provider.py",
        "--ready-file",     folder_ + "/ready",
        "--folder",         folder_,
        "--client-id",      options.clientId,
        "--approve",        options.deny ? "deny" : "auto",
        "--access-seconds", std::to_string(options.accessSeconds)
    };
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = folder_ + "/server.log";
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        reason = "cannot start the identity provider";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!fs::exists(folder_ + "/ready")) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_
            || std::chrono::steady_clock::now() > deadline) {
            reason = "the identity provider did not start: " + ReadText(log);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    port_ = std::atoi(ReadText(folder_ + "/ready").c_str());
    return true;
}

void IdentityProvider::Stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        folder_.clear();
    }
}

std::string IdentityProvider::Url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool IdentityProvider::Control(const std::string &what) const
{
    const std::string command = "curl -sf -X POST -o /dev/null '" + Url("/control/" + what) + "'";
    return std::system(command.c_str()) == 0;
}

std::vector<std::string> IdentityProvider::Requests() const
{
    std::vector<std::string> lines;
    std::istringstream in(ReadText(folder_ + "/requests.log"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace kestlin::test
