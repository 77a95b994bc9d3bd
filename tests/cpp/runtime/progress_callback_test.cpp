#include "runtime/progress_callback.h"

#include <thread>

#include <gtest/gtest.h>

#include "runtime/interrupt_signal_handler.h"
#include "runtime/keyboard_interrupt_exception.h"

namespace {

struct Recorder {
    std::vector<std::pair<double, std::string>> calls;
    bool cancel = false;
    ProgressCallback::Function function() {
        return [this](double p, const std::string& text) {
            calls.emplace_back(p, text);
            return cancel;
        };
    }
};

void expect_cancel(ProgressCallback& cb, double progress) {
    try {
        cb(progress, "x");
        ADD_FAILURE() << "no exception";
    } catch (const KeyboardInterruptException& e) {
        EXPECT_STREQ(e.what(), "Cancel requested.");
    }
}

}  // namespace

TEST(ProgressCallback, ThrottlesToInterval) {
    Recorder rec;
    ProgressCallback cb(rec.function());
    cb(0.1, "a");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    cb(0.2, "b");
    EXPECT_TRUE(rec.calls.empty());
    cb.interval = 20;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    cb(0.3, "c");
    cb(0.4, "d");
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0], std::make_pair(0.3, std::string("c")));
}

TEST(ProgressCallback, MapsNestedSubTasks) {
    Recorder rec;
    ProgressCallback cb(rec.function());
    cb.interval = 0;
    {
        auto outer = cb.sub_task(0.5, 1);
        cb(0.5, "outer");
        {
            auto inner = cb.sub_task(0, 0.5);
            cb(0.5, "inner");
        }
        cb(0, "after inner");
    }
    cb(0.25, "top");
    ASSERT_EQ(rec.calls.size(), 4u);
    EXPECT_DOUBLE_EQ(rec.calls[0].first, 0.75);
    EXPECT_DOUBLE_EQ(rec.calls[1].first, 0.625);
    EXPECT_DOUBLE_EQ(rec.calls[2].first, 0.5);
    EXPECT_DOUBLE_EQ(rec.calls[3].first, 0.25);
    EXPECT_EQ(rec.calls[1].second, "inner");
}

TEST(ProgressCallback, CancelsWhenCallableSaysSo) {
    Recorder rec;
    rec.cancel = true;
    ProgressCallback cb(rec.function());
    cb.interval = 0;
    expect_cancel(cb, 0.5);
    EXPECT_EQ(rec.calls.size(), 1u);
}

TEST(ProgressCallback, PendingInterruptCancelsEvenWithoutCallable) {
    ProgressCallback cb(nullptr);
    cb(0.5, "nothing happens");
    InterruptSignalHandler::interrupted = true;
    expect_cancel(cb, 0.5);
    InterruptSignalHandler::interrupted = false;
}
