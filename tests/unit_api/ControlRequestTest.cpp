// Control requests and their replies, against a scripted unit on loopback.
#include "ApiFixture.h"

#include <cstring>
#include <functional>
#include <mutex>
#include <ostream>

namespace vxqir::test {
namespace {

ReplayControlMessage asRequest(const Received& datagram)
{
    ReplayControlMessage message{};
    std::memcpy(&message, datagram.bytes.data(), std::min(datagram.bytes.size(), sizeof(message)));
    return message;
}

using ControlRequests = ApiFixture;

TEST_F(ControlRequests, SetFrameSizeGoesOutAsSixteenExactBytes)
{
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config, 5);
    ASSERT_EQ(api_->initOutputChannel(handle, 1920, 1080), NoError);

    const std::vector<Received> requests = unit_.waitForRequests(4);
    ASSERT_GE(requests.size(), 4u);
    const Bytes expected{ 'Q', 'I', 'R', '-', 'C', 0x03, 0x10, 0x05, 0x30, 0x00, 0x01, 0x00, 0x80, 0x07, 0x38, 0x04 };
    EXPECT_EQ(requests[0].bytes, expected);
}

TEST_F(ControlRequests, PreparingAChannelSendsFrameSizeEnableStatusAndBufferSizeInOrder)
{
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config);
    ASSERT_EQ(api_->initOutputChannel(handle, 640, 480), NoError);

    const std::vector<Received> requests = unit_.requests();
    ASSERT_EQ(requests.size(), 4u);
    const Command expected[] = { Command::SET_FRAME_SIZE, Command::ENABLE_CHANNEL, Command::ENABLE_STATUS_MESSAGES,
                                 Command::GET_BUFFER_SIZE };
    for (size_t i = 0; i < 4; ++i) {
        const ReplayControlMessage request = asRequest(requests[i]);
        EXPECT_EQ(+request.command, static_cast<uint16_t>(expected[i]));
        EXPECT_EQ(+request.request_id, i + 1);
        EXPECT_EQ(+request.packet_length, requests[i].bytes.size());
        EXPECT_EQ(requests[i].senderIp, "127.0.0.1");
    }
    EXPECT_EQ(requests[1].bytes.size(), 12u);
}

TEST_F(ControlRequests, TimestampRequestsCarryEightPayloadBytes)
{
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config);
    ASSERT_EQ(api_->setReplayOffset(handle, 0x0102030405060708ull), NoError);
    const Received request = unit_.requests().at(0);
    EXPECT_EQ(request.bytes.size(), 20u);
    EXPECT_EQ(+asRequest(request).command, static_cast<uint16_t>(Command::SET_OFFSET_TIMESTAMP));
    EXPECT_EQ(+asRequest(request).payload.ts, 0x0102030405060708ull);
}

TEST_F(ControlRequests, RequestIdsWrapFrom65535ToZero)
{
    // With a reply timeout of 0 every request is given up at once, so the
    // 65535 ids from 1 to 65535 go by quickly; the next request carries 0.
    unit_.setResponder([](const ReplayControlMessage&) { return std::nullopt; });
    const VXTQirInputInterfaceT config = unit_.config(1448, 0);
    const ChannelStatePtr channel = api_->channel(registerChannel(config));
    for (int i = 1; i <= 65535; ++i)
        ASSERT_EQ(channel->resetChannel(), Timeout);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let the unit drain its queue
    ASSERT_EQ(channel->resetChannel(), Timeout);
    EXPECT_TRUE(eventually([&] {
        const auto requests = unit_.requests();
        return !requests.empty() && asRequest(requests.back()).request_id == 0;
    }));
}

TEST_F(ControlRequests, ARequestUnansweredInEveryTryEndsInTimeoutAndTheChannelGoesOnWorking)
{
    int ignored = 0;
    unit_.setResponder([&](const ReplayControlMessage& request) -> std::optional<Bytes> {
        if (ignored++ < ChannelState::CONTROL_TRIES)
            return std::nullopt;
        return unit_.defaultReply(request);
    });
    const VXTQirInputInterfaceT config = unit_.config(1448, 200);
    const VXTQirChannelHandle handle = registerChannel(config);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(api_->setReplayOffset(handle, 10), Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, ChannelState::CONTROL_TRIES * std::chrono::milliseconds(190));
    EXPECT_EQ(api_->setReplayOffset(handle, 20), NoError);
    uint64_t offset = 0;
    EXPECT_EQ(api_->getReplayOffset(handle, &offset), NoError);
    EXPECT_EQ(offset, 20u);
}

