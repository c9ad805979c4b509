#include "platform/EventStream.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/CancelToken.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

TEST(EventStreamTest, DeliversBufferedEventsAfterFinishInOrderAndCancelDropsThem) {
    auto [stream, sink] = makeEventStream<int>();
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(sink.yield(i));
    sink.finish();
    EXPECT_FALSE(sink.yield(99)) << "yield after finish is dropped";
    EXPECT_EQ(test::collect(stream), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(stream.isEnded());

    auto [cancelled, producer] = makeEventStream<int>();
    producer.yield(1);
    cancelled.cancel();
    EXPECT_TRUE(producer.isCancelled());
    EXPECT_FALSE(producer.yield(2));
    EXPECT_FALSE(cancelled.next().has_value());
}

TEST(EventStreamTest, TerminationRunsExactlyOnceHoweverTheStreamEnds) {
    for (int way = 0; way < 3; ++way) {
        std::atomic<int> runs{0};
        {
            auto [stream, sink] = makeEventStream<int>();
            sink.onTermination([&] { ++runs; });
            if (way == 0) sink.finish();    // producer ends it
            if (way == 1) stream.cancel();  // consumer abandons it
            sink.finish();
            stream.cancel();
            // way 2: the consumer's handle is destroyed
            sink.onTermination([&] { runs += 10; });  // after the end: runs at once
        }
        EXPECT_EQ(runs.load(), 11) << "way " << way;
    }
}

TEST(EventStreamTest, ConcurrentProducersLoseNothing) {
    auto [stream, sink] = makeEventStream<int>();
    constexpr int kPerThread = 10'000;
    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t) {
        producers.emplace_back([sink = sink] {
            for (int i = 0; i < kPerThread; ++i) sink.yield(i);
        });
    }
    std::thread finisher([&, sink = sink] {
        for (auto& p : producers) p.join();
        sink.finish();
    });
    long count = 0;
    for ([[maybe_unused]] int value : stream) ++count;
    finisher.join();
    EXPECT_EQ(count, 4L * kPerThread);
}

TEST(EventStreamTest, ReadyHandlerLetsAConsumerDrainWithoutBlocking) {
    auto [stream, sink] = makeEventStream<int>();
    std::atomic<int> wakeups{0};
    stream.setReadyHandler([&] { ++wakeups; });
    sink.yield(1);
    sink.yield(2);
    EXPECT_EQ(wakeups.load(), 1) << "one wake-up per burst";
    EXPECT_EQ(stream.drain(), (std::vector<int>{1, 2}));
    sink.yield(3);
    EXPECT_EQ(wakeups.load(), 2) << "an event into an empty buffer wakes again";
    sink.finish();
    EXPECT_EQ(wakeups.load(), 3);
    EXPECT_EQ(stream.drain(), (std::vector<int>{3}));
    EXPECT_TRUE(stream.isEnded());
}

TEST(CancelTokenTest, CallbacksRunOnceAndSleepWakesEarly) {
    CancelSource source;
    int calls = 0;
    source.token().onCancel([&] { ++calls; });
    std::thread sleeper([token = source.token()] { EXPECT_TRUE(token.sleepFor(std::chrono::minutes(5))); });
    source.cancel();
    source.cancel();
    sleeper.join();
    EXPECT_EQ(calls, 1);
    source.token().onCancel([&] { ++calls; });
    EXPECT_EQ(calls, 2) << "registering after cancel runs at once";
    EXPECT_FALSE(CancelToken().sleepFor(std::chrono::milliseconds(1)));
}

}  // namespace
}  // namespace lumo
