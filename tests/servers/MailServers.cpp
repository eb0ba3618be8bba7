#include "MailServers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace kestlin::test {

namespace fs = std::filesystem;

namespace {

const char *const kPython = "/usr/bin/python3";
const char *const kDovecot = "/usr/sbin/dovecot";

std::string Script(const char *name)
{
    return std::string(KESTLIN_TEST_SERVERS_DIR) + "/" + name;
}

std::string MakeFolder(const char *stem)
{
    std::string pattern = (fs::temp_directory_path() / stem).string() + ".XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    return pattern;
}

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool WriteAll(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// Starts a program with its output in logPath; -1 when it cannot start.
pid_t Spawn(const std::vector<std::string> &args, const std::string &logPath)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

bool Exited(pid_t pid)
{
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

// SIGTERM, and SIGKILL when the process has not gone within seconds.
void StopProcess(pid_t &pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Exited(pid)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid = -1;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::string Tail(const std::string &text)
{
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

// A certificate for name from a certificate authority of its own (ca.pem),
// made with the openssl command.
bool MakeCertificate(const std::string &folder, const std::string &name, std::string &reason,
                     bool weakKey = false)
{
    const bool address = name.find_first_not_of("0123456789.") == std::string::npos;
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string serverKey = weakKey ? std::string(" -newkey rsa:1024 -nodes") : key;
    const std::string command = "cd '" + folder + "' && { openssl req -x509" + key
                                + " -days 2 -subj /CN=Kestlin-Test-CA -keyout ca.key -out ca.pem"
                                  " && openssl req"
                                + serverKey + " -subj /CN=" + name
                                + " -keyout key.pem -out cert.csr"
                                + " && printf 'subjectAltName=" + (address ? "IP:" : "DNS:") + name
                                + "\\n' >cert.ext"
                                  " && openssl x509 -req -in cert.csr -CA ca.pem -CAkey ca.key"
                                  " -CAcreateserial -days 2 -extfile cert.ext -out cert.pem;"
                                  " } >openssl.log 2>&1";
    if (std::system(command.c_str()) != 0) {
        reason = "openssl could not make a certificate: " + ReadAll(folder + "/openssl.log");
        return false;
    }
    return true;
}

const char *StallWord(SmtpOptions::Stall stall)
{
    switch (stall) {
    case SmtpOptions::Stall::Greeting:
        return "greeting";
    case SmtpOptions::Stall::Data:
        return "data";
    case SmtpOptions::Stall::EndOfData:
        return "end";
    case SmtpOptions::Stall::None:
        break;
    }
    return "none";
}

const char *SizeOfferWord(SmtpOptions::SizeOffer offer)
{
    switch (offer) {
    case SmtpOptions::SizeOffer::Bare:
        return "bare";
    case SmtpOptions::SizeOffer::None:
        return "none";
    case SmtpOptions::SizeOffer::Limit:
        break;
    }
    return "limit";
}

ReceivedMail ReadReceived(const fs::path &eml)
{
    ReceivedMail mail;
    mail.path = eml.string();
    mail.raw = ReadAll(mail.path);
    fs::path env = eml;
    env.replace_extension(".env");
    std::istringstream lines(ReadAll(env.string()));
    std::string line;
    while (std::getline(lines, line)) {
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "mail_from")
            mail.mailFrom = value;
        else if (key == "rcpt_to")
            mail.rcptTos.push_back(value);
        else if (key == "authenticated")
            mail.authenticated = value == "1";
        else if (key == "mechanism")
            mail.mechanism = value;
        else if (key == "login")
            mail.login = value;
        else if (key == "tls")
            mail.tls = value == "1";
    }
    return mail;
}

std::string Unhex(const std::string &hex)
{
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The major and minor version of the installed Dovecot, such as 203 for
// "2.3.19.1 (9b53102964)" and 204 for "2.4.1-4 (7d8c0e5759)"; 0 when unknown.
int DovecotVersion()
{
    static const int version = [] {
        FILE *pipe = ::popen((std::string(kDovecot) + " --version 2>/dev/null").c_str(), "r");
        if (!pipe)
            return 0;
        int major = 0;
        int minor = 0;
        const int fields = std::fscanf(pipe, "%d.%d", &major, &minor);
        ::pclose(pipe);
        return fields == 2 ? major * 100 + minor : 0;
    }();
    return version;
}

// The settings that differ between Dovecot 2.3 and 2.4 (2.4 refuses the
// older names and wants its version first). Dovecot's login and mail
// processes run as other users than root: as nobody when the tests run as
// root, else as the user running them.
std::string DovecotConfig(const std::string &folder, int port, bool stls)
{
    const bool root = ::geteuid() == 0;
    const std::string uid = root ? "65534" : std::to_string(::geteuid());
    const std::string gid = root ? "65534" : std::to_string(::getegid());
    const std::string home = folder + "/home";
    const bool v24 = DovecotVersion() >= 204;
    std::ostringstream conf;
    if (v24)
        conf << "dovecot_config_version = 2.4.0\ndovecot_storage_version = 2.4.0\n";
    conf << "base_dir = " << folder << "/run\n"
         << "state_dir = " << folder << "/state\n"
         << "log_path = " << folder << "/dovecot.log\n"
         << "protocols = pop3\n"
         << "listen = 127.0.0.1\n"
         << "ssl = " << (stls ? "yes" : "no") << "\n"
         << "auth_mechanisms = plain login\n"
         << "auth_failure_delay = 0\n"
         << "first_valid_uid = 1\n"
         << "service pop3-login {\n  inet_listener pop3 {\n    port = " << port << "\n  }\n}\n"
         << "service anvil {\n  chroot =\n}\nservice stats {\n  chroot =\n}\n";
    if (v24) {
        conf << "auth_allow_cleartext = yes\n"
             << "mail_driver = maildir\nmail_path = " << home << "/Maildir\n"
             << "passdb passwd-file {\n  passwd_file_path = " << folder << "/passwd\n}\n"
             << "userdb static {\n  fields {\n    uid = " << uid << "\n    gid = " << gid
             << "\n    home = " << home << "\n  }\n}\n";
        if (stls)
            conf << "ssl_server_cert_file = " << folder << "/cert.pem\n"
                 << "ssl_server_key_file = " << folder << "/key.pem\n";
    } else {
        conf << "disable_plaintext_auth = no\n"
             << "mail_location = maildir:" << home << "/Maildir\n"
             << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " << folder
             << "/passwd\n}\n"
             << "userdb {\n  driver = static\n  args = uid=" << uid << " gid=" << gid
             << " home=" << home << "\n}\n";
        if (stls)
            conf << "ssl_cert = <" << folder << "/cert.pem\nssl_key = <" << folder << "/key.pem\n";
    }
    if (!root) {
        const char *user = std::getenv("USER");
        conf << "default_internal_user = " << (user ? user : "") << "\n"
             << "default_login_user = " << (user ? user : "") << "\n";
    }
    return conf.str();
}

} // namespace

// ---------------------------------------------------------------- SMTP

SmtpServer::~SmtpServer()
{
    Stop();
}

void SmtpServer::Stop()
{
    StopProcess(pid_);
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        folder_.clear();
    }
}

bool SmtpServer::Start(const SmtpOptions &options, std::string &reason)
{
    Stop();
    folder_ = MakeFolder("kestlin-smtp");
    if (folder_.empty()) {
        reason = "no temporary folder for the SMTP server";
        return false;
    }
    fs::create_directory(folder_ + "/mail");
    std::string mechanisms;
    for (const std::string &mechanism : options.mechanisms)
        mechanisms += (mechanisms.empty() ? "" : ",") + mechanism;
    std::vector<std::string> args { kPython,
                                    Script("smtp_server.py"),
                                    "--port",
                                    std::to_string(options.port),
                                    "--ready-file",
                                    folder_ + "/ready",
                                    "--mail-dir",
                                    folder_ + "/mail",
                                    "--auth=" + mechanisms,
                                    "--user",
                                    options.user,
                                    "--password",
                                    options.password,
                                    "--stall",
                                    StallWord(options.stall),
                                    "--throttle",
                                    std::to_string(options.throttleBytesPerSecond),
                                    "--size-limit",
                                    std::to_string(options.sizeLimit),
                                    "--size-offer",
                                    SizeOfferWord(options.sizeOffer) };
    if (!options.bearerToken.empty())
        args.insert(args.end(), { "--bearer-token", options.bearerToken });
    if (options.afterData != SmtpOptions::AfterData::Reply)
        args.insert(args.end(),
                    { "--after-data",
                      options.afterData == SmtpOptions::AfterData::Drop ? "drop" : "refuse" });
    if (options.startTls || options.implicitTls) {
        if (!MakeCertificate(folder_, options.certificateName, reason, options.weakKey))
            return false;
        if (options.weakKey)
            args.push_back("--weak-certificate");
        args.insert(args.end(), { "--cert", folder_ + "/cert.pem", "--key", folder_ + "/key.pem" });
        if (options.implicitTls)
            args.push_back("--implicit-tls");
        if (options.oldTls)
            args.push_back("--old-tls");
    }
    if (!options.oauthTokens.empty())
        args.insert(args.end(), { "--oauth-tokens", options.oauthTokens });
    const std::string log = folder_ + "/server.log";
    pid_ = Spawn(args, log);
    if (pid_ < 0) {
        reason = std::string("cannot start ") + kPython + ": " + std::strerror(errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!fs::exists(folder_ + "/ready")) {
        if (Exited(pid_) || std::chrono::steady_clock::now() > deadline) {
            pid_ = Exited(pid_) ? -1 : pid_;
            reason = "the SMTP server did not start: " + Tail(ReadAll(log));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    port_ = std::atoi(ReadAll(folder_ + "/ready").c_str());
    return true;
}

std::vector<std::string> SmtpServer::MessageFiles() const
{
    std::vector<std::string> files;
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(folder_ + "/mail", error)) {
        if (entry.path().extension() == ".eml")
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<ReceivedMail> SmtpServer::Received() const
{
    std::vector<ReceivedMail> mails;
    for (const std::string &file : MessageFiles())
        mails.push_back(ReadReceived(file));
    return mails;
}

int SmtpServer::MailCommands() const
{
    const std::string log = ReadAll(folder_ + "/mail/commands.log");
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
}

std::vector<std::string> SmtpServer::Dialogue() const
{
    std::vector<std::string> lines;
    std::istringstream log(ReadAll(folder_ + "/mail/dialogue.log"));
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
    return lines;
}

bool SmtpServer::WaitForMessages(size_t count, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (MessageFiles().size() < count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// ---------------------------------------------------------------- POP3

Pop3Server::~Pop3Server()
{
    Stop();
}

void Pop3Server::Stop()
{
    StopProcess(pid_);
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        folder_.clear();
    }
}

// A sign-in in the words of Dovecot 2.3 ("Login: user=<...>"), which 2.4
// writes "Logged in: user=<...>", so that a test's search for it (or for
// its absence) means the same with either.
std::string Pop3Server::Log() const
{
    std::string log = ReadAll(folder_ + "/dovecot.log");
    const std::string newer = "Logged in: ";
    const std::string older = "Login: ";
    for (size_t at = log.find(newer); at != std::string::npos; at = log.find(newer, at))
        log.replace(at, newer.size(), older);
    return log;
}

bool Pop3Server::Start(const Pop3Options &options, std::string &reason)
{
    Stop();
    port_ = options.port != 0 ? options.port : FreePort();
    if (!PortCanBeBound(port_, reason))
        return false;
    folder_ = MakeFolder("kestlin-pop3");
    if (folder_.empty()) {
        reason = "no temporary folder for the POP3 server";
        return false;
    }
    // Dovecot's login and mail processes run as other users than root: they
    // must reach the folder, the account file and the mail home.
    const std::string home = folder_ + "/home";
    fs::create_directory(home);
    ::chmod(folder_.c_str(), 0755);
    ::chmod(home.c_str(), 0777);
    WriteAll(folder_ + "/passwd", options.user + ":{PLAIN}" + options.password + "::::::\n");
    ::chmod((folder_ + "/passwd").c_str(), 0644);

    if (options.stls && !MakeCertificate(folder_, "127.0.0.1", reason))
        return false;
    WriteAll(folder_ + "/dovecot.conf", DovecotConfig(folder_, port_, options.stls));

    const std::string log = folder_ + "/console.log";
    pid_ = Spawn({ kDovecot, "-F", "-c", folder_ + "/dovecot.conf" }, log);
    if (pid_ < 0) {
        reason = std::string("cannot start ") + kDovecot + ": " + std::strerror(errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!Accepts(port_)) {
        if (Exited(pid_) || std::chrono::steady_clock::now() > deadline) {
            pid_ = Exited(pid_) ? -1 : pid_;
            reason = "the POP3 server did not start: " + Tail(ReadAll(log) + Log());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// ---------------------------------------------------------------- scripted

ScriptedServer::ScriptedServer(std::vector<Step> script)
    : lastByte_(std::chrono::steady_clock::now())
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr *>(&address), length) == 0
        && ::listen(listener_, 1) == 0
        && ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, script = std::move(script)] { Play(script); });
}

// Shutting the sockets down ends whatever call the script waits in; they
// are closed only then, so that no other socket can take their number.
ScriptedServer::~ScriptedServer()
{
    ::shutdown(listener_, SHUT_RDWR);
    ::shutdown(connection_, SHUT_RDWR);
    thread_.join();
    ::close(connection_);
    ::close(listener_);
}

void ScriptedServer::Play(const std::vector<Step> &script)
{
    const int fd = ::accept(listener_, nullptr, nullptr);
    connection_ = fd;
    lastByte_ = std::chrono::steady_clock::now();
    std::string heard; // what the client sent and the script has not read
    const auto receive = [&] {
        char chunk[65536];
        const ssize_t count = ::recv(fd, chunk, sizeof chunk, 0);
        heard.append(chunk, static_cast<size_t>(std::max<ssize_t>(count, 0)));
        return count > 0;
    };
    const auto readPast = [&](const std::string &end) {
        size_t found;
        while ((found = heard.find(end)) == std::string::npos) {
            if (!receive())
                return false;
        }
        heard.erase(0, found + end.size());
        return true;
    };
    const auto send = [&](const std::string &bytes) {
        const bool sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL)
                          == static_cast<ssize_t>(bytes.size());
        lastByte_ = std::chrono::steady_clock::now();
        return sent;
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool going = fd >= 0;
    for (auto step = script.begin(); going && step != script.end(); ++step) {
        switch (step->kind) {
        case Step::Read:
            going = readPast("\n");
            break;
        case Step::ReadData:
            going = readPast("\r\n.\r\n");
            break;
        case Step::Send:
            going = send(step->text);
            break;
        case Step::Drip:
            for (size_t i = 0; going && i < step->text.size(); ++i) {
                going = send(step->text.substr(i, 1));
                std::this_thread::sleep_for(std::chrono::milliseconds(step->ms));
            }
            break;
        case Step::Flood:
            while (going && std::chrono::steady_clock::now() < until)
                going = send(step->text);
            break;
        case Step::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(step->ms));
            break;
        case Step::Close:
            ::shutdown(fd, SHUT_RDWR);
            going = false;
            break;
        }
    }
    while (going && receive()) { }
}

// ---------------------------------------------------------------- helpers

bool PortCanBeBound(int port, std::string &reason)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (!ok)
        reason = "127.0.0.1:" + std::to_string(port) + " cannot be bound: " + std::strerror(errno);
    ::close(fd);
    return ok;
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

std::string ParsedMail::Get(const std::string &key) const
{
    const auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

std::vector<std::string> ParsedMail::All(const std::string &key) const
{
    std::vector<std::string> values;
    const auto [first, last] = fields.equal_range(key);
    for (auto it = first; it != last; ++it)
        values.push_back(it->second);
    return values;
}

ParsedMail ParseWithPython(const std::string &messagePath)
{
    ParsedMail parsed;
    const std::string command
        = std::string(kPython) + " '" + Script("parse_mail.py") + "' '" + messagePath + "' 2>&1";
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        parsed.error = std::strerror(errno);
        return parsed;
    }
    std::string output;
    char buffer[65536];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, count);
    const int status = ::pclose(pipe);
    if (status != 0) {
        parsed.error = output;
        return parsed;
    }
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t space = line.find(' ');
        if (space != std::string::npos)
            parsed.fields.emplace(line.substr(0, space), Unhex(line.substr(space + 1)));
    }
    parsed.ok = true;
    return parsed;
}

} // namespace kestlin::test