// A request whose replies are lost: one lost reply costs a repeated
// request if the request is safe to repeat, else the call.
struct LostReplyCase {
    const char* name;
    Command command;                                                  // the request whose replies are lost
    std::function<VXTQirError(VXQIRApiS&, VXTQirChannelHandle)> call; // makes that request
    bool repeated;
};

class LostReply : public ApiFixture, public ::testing::WithParamInterface<LostReplyCase> { };

TEST_P(LostReply, IsMadeGoodByTheSameRequestAgainWhenItIsSafeToRepeat)
{
    const LostReplyCase& c = GetParam();
    std::mutex mutex;
    std::vector<ReplayControlMessage> seen; // of c.command, guarded by mutex
    unit_.setResponder([&](const ReplayControlMessage& request) -> std::optional<Bytes> {
        if (static_cast<Command>(request.command) == c.command) {
            std::lock_guard lock(mutex);
            seen.push_back(request);
            if (seen.size() < ChannelState::CONTROL_TRIES)
                return std::nullopt; // every reply but the last try's is lost
        }
        return unit_.defaultReply(request);
    });
    const VXTQirChannelHandle handle = registerChannel(unit_.config(1448, 100));
    EXPECT_EQ(c.call(*api_, handle), c.repeated ? NoError : Timeout);

    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), c.repeated ? size_t{ ChannelState::CONTROL_TRIES } : 1u);
    for (const ReplayControlMessage& again : seen) {
        // The same datagram each time, request id included.
        EXPECT_EQ(std::memcmp(&again, &seen.front(), seen.front().packet_length), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, LostReply,
    ::testing::Values(
        LostReplyCase{ "SetFrameSize", Command::SET_FRAME_SIZE,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.initOutputChannel(h, 64, 4); }, true },
        LostReplyCase{ "EnableChannel", Command::ENABLE_CHANNEL,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.initOutputChannel(h, 64, 4); }, true },
        LostReplyCase{ "EnableStatusMessages", Command::ENABLE_STATUS_MESSAGES,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.initOutputChannel(h, 64, 4); }, true },
        LostReplyCase{ "GetBufferSize", Command::GET_BUFFER_SIZE,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.isOutputChannelAvailable(h); }, true },
        LostReplyCase{ "SetStartTimestamp", Command::SET_START_TIMESTAMP,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.setReplayStartTime(h, 5, 0, 0); }, true },
        LostReplyCase{ "SetOffsetTimestamp", Command::SET_OFFSET_TIMESTAMP,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.setReplayOffset(h, 5); }, true },
        LostReplyCase{ "SetStopTimestamp", Command::SET_STOP_TIMESTAMP,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.setReplayStopTime(h, 5); }, true },
        LostReplyCase{ "GetStartTimestamp", Command::GET_START_TIMESTAMP,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) {
                           uint64_t start = 0;
                           return api.getReplayStartTime(h, &start, nullptr, nullptr);
                       },
                       true },
        LostReplyCase{ "GetFrameSize", Command::GET_FRAME_SIZE,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) {
                           uint16_t width = 0, height = 0;
                           return api.getFrameSize(h, &width, &height);
                       },
                       true },
        LostReplyCase{ "ResetChannel", Command::RESET_CHANNEL,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.resetChannel(h); }, false },
        LostReplyCase{ "ClearStatusFlags", Command::CLEAR_STATUS_FLAGS,
                       [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.clearStatusFlags(h); }, false }),
    [](const ::testing::TestParamInfo<LostReplyCase>& testCase) { return testCase.param.name; });

