#include "DeferredDestruction.h"

#include <vector>

namespace {

// Per thread: the client's calls and the worker's messages each keep their
// own; the library lock keeps them from running at the same time.
thread_local int t_depth = 0;
thread_local std::vector<std::shared_ptr<void>> t_kept;

} // namespace

CReportScope::CReportScope()
{
    ++t_depth;
}

CReportScope::~CReportScope()
{
    if (t_depth > 1) {
        --t_depth;
        return;
    }
    // Still open while the kept objects go, so that what their destructors
    // hand over joins the next round instead of going at once mid-destructor.
    while (!t_kept.empty()) {
        std::vector<std::shared_ptr<void>> round;
        round.swap(t_kept);
        round.clear();
    }
    t_depth = 0;
}

void DestroyAfterReport(std::shared_ptr<void> object)
{
    if (t_depth > 0)
        t_kept.push_back(std::move(object));
}
