// Several threads, each with handles of its own, run whole payments against one sandbox host at
// the same time: first each on a store it sets up itself, then all on one shared store, as the
// workers of a shop do. CI runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "payment_steps.h"
#include "sandbox_fixture.h"

using namespace setuptest;

namespace {

constexpr int kThreads = 4;
constexpr int kPayments = 3;

// Runs kPayments payments on each of kThreads threads; the first payment of a thread sets up its
// store when `setUp` is given.
void RunSideBySide(const Sandbox& host, const std::vector<std::string>& stores, bool setUp)
{
    std::vector<std::vector<std::string>> got(kThreads * kPayments);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int p = 0; p < kPayments; ++p)
                got[t * kPayments + p] = RunPayment(host, stores[t], setUp && p == 0,
                                                    std::to_string(100 * (t + 1) + p));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        for (int p = 0; p < kPayments; ++p)
            EXPECT_EQ(ExpectedPayment(setUp && p == 0, std::to_string(100 * (t + 1) + p)),
                      got[t * kPayments + p])
                << "thread " << t << ", payment " << p;
}

TEST(Threads, PaymentsRunSideBySide)
{
    Sandbox host;
    ASSERT_TRUE(host.Start()) << "kestrum-sandbox did not start";
    TempDir dir;
    std::vector<std::string> own;
    for (int t = 0; t < kThreads; ++t)
        own.push_back(dir.path() + "/store" + std::to_string(t));
    RunSideBySide(host, own, true);
    RunSideBySide(host, std::vector<std::string>(kThreads, own[0]), false);
    EXPECT_EQ(0, host.Stop());
}

}  // namespace