TEST_F(ControlRequests, ALateReplyToAnAbandonedRequestIsDropped)
{
    std::atomic<int> seen{ 0 };
    unit_.setResponder([&](const ReplayControlMessage& request) -> std::optional<Bytes> {
        if (seen++ == 0) {
            // Answer the first request (and its repetitions, queued
            // meanwhile) only after the client gave up on all its tries.
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
        return unit_.defaultReply(request);
    });
    const VXTQirInputInterfaceT config = unit_.config(1448, 50);
    const VXTQirChannelHandle handle = registerChannel(config);
    EXPECT_EQ(api_->setReplayStartTime(handle, 5, 0, 0), Timeout);
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // the late replies come and go
    uint64_t start = 0;
    unit_.setResponder({});
    EXPECT_EQ(api_->getReplayStartTime(handle, &start, nullptr, nullptr), NoError);
    EXPECT_EQ(start, 5u);
}

TEST_F(ControlRequests, ASecondReplyToOneRequestIsIgnored)
{
    unit_.setResponder([&](const ReplayControlMessage& request) -> std::optional<Bytes> {
        Bytes first = unit_.defaultReply(request);
        if (static_cast<Command>(request.command) == Command::GET_START_TIMESTAMP) {
            Bytes second = first;
            reinterpret_cast<ReplayStatusMessage*>(second.data())->payload.timestamp = 999;
            unit_.sendRaw(first);
            return second;
        }
        return first;
    });
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config);
    ASSERT_EQ(api_->setReplayStartTime(handle, 7, 0, 0), NoError);
    uint64_t start = 0;
    EXPECT_EQ(api_->getReplayStartTime(handle, &start, nullptr, nullptr), NoError);
    EXPECT_EQ(start, 7u);
    EXPECT_EQ(api_->resetChannel(handle), NoError);
}

struct WrongReplyCase {
    const char* name;
    Command command;
    uint16_t responseType;
    VXTQirError expected;
};

class WrongReplyType : public ApiFixture, public ::testing::WithParamInterface<WrongReplyCase> { };

