#include "link/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_thread.h"
#include "tests/support/pty_pair.h"

namespace {

// A thread whose handlers record what they saw; the first handler blocks until released.
class RecordingThread : public MessageThread {
public:
    static constexpr unsigned kSlow = 1;
    static constexpr unsigned kFast = 2;
    static constexpr unsigned kQuit = 3;

    void OnSlow(WParam w, LParam) {
        started = true;
        while (!release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        seen.push_back(static_cast<int>(w));
    }
    void OnFast(WParam w, LParam) { seen.push_back(static_cast<int>(w)); }
    void OnQuit(WParam, LParam) { PostQuitMessage(7); }

    std::atomic<bool> started{false};
    std::atomic<bool> release{false};
    std::vector<int> seen;

protected:
    bool DispatchThreadMessage(unsigned message, WParam w, LParam l) override {
        static const MessageMapEntry<RecordingThread> map[] = {
            {kSlow, &RecordingThread::OnSlow},
            {kFast, &RecordingThread::OnFast},
            {kQuit, &RecordingThread::OnQuit},
        };
        return DispatchFromMessageMap(*this, map, message, w, l);
    }
};

TEST(MessageThreadTest, MessagesPostedDuringAHandlerWaitTheirTurn) {
    auto thread = BeginThread<RecordingThread>();
    ASSERT_TRUE(thread->PostThreadMessage(RecordingThread::kSlow, 1, 0));
    while (!thread->started) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(thread->PostThreadMessage(RecordingThread::kFast, 2, 0));
    ASSERT_TRUE(thread->PostThreadMessage(99, 0, 0));  // no handler: passed over
    ASSERT_TRUE(thread->PostThreadMessage(RecordingThread::kFast, 3, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    thread->release = true;
    ASSERT_TRUE(thread->PostThreadMessage(RecordingThread::kQuit, 0, 0));
    EXPECT_EQ(thread->WaitForEnd(), 7);
    EXPECT_EQ(thread->seen, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(thread->PostThreadMessage(RecordingThread::kFast, 4, 0)) << "loop has ended";
}

TEST(MessageThreadTest, ABusyThreadDroppedWithoutQuitEndsBeforeItsMembersGo) {
    auto thread = BeginThread<RecordingThread>();
    ASSERT_TRUE(thread->PostThreadMessage(RecordingThread::kSlow, 1, 0));
    ASSERT_TRUE(thread->PostThreadMessage(RecordingThread::kFast, 2, 0));
    while (!thread->started) {
        std::this_thread::yield();
    }
    RecordingThread* raw = thread.get();
    std::thread releaser([raw] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        raw->release = true;
    });
    // The handler still runs and writes `seen`; the pointer ends and joins the thread before
    // `seen` is destroyed (ThreadSanitizer and ASan watch this).
    thread.reset();
    releaser.join();
}

TEST(WorkerThreadTest, QuitClosesThePortAndEndsTheThread) {
    PtyPair pty;
    std::atomic<int> eraseAll{0};
    MessageQueue owner;
    JobParams job;
    job.hWndOwner = &owner;
    job.strPort = pty.slavePath();

    auto worker = BeginThread<CWorkerThread>(eraseAll);
    // The worker is idle in its loop, so opening its port from here does not race with it.
    ASSERT_TRUE(worker->m_link.OpenPort(job));
    ASSERT_TRUE(worker->PostThreadMessage(UM_QUIT + 100, 0, 0));  // unknown: passed over
    ASSERT_TRUE(worker->PostThreadMessage(UM_QUIT, 0, 0));
    EXPECT_EQ(worker->WaitForEnd(), 0);
    EXPECT_FALSE(worker->m_link.IsPortOpen());
    EXPECT_FALSE(worker->PostThreadMessage(UM_INITIALIZE, 0, reinterpret_cast<LParam>(&job)));

    // Nobody holds the port any more: it opens again.
    SerialDevice again;
    EXPECT_TRUE(again.Open(pty.slavePath()));
    while (auto message = owner.TryTake()) {
        DiscardPostedMessage(*message);
    }
}

TEST(PostedStringTest, ReachTheReceiverIntactAndAreFreedOnce) {
    MessageQueue owner;
    const std::string long_text(5000, 'x');
    EXPECT_TRUE(PostLogLine(&owner, "Erasing sector 3!"));
    EXPECT_TRUE(PostLogAppend(&owner, "*"));
    EXPECT_TRUE(PostLogLine(&owner, long_text));

    auto first = owner.TryTake();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->message, UM_LOG_LINE);
    EXPECT_EQ(*TakePostedString(first->lParam), "Erasing sector 3!");
    auto second = owner.TryTake();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->message, UM_LOG_APPEND);
    EXPECT_EQ(*TakePostedString(second->lParam), "*");
    auto third = owner.TryTake();
    ASSERT_TRUE(third);
    DiscardPostedMessage(*third);  // never shown: still freed exactly once (ASan checks)

    // A receiver that has gone: the post fails and the sender frees the string.
    owner.Close();
    EXPECT_FALSE(PostLogLine(&owner, "lost"));
    EXPECT_FALSE(PostLogAppend(&owner, "*"));
    EXPECT_FALSE(PostLogLine(nullptr, "nobody"));
}

}  // namespace
