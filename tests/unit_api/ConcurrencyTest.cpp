// Several threads on one core: registration, control, data and status.
#include "ApiFixture.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>

namespace vxqir::test {
namespace {

using Concurrency = ApiFixture;

TEST_F(Concurrency, RegistrationsFromManyThreadsGetDistinctHandlesAndOneWinnerPerChannel)
{
    constexpr int threads = 8;
    constexpr int channels = 16;
    const VXTQirInputInterfaceT config = unit_.config();
    std::vector<std::vector<VXTQirChannelHandle>> won(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            // Every channel is tried by two threads.
            for (int c = 0; c < channels; ++c) {
                if (c % (threads / 2) != t / 2)
                    continue;
                VXTQirChannelHandle handle = -1;
                const VXTQirError result = api_->registerOutputChannel(&config, c, &handle);
                if (result == NoError)
                    won[t].push_back(handle);
                else
                    EXPECT_EQ(result, ChannelAlreadyRegistered);
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();

    std::set<VXTQirChannelHandle> handles;
    for (const auto& list : won)
        handles.insert(list.begin(), list.end());
    EXPECT_EQ(handles.size(), static_cast<size_t>(channels));
    EXPECT_EQ(*handles.begin(), 0);
    EXPECT_EQ(*handles.rbegin(), channels - 1);
    EXPECT_EQ(api_->interfaceCount(), 1u);
}

TEST_F(Concurrency, StatusArrivesWhileAnotherThreadStreams)
{
    constexpr int blocks = 2000;
    const VXTQirInputInterfaceT config = unit_.config(1448, 1000, 5000);
    const VXTQirChannelHandle handle = readyChannel(config);
    unit_.startPeriodicStatus(0, 100, std::chrono::milliseconds(1));

    std::atomic<bool> streaming{ true };
    std::thread reader([&] {
        while (streaming) {
            VXTQirStatusT status{};
            EXPECT_EQ(api_->getCurrentState(handle, &status), NoError);
        }
    });
    const Bytes line(1448, 0x5a);
    for (int i = 0; i < blocks; ++i) {
        VXTQirPacketPropertiesT packet{};
        packet.lineNumber = static_cast<uint16_t>(i % 1080);
        ASSERT_EQ(api_->replayStreamData(handle, &packet, line.data(), 1448), NoError);
    }
    streaming = false;
    reader.join();
    const std::vector<Received> data = unit_.waitForData(blocks, std::chrono::milliseconds(10000));
    ASSERT_EQ(data.size(), static_cast<size_t>(blocks));
    for (int i = 0; i < blocks; ++i)
        ASSERT_EQ(+sensorHeader(data[i]).packetNumber, static_cast<uint16_t>(i));
}

TEST_F(Concurrency, ControlRequestsFromTwoThreadsOnOneChannelNeverShareAnId)
{
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config);
    auto work = [&](uint64_t base) {
        for (uint64_t i = 0; i < 200; ++i)
            EXPECT_EQ(api_->setReplayOffset(handle, base + i), NoError);
    };
    std::thread a(work, 0), b(work, 1000);
    a.join();
    b.join();
    std::set<uint16_t> ids;
    for (const Received& request : unit_.requests()) {
        ReplayControlMessage message{};
        std::memcpy(&message, request.bytes.data(), std::min(request.bytes.size(), sizeof(message)));
        ids.insert(message.request_id);
    }
    EXPECT_EQ(ids.size(), 400u);
}

TEST_F(Concurrency, UnregisteringDuringAWaitingCallLetsTheCallFinish)
{
    unit_.setResponder([](const ReplayControlMessage&) { return std::nullopt; });
    const VXTQirInputInterfaceT config = unit_.config(1448, 300);
    const VXTQirChannelHandle handle = registerChannel(config);
    std::thread caller([&] {
        uint64_t offset = 0;
        EXPECT_EQ(api_->getReplayOffset(handle, &offset), Timeout);
    });
    ASSERT_TRUE(eventually([&] { return !unit_.requests().empty(); }));
    EXPECT_EQ(api_->unregisterOutputChannel(handle), NoError);
    const size_t beforeRelease = unit_.requests().size();
    caller.join();
    uint64_t offset = 0;
    EXPECT_EQ(api_->getReplayOffset(handle, &offset), InvalidChannelHandle);
    // The waiting request was not sent again; the goodbye requests went out
    // once the last user let go of the channel.
    EXPECT_TRUE(eventually([&] { return unit_.requests().size() == beforeRelease + 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(unit_.requests().size(), beforeRelease + 2);
}

TEST_F(Concurrency, UnregisteringWhileStreamingStopsTheSenderCleanly)
{
    const VXTQirInputInterfaceT config = unit_.config(1448, 1000, 200);
    const VXTQirChannelHandle handle = readyChannel(config);
    unit_.startPeriodicStatus(0, 100, std::chrono::milliseconds(1));
    std::atomic<int> sent{ 0 };
    std::thread sender([&] {
        const Bytes line(1000, 1);
        for (;;) {
            VXTQirPacketPropertiesT packet{};
            const VXTQirError result = api_->replayStreamData(handle, &packet, line.data(), 1000);
            if (result == InvalidChannelHandle)
                return;
            // A unit that falls behind may hold the sender back past its
            // timeout; anything else is a fault.
            ASSERT_TRUE(result == NoError || result == Timeout) << VXQIR_ErrorToString(result);
            ++sent;
        }
    });
    ASSERT_TRUE(eventually([&] { return sent > 100; }));
    EXPECT_EQ(api_->unregisterOutputChannel(handle), NoError);
    sender.join();
}

TEST_F(Concurrency, RegistrationChurnWhileStatusFloodsTheEndpoint)
{
    const VXTQirInputInterfaceT config = unit_.config(1448, 500);
    const VXTQirChannelHandle anchor = registerChannel(config, 0);
    sync(anchor);
    unit_.startPeriodicStatus(0, 100, std::chrono::milliseconds(1));
    for (int round = 0; round < 50; ++round) {
        const VXTQirChannelHandle handle = registerChannel(config, 1 + round % 3);
        EXPECT_EQ(api_->resetChannel(handle), NoError);
        EXPECT_EQ(api_->unregisterOutputChannel(handle), NoError);
    }
    VXTQirStatusT status{};
    EXPECT_EQ(api_->getCurrentState(anchor, &status), NoError);
}

TEST_F(Concurrency, ARequestStillWaitingKeepsItsIdWhileAnotherThreadWrapsTheCounter)
{
    // One GET_START_TIMESTAMP stays unanswered under a long reply timeout
    // while another thread issues 65536 requests on the same channel: the
    // 16-bit id counter comes round to the waiting request's id and must
    // skip it, or two callers would wait on one pending entry.
    // The first such request goes unanswered. The unit records a request
    // before it answers, so a flag the test cleared on seeing the request
    // could come too early and let the unit answer it after all.
    std::atomic<bool> startQueryHeld{ false };
    unit_.setResponder([&](const ReplayControlMessage& request) -> std::optional<Bytes> {
        if (request.command == static_cast<uint16_t>(Command::GET_START_TIMESTAMP) && !startQueryHeld.exchange(true))
            return std::nullopt;
        return unit_.defaultReply(request);
    });
    const VXTQirInputInterfaceT config = unit_.config(1448, 30000);
    const VXTQirChannelHandle handle = registerChannel(config);

    std::atomic<VXTQirError> waitingResult{ InternalError };
    std::atomic<uint64_t> waitingValue{ 0 };
    std::thread waiting([&] {
        uint64_t start = 0;
        waitingResult = api_->getReplayStartTime(handle, &start, nullptr, nullptr);
        waitingValue = start;
    });
    ASSERT_TRUE(eventually([&] { return unit_.requests().size() == 1; }));
    ReplayControlMessage held{};
    const Bytes first = unit_.requests()[0].bytes;
    std::memcpy(&held, first.data(), std::min(first.size(), sizeof(held)));

    constexpr int requests = 65536;
    int failures = 0;
    for (int i = 0; i < requests && failures < 10; ++i) {
        const VXTQirError result = api_->resetChannel(handle);
        if (result != NoError) {
            ++failures;
            ADD_FAILURE() << "request " << i << ": " << VXQIR_ErrorToString(result);
        }
    }

    std::set<uint16_t> ids;
    const std::vector<Received> sent = unit_.requests();
    for (size_t i = 1; i < sent.size(); ++i) {
        ReplayControlMessage message{};
        std::memcpy(&message, sent[i].bytes.data(), std::min(sent[i].bytes.size(), sizeof(message)));
        EXPECT_NE(message.request_id, held.request_id) << "request " << i << " took the waiting id";
        ids.insert(message.request_id);
    }
    EXPECT_EQ(ids.size(), 65535u) << "every id but the waiting one was used";

    // The answer to the held request still reaches its own caller.
    Bytes reply = unit_.defaultReply(held);
    reinterpret_cast<ReplayStatusMessage*>(reply.data())->payload.timestamp = 4242;
    unit_.sendRaw(reply);
    waiting.join();
    EXPECT_EQ(waitingResult.load(), NoError);
    EXPECT_EQ(waitingValue.load(), 4242u);
}

} // namespace
} // namespace vxqir::test
