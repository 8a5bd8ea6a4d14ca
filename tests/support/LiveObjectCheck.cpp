// Compiled into every test program: fails any test that ends with more open
// platform handles, windows, sockets or connection contexts than it began
// with. The counts come from the platform layer and the network library when
// the program links them (weak references: programs without them count
// nothing). Objects a test suite's fixture creates in SetUpTestSuite exist
// before its first test starts, so only what a test itself leaves is counted.
#include <gtest/gtest.h>

#include <cstddef>
#include <sstream>
#include <string>

struct W32LiveCounts {
    size_t handles;
    size_t windows;
    size_t sockets;
};
void W32GetLiveCountsForTesting(W32LiveCounts* counts) __attribute__((weak));
int cpCQoSContextLiveCountForTesting() __attribute__((weak));

namespace {

struct LiveCounts {
    size_t handles = 0;
    size_t windows = 0;
    size_t sockets = 0;
    int contexts = 0;
};

LiveCounts Measure()
{
    LiveCounts counts;
    if (W32GetLiveCountsForTesting != nullptr) {
        W32LiveCounts w{};
        W32GetLiveCountsForTesting(&w);
        counts.handles = w.handles;
        counts.windows = w.windows;
        counts.sockets = w.sockets;
    }
    if (cpCQoSContextLiveCountForTesting != nullptr)
        counts.contexts = cpCQoSContextLiveCountForTesting();
    return counts;
}

class LiveObjectCheck : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo&) override { m_before = Measure(); }

    // Test-end events reach the listeners in reverse order, so this runs
    // before the result printer and a failure raised here is printed.
    void OnTestEnd(const testing::TestInfo&) override
    {
        const LiveCounts after = Measure();
        std::ostringstream left;
        Compare(left, "handles", m_before.handles, after.handles);
        Compare(left, "windows", m_before.windows, after.windows);
        Compare(left, "sockets", m_before.sockets, after.sockets);
        Compare(left, "connection contexts", static_cast<size_t>(m_before.contexts),
                static_cast<size_t>(after.contexts));
        if (!left.str().empty())
            ADD_FAILURE() << "the test left open:" << left.str();
    }

private:
    static void Compare(std::ostringstream& out, const char* what, size_t before, size_t after)
    {
        if (after > before)
            out << ' ' << (after - before) << ' ' << what << " (" << before << " -> " << after << ')';
    }

    LiveCounts m_before;
};

const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new LiveObjectCheck);
    return true;
}();

} // namespace
