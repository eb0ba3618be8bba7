#pragma once
// The progress reports of one message: where the data phase starts, a bounded
// number of reports while the bytes go, and the last one once the server has
// taken the whole message.
#include <cstdint>
#include <functional>

namespace bsmtp {

class ProgressPacer
{
public:
    using Report = std::function<void(int64_t sent, int64_t total)>;
    // The reports between the first and the last, at most.
    static constexpr int64_t kSteps = 100;

    ProgressPacer(Report report, int64_t total);

    // The message starts: (0, total), once.
    void Start();
    // bytes more have been handed on.
    void Advance(int64_t bytes);
    // The server has accepted the message: (sent, sent).
    void Finish();

private:
    Report report_;
    int64_t total_;
    int64_t step_;
    int64_t sent_ = 0;
    int64_t next_;
    bool started_ = false;
};

} // namespace bsmtp
