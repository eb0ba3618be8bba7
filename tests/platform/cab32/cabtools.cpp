#include "cabtools.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>

#include "support/TempDir.h"

namespace kestlin::test {

CommandResult RunShell(const std::string &command)
{
    CommandResult result;
    FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string SevenZip()
{
    static const std::string command = RunShell("command -v 7zz").status == 0 ? "7zz" : "7z";
    return command;
}

std::string ShellQuoted(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

Tree ReadTree(const std::string &folder)
{
    Tree tree;
    namespace fs = std::filesystem;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            tree[fs::relative(entry.path(), folder).string()] = ReadFile(entry.path().string());
    }
    return tree;
}

::testing::AssertionResult SameTree(const Tree &actual, const Tree &expected)
{
    std::string differences;
    for (const auto &[name, content] : expected) {
        auto it = actual.find(name);
        if (it == actual.end())
            differences += " missing:" + name;
        else if (it->second != content)
            differences += " differs:" + name;
    }
    for (const auto &[name, content] : actual) {
        if (!expected.count(name))
            differences += " unexpected:" + name;
    }
    if (differences.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "trees differ:" << differences;
}

void WriteTree(const std::string &folder, const Tree &tree)
{
    for (const auto &[name, content] : tree) {
        std::filesystem::path path = std::filesystem::path(folder) / name;
        std::filesystem::create_directories(path.parent_path());
        WriteFile(path.string(), content);
    }
}

std::string NoiseBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random() >> 24);
    return bytes;
}

std::string ReportText(size_t size)
{
    static const char *const products[] = { "ガソリン", "灯油", "軽油", "重油", "ジェット燃料" };
    static const char *const places[] = { "東京都", "大阪府", "北海道", "福岡県", "愛知県" };
    std::mt19937 random(7);
    std::string text = "報告ID,品目,数量(kl),在庫,所在地\r\n";
    while (text.size() < size) {
        text += std::to_string(100000 + random() % 900000) + "," + products[random() % 5] + ","
                + std::to_string(random() % 100000) + "," + std::to_string(random() % 5000) + ","
                + places[random() % 5] + "\r\n";
    }
    text.resize(size);
    return text;
}

Tree SampleTree()
{
    return Tree {
        { "MAIN_TEXT.txt", "R001,U001,secret,user@example.com\r\n" },
        { "表.txt", "表\r\n" },
        { "報告/ソフト.csv", ReportText(5000) },
        { "報告/能力/深い.dat", NoiseBytes(70000) },
        { "空.txt", "" },
        { "wave〜dash.txt", "no CP932 form\r\n" },
        { "big/large.bin", ReportText(2 << 20) + NoiseBytes(1 << 20, 2) },
    };
}

namespace {
uint32_t LE(const std::string &b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b.at(at + static_cast<size_t>(i)));
    return v;
}
} // namespace

RawCabinet ParseCabinet(const std::string &b)
{
    RawCabinet cab;
    EXPECT_EQ(b.substr(0, 4), "MSCF");
    cab.declaredSize = LE(b, 8, 4);
    EXPECT_EQ(cab.declaredSize, b.size());
    size_t filesAt = LE(b, 16, 4);
    uint16_t folders = static_cast<uint16_t>(LE(b, 26, 2));
    uint16_t files = static_cast<uint16_t>(LE(b, 28, 2));
    EXPECT_EQ(LE(b, 30, 2), 0u) << "no reserved fields, no cabinet set";
    for (size_t i = 0; i < folders; ++i) {
        size_t at = 36 + 8 * i;
        RawFolder folder;
        folder.compression = static_cast<uint16_t>(LE(b, at + 6, 2));
        size_t block = LE(b, at, 4);
        for (uint32_t n = LE(b, at + 4, 2); n > 0; --n) {
            RawBlock r { LE(b, block, 4), static_cast<uint16_t>(LE(b, block + 4, 2)),
                         static_cast<uint16_t>(LE(b, block + 6, 2)) };
            folder.blocks.push_back(r);
            block += 8 + r.compressed;
        }
        cab.folders.push_back(folder);
    }
    size_t at = filesAt;
    for (size_t i = 0; i < files; ++i) {
        RawFile f;
        f.size = LE(b, at, 4);
        f.folder = static_cast<uint16_t>(LE(b, at + 8, 2));
        f.date = static_cast<uint16_t>(LE(b, at + 10, 2));
        f.time = static_cast<uint16_t>(LE(b, at + 12, 2));
        f.attributes = static_cast<uint16_t>(LE(b, at + 14, 2));
        size_t end = b.find('\0', at + 16);
        f.name = b.substr(at + 16, end - at - 16);
        at = end + 1;
        cab.files.push_back(f);
    }
    return cab;
}

} // namespace kestlin::test