TEST_P(WrongReplyType, IsReportedAndLeavesTheOutputUntouched)
{
    const WrongReplyCase& c = GetParam();
    unit_.setResponder([&](const ReplayControlMessage& request) -> std::optional<Bytes> {
        Bytes reply = unit_.defaultReply(request);
        if (request.command == static_cast<uint16_t>(c.command)) {
            auto* message = reinterpret_cast<ReplayStatusMessage*>(reply.data());
            message->response_type = c.responseType;
            message->payload.timestamp = 0xdead;
        }
        return reply;
    });
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config);

    uint64_t value = 77;
    uint16_t width = 3, height = 4;
    VXTQirError result = NoError;
    switch (c.command) {
    case Command::GET_START_TIMESTAMP:
        result = api_->getReplayStartTime(handle, &value, nullptr, nullptr);
        break;
    case Command::GET_OFFSET_TIMESTAMP:
        result = api_->getReplayOffset(handle, &value);
        break;
    case Command::GET_STOP_TIMESTAMP:
        result = api_->getReplayStopTime(handle, &value);
        break;
    case Command::GET_FRAME_SIZE:
        result = api_->getFrameSize(handle, &width, &height);
        break;
    case Command::GET_BUFFER_SIZE:
        result = api_->isOutputChannelAvailable(handle);
        break;
    default:
        FAIL();
    }
    EXPECT_EQ(result, c.expected);
    if (c.expected != NoError) {
        EXPECT_EQ(value, 77u);
        EXPECT_EQ(width, 3);
        EXPECT_EQ(height, 4);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, WrongReplyType,
    ::testing::Values(WrongReplyCase{ "StartAnsweredAsOffset", Command::GET_START_TIMESTAMP, 33, InternalError },
                      WrongReplyCase{ "OffsetAnsweredAsStart", Command::GET_OFFSET_TIMESTAMP, 35, InternalError },
                      WrongReplyCase{ "StopAnsweredPlainly", Command::GET_STOP_TIMESTAMP, 36, InternalError },
                      WrongReplyCase{ "FrameSizeAnsweredAsBuffer", Command::GET_FRAME_SIZE, 3, InternalError },
                      WrongReplyCase{ "ChannelNotAvailable", Command::GET_BUFFER_SIZE, 0x8004, ChannelNotAvailable },
                      WrongReplyCase{ "BufferSizeAnsweredOddly", Command::GET_BUFFER_SIZE, 5, InternalError },
                      WrongReplyCase{ "BufferSizeAnsweredRight", Command::GET_BUFFER_SIZE, 3, NoError }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(ControlRequests, PreparingFailsWhenTheBufferSizeReplyHasTheWrongType)
{
    unit_.setResponder([&](const ReplayControlMessage& request) -> std::optional<Bytes> {
        Bytes reply = unit_.defaultReply(request);
        if (request.command == static_cast<uint16_t>(Command::GET_BUFFER_SIZE))
            reinterpret_cast<ReplayStatusMessage*>(reply.data())->response_type = 5;
        return reply;
    });
    const VXTQirInputInterfaceT config = unit_.config();
    EXPECT_EQ(api_->initOutputChannel(registerChannel(config), 8, 8), InternalError);
}

// A unit that refuses the channel answers every request with 0x8004; no
// request answered so may count as done.
struct RefusedRequestCase {
    const char* name;
    Command refused;
    std::function<VXTQirError(VXQIRApiS&, VXTQirChannelHandle)> call;
};

void PrintTo(const RefusedRequestCase& c, std::ostream* out)
{
    *out << c.name;
}

class RefusedChannel : public ApiFixture, public ::testing::WithParamInterface<RefusedRequestCase> { };

TEST_P(RefusedChannel, MakesTheRequestReportChannelNotAvailable)
{
    const RefusedRequestCase& c = GetParam();
    unit_.setResponder([&](const ReplayControlMessage& request) -> std::optional<Bytes> {
        Bytes reply = unit_.defaultReply(request);
        if (request.command == static_cast<uint16_t>(c.refused))
            reinterpret_cast<ReplayStatusMessage*>(reply.data())->response_type = RESPONSE_CHANNEL_NOT_AVAILABLE;
        return reply;
    });
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config);
    EXPECT_EQ(c.call(*api_, handle), ChannelNotAvailable);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RefusedChannel,
    ::testing::Values(
        RefusedRequestCase{ "InitAtItsFrameSize", Command::SET_FRAME_SIZE,
                            [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.initOutputChannel(h, 8, 8); } },
        RefusedRequestCase{ "InitAtEnable", Command::ENABLE_CHANNEL,
                            [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.initOutputChannel(h, 8, 8); } },
        RefusedRequestCase{ "InitAtItsBufferSize", Command::GET_BUFFER_SIZE,
                            [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.initOutputChannel(h, 8, 8); } },
        RefusedRequestCase{ "Availability", Command::GET_BUFFER_SIZE,
                            [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.isOutputChannelAvailable(h); } },
        RefusedRequestCase{ "Reset", Command::RESET_CHANNEL,
                            [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.resetChannel(h); } },
        RefusedRequestCase{ "ClearStatusFlags", Command::CLEAR_STATUS_FLAGS,
                            [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.clearStatusFlags(h); } },
        RefusedRequestCase{ "SetOffset", Command::SET_OFFSET_TIMESTAMP,
                            [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.setReplayOffset(h, 1); } },
        RefusedRequestCase{ "SetStop", Command::SET_STOP_TIMESTAMP,
                            [](VXQIRApiS& api, VXTQirChannelHandle h) { return api.setReplayStopTime(h, 1); } },
        RefusedRequestCase{ "GetStart", Command::GET_START_TIMESTAMP,
                            [](VXQIRApiS& api, VXTQirChannelHandle h) {
                                uint64_t ts = 0;
                                return api.getReplayStartTime(h, &ts, nullptr, nullptr);
                            } },
        RefusedRequestCase{ "GetFrameSize", Command::GET_FRAME_SIZE,
                            [](VXQIRApiS& api, VXTQirChannelHandle h) {
                                uint16_t w = 0, hgt = 0;
                                return api.getFrameSize(h, &w, &hgt);
                            } }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(ControlRequests, ARefusedFrameSizeIsNotTakenAsTheFrameHeight)
{
    // Refused once, then accepted at another height: only the accepted
    // height decides where the end-of-frame mark goes.
    int frameSizes = 0;
    unit_.setResponder([&](const ReplayControlMessage& request) -> std::optional<Bytes> {
        Bytes reply = unit_.defaultReply(request);
        if (request.command == static_cast<uint16_t>(Command::SET_FRAME_SIZE) && frameSizes++ == 0)
            reinterpret_cast<ReplayStatusMessage*>(reply.data())->response_type = RESPONSE_CHANNEL_NOT_AVAILABLE;
        return reply;
    });
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config);
    ASSERT_EQ(api_->initOutputChannel(handle, 8, 4), ChannelNotAvailable);
    ASSERT_EQ(api_->initOutputChannel(handle, 8, 2), NoError);
    unit_.sendStatus(0, STATUS_FLAG_ENABLED, 0, 100, 1);
    ASSERT_TRUE(eventually([&] {
        VXTQirStatusT status{};
        return api_->getCurrentState(handle, &status) == NoError;
    }));

    const uint8_t line[8] = {};
    for (uint16_t lineNumber : { 1, 3 }) {
        VXTQirPacketPropertiesT properties{ 0, 0, lineNumber, 0 };
        ASSERT_EQ(api_->replayStreamData(handle, &properties, line, sizeof(line)), NoError);
    }
    const std::vector<Received> data = unit_.waitForData(2);
    ASSERT_EQ(data.size(), 2u);
    EXPECT_TRUE(sensorHeader(data[0]).endOfFrame()) << "line 1 ends a frame of height 2";
    EXPECT_FALSE(sensorHeader(data[1]).endOfFrame()) << "height 4 was refused";
}

TEST_F(ControlRequests, ReplayTimesAreSentAndReadBackInTheirOrder)
{
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config);

    EXPECT_EQ(api_->setReplayStartTime(handle, 100, 0, 50), InvalidTiming);
    ASSERT_EQ(unit_.requests().size(), 1u); // the start time went out, the stop time did not
    EXPECT_EQ(+asRequest(unit_.requests()[0]).command, static_cast<uint16_t>(Command::SET_START_TIMESTAMP));

    EXPECT_EQ(api_->setReplayStartTime(handle, 100, 7, 100), NoError);
    uint64_t start = 0, offset = 0, stop = 0;
    const size_t before = unit_.requests().size();
    EXPECT_EQ(api_->getReplayStartTime(handle, &start, nullptr, nullptr), NoError);
    EXPECT_EQ(unit_.requests().size(), before + 1); // only the start time is queried
    EXPECT_EQ(api_->getReplayStartTime(handle, &start, &offset, &stop), NoError);
    EXPECT_EQ(start, 100u);
    EXPECT_EQ(offset, 7u);
    EXPECT_EQ(stop, 100u);
}

TEST_F(ControlRequests, ChannelsAbove255AreRefusedAndChannel255IsAnswered)
{
    const VXTQirInputInterfaceT config = unit_.config(1448, 1000);
    VXTQirChannelHandle handle = -1;
    EXPECT_EQ(api_->registerOutputChannel(&config, 256, &handle), InvalidChannelIndex);
    EXPECT_TRUE(unit_.requests().empty());

    handle = registerChannel(config, 255);
    EXPECT_EQ(api_->initOutputChannel(handle, 8, 8), NoError);
    EXPECT_EQ(+asRequest(unit_.requests().at(0)).channel_number, 255);
}

TEST_F(ControlRequests, UnregisteringTellsTheUnitToStopReplayAndStatus)
{
    const VXTQirInputInterfaceT config = unit_.config();
    const VXTQirChannelHandle handle = registerChannel(config);
    ASSERT_EQ(api_->unregisterOutputChannel(handle), NoError);
    const std::vector<Received> requests = unit_.waitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(+asRequest(requests[0]).command, static_cast<uint16_t>(Command::DISABLE_CHANNEL));
    EXPECT_EQ(+asRequest(requests[1]).command, static_cast<uint16_t>(Command::DISABLE_STATUS_MESSAGES));
    EXPECT_EQ(api_->resetChannel(handle), InvalidChannelHandle);
}

} // namespace
} // namespace vxqir::test
