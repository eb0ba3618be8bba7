#include "cmdline.h"

#include "cab32.h"

#include <cstdlib>

namespace kestlin::cab32 {
namespace {

struct Token
{
    std::string text;
    bool quoted = false;
};

// Blanks separate tokens; double quotes group blanks into one and may join
// with plain text around them. Nothing inside quotes is escaped.
Status Tokenize(const std::string &line, std::vector<Token> &tokens)
{
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        Token token;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            if (line[i] != '"') {
                token.text.push_back(line[i++]);
                continue;
            }
            size_t close = line.find('"', i + 1);
            if (close == std::string::npos)
                return Fail(CAB32_E_CMDLINE, "コマンド行の \" が閉じていません");
            token.text.append(line, i + 1, close - i - 1);
            token.quoted = true;
            i = close + 1;
        }
        tokens.push_back(std::move(token));
    }
    return {};
}

bool ParseLevel(const std::string &digits, int low, int high, int &level)
{
    if (digits.empty())
        return false;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
    }
    if (digits.size() > 2)
        return false;
    level = std::atoi(digits.c_str());
    return level >= low && level <= high;
}

Status ApplySwitch(const std::string &s, Command &command, bool &sawAdd, bool &sawExtract)
{
    using C = Command::Compression;
    if (s == "-a")
        sawAdd = true;
    else if (s == "-x")
        sawExtract = true;
    else if (s == "-r")
        command.recursive = true;
    else if (s == "-o")
        command.overwrite = true;
    else if (s == "-i")
        command.silent = true;
    else if (s == "-mz")
        command.compression = C::Mszip;
    else if (s == "-ms")
        command.compression = C::None;
    else if (s.rfind("-ml", 0) == 0 && ParseLevel(s.substr(3), 15, 21, command.compressionLevel))
        command.compression = C::Lzx;
    else if (s.rfind("-mq", 0) == 0 && ParseLevel(s.substr(3), 1, 7, command.compressionLevel))
        command.compression = C::Quantum;
    else
        return Fail(CAB32_E_SWITCH, "不明なスイッチです: " + s);
    return {};
}

} // namespace

Status ParseCommandLine(const char *text, Command &command)
{
    if (!text)
        return Fail(CAB32_E_CMDLINE, "コマンド行がありません");
    std::vector<Token> tokens;
    if (Status s = Tokenize(text, tokens); !s.ok())
        return s;
    bool sawAdd = false;
    bool sawExtract = false;
    for (const Token &t : tokens) {
        if (!t.quoted && t.text.size() > 1 && t.text[0] == '-') {
            if (Status s = ApplySwitch(t.text, command, sawAdd, sawExtract); !s.ok())
                return s;
        } else {
            command.arguments.push_back(t.text);
        }
    }
    if (sawAdd && sawExtract)
        return Fail(CAB32_E_CMDLINE, "-a と -x は一緒に使えません");
    command.action = sawExtract ? Command::Action::Extract : Command::Action::Add;
    if (command.arguments.size() < 2)
        return Fail(CAB32_E_CMDLINE, "書庫とフォルダを指定してください");
    return {};
}

} // namespace kestlin::cab32
