#include "vel/utils/LogProgress.h"

#include <omp.h>
#include <sstream>

namespace vel {
namespace utils {

LogProgress::LogProgress(AbstractLog* log, int32_t totalItems, uint32_t granularity, std::string name)
    : log_(log)
    , total_(totalItems)
    // Unsigned on purpose: below one granularity's worth of items the step
    // count wraps, and steps + 1 comes back to 0 lines.
    , steps_(static_cast<uint32_t>(totalItems) / granularity - 1u)
    , name_(std::move(name))
{
}

void LogProgress::start()
{
    if (log_)
        log_->display("Start: " + name_, true);
}

void LogProgress::step()
{
    if (!log_)
        return;
    done_.fetch_add(1);
    if (omp_get_thread_num() != 0)
        return;
    const int32_t done = done_.load();
    const double fraction = static_cast<double>(done) / total_;
    const int32_t lines = static_cast<int32_t>(steps_ + 1u);
    if (static_cast<int32_t>(lines * fraction) > printed_) {
        ++printed_;
        std::stringstream text;
        text << fraction * 100 << "%";
        log_->display(text.str(), true);
    }
}

void LogProgress::finish()
{
    if (log_)
        log_->display("End: " + name_, true);
}

} // namespace utils
} // namespace vel
