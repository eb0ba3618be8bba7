#include "pop3.h"

#include "connection.h"

#include <cctype>
#include <set>
#include <sstream>

namespace bsmtp {

namespace {

// More capabilities than any server lists; a list that never ends stops here.
const size_t kMaxCapabilities = 1000;

// Only the status token itself: "+OKAY" is no "+OK".
bool IsOk(const std::string &line)
{
    return line.compare(0, 3, "+OK") == 0 && (line.size() == 3 || line[3] == ' ');
}

class Session
{
public:
    Session(const Server &server, const TrustRules *rules)
        : connection_(server, kPop3Leads, rules)
        , implicitTls_(server.port == 995)
    { }
    bool Dialogue(const std::string &user, const std::string &password, const std::string &command,
                  std::string &answer);
    void Close() { connection_.Close("QUIT"); }
    const std::string &reason() const { return connection_.reason(); }
    bool lostAfterQuestion() const { return connection_.lostAfterQuestion(); }

private:
    bool Ask(const std::string &command, const std::string &label = {})
    {
        return connection_.Command(command, label) && connection_.ReadLine(line_);
    }
    bool Refused(const char *lead) { return connection_.Fail(lead + Connection::Shown(line_)); }
    bool Capabilities();

    Connection connection_;
    bool implicitTls_;
    std::string line_; // the last status line
    std::set<std::string> capabilities_;
};

bool Session::Capabilities()
{
    capabilities_.clear();
    if (!Ask("CAPA"))
        return false;
    // An old server without the command lists nothing.
    if (!IsOk(line_))
        return true;
    std::string line;
    for (size_t count = 0; count <= kMaxCapabilities; ++count) {
        if (!connection_.ReadLine(line))
            return false;
        if (line == ".")
            return true;
        std::string word;
        std::istringstream(line) >> word;
        for (char &c : word)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        capabilities_.insert(word);
    }
    return connection_.Break(std::string(kPop3Leads.broken) + "CAPA の応答が終わりません。");
}

bool Session::Dialogue(const std::string &user, const std::string &password,
                       const std::string &command, std::string &answer)
{
    connection_.Secret(true);
    if (!connection_.Open(implicitTls_) || !connection_.ReadLine(line_))
        return false;
    if (!IsOk(line_))
        return Refused(kPop3Leads.refused);
    if (!Capabilities())
        return false;
    if (!connection_.secure() && capabilities_.count("STLS")) {
        if (!Ask("STLS"))
            return false;
        // Refused: on without TLS, as with a server that never offered it.
        if (IsOk(line_) && (!connection_.StartTls() || !Capabilities()))
            return false;
    }
    if (!connection_.PlainAllowed())
        return false;
    if (!Ask("USER " + user, "USER"))
        return false;
    if (!IsOk(line_))
        return Refused(kPop3Leads.auth);
    if (!Ask("PASS " + password, "PASS"))
        return false;
    if (!IsOk(line_))
        return Refused(kPop3Leads.auth);
    if (!Ask(command))
        return false;
    if (!IsOk(line_))
        return Refused(kPop3Leads.refused);
    answer = line_;
    return true;
}

} // namespace

bool Pop3Command(const Server &server, const std::string &user, const std::string &password,
                 const std::string &command, std::string &answer, const TrustRules *rules)
{
    Session session(server, rules);
    bool ok = session.Dialogue(user, password, command, answer);
    session.Close();
    // The server may have gone while the user was asked about its
    // certificate: once more, with the answer stored.
    if (!ok && session.lostAfterQuestion()) {
        Session again(server, rules);
        ok = again.Dialogue(user, password, command, answer);
        again.Close();
        if (!ok)
            answer = again.reason();
        return ok;
    }
    if (!ok)
        answer = session.reason();
    return ok;
}

} // namespace bsmtp
