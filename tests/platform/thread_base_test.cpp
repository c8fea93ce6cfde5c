#include "platform/event.h"
#include "platform/thread_base.h"

#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace qm {
namespace {

// Runs until released; counts its runs.
class GatedThread : public TQMThreadBase {
public:
    ~GatedThread() override {
        m_release.Set();
        Stop();
    }
    void Release() { m_release.Set(); }

    Event m_started{true, false};
    Event m_release{true, false};
    std::atomic<int> m_runs{0};
    std::atomic<int> m_niceSeen{-100};
    std::atomic<int> m_levelSeen{-100};

protected:
    void Run() override {
        errno = 0;
        m_niceSeen = getpriority(PRIO_PROCESS, id_t(gettid()));
        m_levelSeen = CurrentThreadPriority();
        ++m_runs;
        m_started.Set();
        m_release.Wait();
    }
};

TEST(ThreadBase, SecondStartWhileAThreadExistsReturnsZero) {
    GatedThread thread;
    ASSERT_EQ(thread.Start(kPriorityNormal), true);
    ASSERT_TRUE(thread.m_started.Wait(5000));
    EXPECT_EQ(thread.Start(kPriorityNormal), false);
    thread.Release();
    thread.Stop();
    EXPECT_EQ(thread.m_runs.load(), 1);
    EXPECT_FALSE(thread.HasThread());

    // A thread that has ended but was not stopped still blocks a new start.
    thread.m_release.Reset();
    thread.m_started.Reset();
    thread.Release();
    ASSERT_EQ(thread.Start(kPriorityNormal), true);
    ASSERT_TRUE(thread.m_started.Wait(5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(thread.Start(kPriorityNormal), false);
    thread.Stop();
    EXPECT_EQ(thread.m_runs.load(), 2);
}

TEST(ThreadBase, ConcurrentStopsJoinOnceAndTheWaiterSeesTheEnd) {
    for (int round = 0; round < 20; ++round) {
        GatedThread thread;
        ASSERT_EQ(thread.Start(kPriorityNormal), true);
        ASSERT_TRUE(thread.m_started.Wait(5000));
        std::atomic<int> stopped{0};
        auto stopper = [&] {
            thread.Stop();
            ++stopped;
        };
        std::thread a(stopper);
        std::thread b(stopper);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        thread.Release();
        a.join();
        b.join();
        EXPECT_EQ(stopped.load(), 2);
        EXPECT_FALSE(thread.HasThread());
        EXPECT_EQ(thread.m_runs.load(), 1);
    }
}

TEST(ThreadBase, DestructorStopsTheThread) {
    std::atomic<bool> ended{false};
    class Flagging : public TQMThreadBase {
    public:
        explicit Flagging(std::atomic<bool>& ended) : m_ended(ended) {}
        ~Flagging() override { Stop(); }

    protected:
        void Run() override {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            m_ended = true;
        }
        std::atomic<bool>& m_ended;
    };
    {
        Flagging thread(ended);
        ASSERT_EQ(thread.Start(kPriorityNormal), true);
    }
    EXPECT_TRUE(ended.load());
}

// A thread may stop itself (e.g. on a fatal error) without waiting for itself.
TEST(ThreadBase, StopFromTheThreadItselfDoesNotDeadlock) {
    Event done(true, false);
    class SelfStopping : public TQMThreadBase {
    public:
        explicit SelfStopping(Event& done) : m_done(done) {}

    protected:
        void Run() override {
            Stop();
            m_done.Set();
        }
        Event& m_done;
    };
    auto* thread = new SelfStopping(done);
    ASSERT_EQ(thread->Start(kPriorityNormal), true);
    ASSERT_TRUE(done.Wait(5000));
    EXPECT_FALSE(thread->HasThread());
    // Run() touches nothing of the object after setting the event.
    delete thread;
}

TEST(ThreadBase, PriorityLevelsAndFallbackToTheCallersLevel) {
    errno = 0;
    const int mainNice = getpriority(PRIO_PROCESS, id_t(getpid()));
    ASSERT_EQ(errno, 0);
    if (mainNice > 14) GTEST_SKIP() << "already running at nice " << mainNice;

    GatedThread below;
    ASSERT_EQ(below.Start(kPriorityBelowNormal), 1);
    ASSERT_TRUE(below.m_started.Wait(5000));
    EXPECT_EQ(below.Priority(), kPriorityBelowNormal);
    EXPECT_EQ(below.m_levelSeen.load(), kPriorityBelowNormal);
    // Lowering a thread's priority is never refused.
    EXPECT_EQ(below.m_niceSeen.load(), mainNice + 5);
    EXPECT_NE(below.ThreadId(), 0);
    EXPECT_NE(below.ThreadId(), gettid());

    // Not a level: the starting thread's level is used; from this thread that is normal.
    GatedThread odd;
    ASSERT_EQ(odd.Start(7), 1);
    ASSERT_TRUE(odd.m_started.Wait(5000));
    EXPECT_EQ(odd.Priority(), kPriorityNormal);

    // Started from a below-normal worker, an odd priority inherits below normal.
    class Starter : public TQMThreadBase {
    public:
        GatedThread inner;
        ~Starter() override { Stop(); }

    protected:
        void Run() override { inner.Start(3); }
    };
    Starter starter;
    ASSERT_EQ(starter.Start(kPriorityBelowNormal), 1);
    starter.Stop();
    ASSERT_TRUE(starter.inner.m_started.Wait(5000));
    EXPECT_EQ(starter.inner.Priority(), kPriorityBelowNormal);
    EXPECT_EQ(starter.inner.m_levelSeen.load(), kPriorityBelowNormal);
    EXPECT_EQ(starter.inner.m_niceSeen.load(), mainNice + 5);
}

} // namespace
} // namespace qm
