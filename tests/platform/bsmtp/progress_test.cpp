// The size that the progress reports announce, and how often they come,
// checked without a server; the reports of a real transfer are in
// bsmtp_test.cpp.
#include "message.h"
#include "progress.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using namespace bsmtp;
using Calls = std::vector<std::pair<int64_t, int64_t>>;

// Attachment sizes around a base64 line (57 bytes) and around a read block
// (1150 lines): the announced size must match what Read gives, byte for byte.
TEST(BsmtpMessageSize, AnnouncedSizeIsWhatReadGives)
{
    kestlin::test::TempDir dir;
    std::vector<Attachment> attachments;
    for (size_t size : { 0, 1, 2, 3, 56, 57, 58, 114, 65550, 65551, 131100 }) {
        const std::string path = dir / ("f" + std::to_string(size));
        kestlin::test::WriteFile(path, std::string(size, 'x'));
        attachments.push_back({ path, "f", "application/octet-stream" });
    }
    for (const std::string &body :
         std::vector<std::string> { "", "b", "本文\n.行頭の点\r\n末尾", std::string(3000, 'a') }) {
        MessageSource message;
        std::string reason;
        Sender sender;
        sender.address = "me@kestlin.test";
        ASSERT_TRUE(message.Prepare(sender, { { "a@kestlin.test" }, {}, {} }, "件名", body,
                                    attachments, reason))
            << reason;
        int64_t total = 0;
        std::string buffer(1000, '\0');
        size_t count = 0;
        do {
            ASSERT_TRUE(message.Read(buffer.data(), buffer.size(), count));
            total += static_cast<int64_t>(count);
        } while (count > 0);
        EXPECT_EQ(message.Size(), total) << "body of " << body.size() << " bytes";
    }
    EXPECT_EQ(Base64LinesSize(0), 0);
    EXPECT_EQ(Base64LinesSize(1), 6); // "xx==" CR LF
    EXPECT_EQ(Base64LinesSize(57), 78);
    EXPECT_EQ(Base64LinesSize(58), 84);
}

Calls Pace(int64_t total, int64_t sent, int64_t chunk)
{
    Calls calls;
    ProgressPacer pacer([&](int64_t s, int64_t t) { calls.emplace_back(s, t); }, total);
    pacer.Start();
    for (int64_t done = 0; done < sent; done += chunk)
        pacer.Advance(std::min(chunk, sent - done));
    pacer.Finish();
    return calls;
}

// Whatever the pieces, at most a hundred reports plus the final one, rising,
// below the total until the end.
TEST(BsmtpProgressPacer, ReportsAreBoundedRisingAndEndAtTheTotal)
{
    for (auto [total, chunk] : { std::pair<int64_t, int64_t> { 1'000'003, 1 },
                                 { 199, 1 },
                                 { 7, 1 },
                                 { 5 << 20, 256 << 10 },
                                 { 300, 1000 } }) {
        const Calls calls = Pace(total, total, chunk);
        ASSERT_GE(calls.size(), 2u);
        EXPECT_LE(calls.size(), 101u) << total;
        EXPECT_EQ(calls.front(), std::make_pair(int64_t(0), total));
        EXPECT_EQ(calls.back(), std::make_pair(total, total));
        for (size_t i = 1; i + 1 < calls.size(); ++i) {
            EXPECT_GT(calls[i].first, calls[i - 1].first);
            EXPECT_LT(calls[i].first, total);
            EXPECT_EQ(calls[i].second, total);
        }
    }
    // Small steps are not swallowed: a million single bytes still show.
    EXPECT_GE(Pace(1'000'000, 1'000'000, 1).size(), 90u);
}

// An attachment that changed size after it was measured: no report passes
// the announced total, and the last one tells what was really sent.
TEST(BsmtpProgressPacer, ChangedSizeEndsAtWhatWasSent)
{
    const Calls grown = Pace(1000, 1500, 10);
    for (size_t i = 0; i + 1 < grown.size(); ++i)
        EXPECT_LT(grown[i].first, 1000);
    EXPECT_EQ(grown.back(), std::make_pair(int64_t(1500), int64_t(1500)));

    const Calls shrunk = Pace(1000, 600, 10);
    EXPECT_EQ(shrunk.back(), std::make_pair(int64_t(600), int64_t(600)));
}

} // namespace
