#include "progress.h"

#include <algorithm>
#include <utility>

namespace bsmtp {

ProgressPacer::ProgressPacer(Report report, int64_t total)
    : report_(std::move(report))
    , total_(std::max<int64_t>(total, 0))
    // Rounded up, so that fewer than kSteps steps fit below the total.
    , step_(std::max<int64_t>((total_ + kSteps - 1) / kSteps, 1))
    , next_(step_)
{ }

void ProgressPacer::Start()
{
    if (started_)
        return;
    started_ = true;
    if (report_)
        report_(0, total_);
}

void ProgressPacer::Advance(int64_t bytes)
{
    sent_ += bytes;
    // A report of the whole total waits for the server's word (Finish); an
    // attachment that grew on the way leaves nothing honest to report until then.
    if (!report_ || sent_ < next_ || sent_ >= total_)
        return;
    report_(sent_, total_);
    next_ = sent_ + step_;
}

void ProgressPacer::Finish()
{
    if (report_)
        report_(sent_, sent_);
}

} // namespace bsmtp
