// Feeds arbitrary datagrams to the acceptance path of status messages (the
// header checks, the routing by sender address and channel byte, and the
// channel's handling of periodic status and replies) while control requests
// wait for their replies: requests are opened, answered rightly, wrongly,
// twice or never, collected, and the 16-bit request id is made to wrap onto
// requests still waiting.
//
// Input: a sequence of operations, each an operation byte followed by its
// arguments (missing bytes read as 0):
//   0 datagram   sender(1) length(1) bytes(length)   raw datagram
//   1 open       channel(1) command(1)               send a request, keep it open
//   2 answer     request(1) kind(1) [id(2)]          reply to an open request
//   3 collect    request(1)                          take its result (no wait)
//   4 renumber   request(1) delta(1)                 next id = an open id + delta
//   5 status     channel(1) free(2) rx(2)            periodic status
// Every request still open at the end of an input is collected, so inputs
// do not depend on each other.
//
// Checked on every input: an opened request never gets the id of another
// request still open on its channel; a collected request reports exactly
// the first reply it was given (0x8004 as ChannelNotAvailable) or Timeout.

#include "InterfaceCommunication.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

using namespace vxqir;

struct ChannelAt {
    const char* unit;
    VXTQirChannelNumber index;
};
constexpr std::array<ChannelAt, 4> CHANNELS{
    { { "127.0.0.2", 0 }, { "127.0.0.2", 1 }, { "127.0.0.2", 255 }, { "127.0.0.4", 0 } }
};
constexpr std::array<const char*, 4> SENDERS{ "127.0.0.2", "127.0.0.4", "127.0.0.3", "" };
// Bounds the pending table an input can build up.
constexpr size_t MAX_OPEN = 64;

struct Target {
    Target()
    {
        VXTQirInputInterfaceT config{};
        config.controlPort = 9; // discard: requests and goodbyes go nowhere
        config.dataIP = "127.0.0.3";
        config.dataBasePort = 9;
        config.localIP = "127.0.0.1";
        config.maxPayloadSize = 1448;
        config.controlIP = CHANNELS[0].unit;
        endpoint = std::make_unique<InterfaceCommunication>(config);
        for (const ChannelAt& at : CHANNELS) {
            config.controlIP = at.unit;
            channels.push_back(endpoint->createChannel(config, at.index));
        }
    }
    std::unique_ptr<InterfaceCommunication> endpoint;
    std::vector<ChannelStatePtr> channels;
};

// What the model expects of one open request.
struct OpenRequest {
    size_t channel;
    uint16_t id;
    uint16_t command;
    std::optional<ReplayStatusMessage> firstReply;
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) { }
    bool done() const { return position_ >= size_; }
    uint8_t u8() { return position_ < size_ ? data_[position_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

[[noreturn]] void fail(const char* what, unsigned a, unsigned b)
{
    std::fprintf(stderr, "fuzz_status_datagram: %s (%u, %u)\n", what, a, b);
    std::abort();
}

void deliver(Target& target, const ReplayStatusMessage& message, const char* sender)
{
    target.endpoint->processDatagram(reinterpret_cast<const uint8_t*>(&message), STATUS_MESSAGE_SIZE, sender);
}

class Session {
public:
    explicit Session(Target& target) : target_(target) { }

    void datagram(Reader& in)
    {
        const char* sender = SENDERS[in.u8() % SENDERS.size()];
        const size_t length = in.u8() % 48;
        std::vector<uint8_t> bytes(length);
        for (uint8_t& byte : bytes)
            byte = in.u8();
        target_.endpoint->processDatagram(bytes.data(), bytes.size(), sender);
        // A raw datagram may answer an open request; the model cannot tell
        // which, so the first-reply check is relaxed until they are collected.
        relaxed_ = true;
    }

    void open(Reader& in)
    {
        const size_t channel = in.u8() % CHANNELS.size();
        const Command command = ALL_COMMANDS[in.u8() % ALL_COMMANDS.size()];
        if (open_.size() >= MAX_OPEN)
            return;
        const std::optional<uint16_t> id = target_.channels[channel]->startRequest(command);
        if (!id)
            fail("an id was refused although few requests are open", channel, 0);
        for (const OpenRequest& other : open_) {
            if (other.channel == channel && other.id == *id)
                fail("an open request's id was handed out again", channel, *id);
        }
        open_.push_back({ channel, *id, static_cast<uint16_t>(command), std::nullopt });
    }

    void answer(Reader& in)
    {
        const uint8_t pick = in.u8();
        const uint8_t kind = in.u8();
        if (open_.empty())
            return;
        OpenRequest& request = open_[pick % open_.size()];
        const ChannelAt& at = CHANNELS[request.channel];
        uint16_t type = request.command;
        uint16_t id = request.id;
        switch (kind % 6) {
        case 0:
            break; // the right type
        case 1:
            type = RESPONSE_CHANNEL_NOT_AVAILABLE;
            break;
        case 2:
            type = static_cast<uint16_t>(type ^ 1u);
            break; // a neighbouring type
        case 3:
            type = RESPONSE_BUFFER_SIZE;
            break;
        case 4:
            id = in.u16();
            break; // some other id, perhaps another open one
        case 5:
            type = RESPONSE_PERIODIC_STATUS;
            break; // never a reply
        }
        const ReplayStatusMessage message = makeStatusMessage(static_cast<uint8_t>(at.index), type, id);
        const int copies = (kind & 0x80) != 0 ? 2 : 1; // repeated replies
        for (int n = 0; n < copies; ++n)
            deliver(target_, message, at.unit);
        if (type == RESPONSE_PERIODIC_STATUS)
            return;
        for (OpenRequest& other : open_) {
            if (other.channel != request.channel)
                continue;
            if (other.id == id && !other.firstReply)
                other.firstReply = message;
        }
    }

    void collect(Reader& in)
    {
        const uint8_t pick = in.u8();
        if (!open_.empty())
            collectAt(pick % open_.size());
    }

    void renumber(Reader& in)
    {
        const uint8_t pick = in.u8();
        const uint8_t delta = in.u8() % 4;
        if (open_.empty())
            return;
        const OpenRequest& request = open_[pick % open_.size()];
        target_.channels[request.channel]->setNextRequestId(static_cast<uint16_t>(request.id + delta));
    }

    void status(Reader& in)
    {
        const size_t channel = in.u8() % CHANNELS.size();
        ReplayStatusMessage message =
            makeStatusMessage(static_cast<uint8_t>(CHANNELS[channel].index), RESPONSE_PERIODIC_STATUS, 0);
        message.payload.status.free_fifo_entries = in.u16();
        message.payload.status.rx_packet_num = in.u16();
        deliver(target_, message, CHANNELS[channel].unit);
    }

    void collectAll()
    {
        while (!open_.empty())
            collectAt(open_.size() - 1);
        relaxed_ = false;
    }

private:
    void collectAt(size_t index)
    {
        const OpenRequest request = open_[index];
        open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(index));
        ReplayStatusMessage reply{};
        const VXTQirError result =
            target_.channels[request.channel]->finishRequest(request.id, reply, std::chrono::milliseconds(0));
        if (relaxed_)
            return;
        if (!request.firstReply) {
            if (result != Timeout)
                fail("an unanswered request did not time out", request.id, result);
            return;
        }
        const uint16_t type = request.firstReply->response_type;
        if (type == RESPONSE_CHANNEL_NOT_AVAILABLE) {
            if (result != ChannelNotAvailable)
                fail("a refused request was not reported as such", request.id, result);
            return;
        }
        if (result != NoError)
            fail("an answered request failed", request.id, result);
        if (reply.response_id != request.id || reply.response_type != type)
            fail("a request got another reply than its first", request.id, reply.response_id);
    }

    Target& target_;
    std::vector<OpenRequest> open_;
    bool relaxed_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Target target;
    Session session(target);
    Reader in(data, size);
    while (!in.done()) {
        switch (in.u8() % 6) {
        case 0:
            session.datagram(in);
            break;
        case 1:
            session.open(in);
            break;
        case 2:
            session.answer(in);
            break;
        case 3:
            session.collect(in);
            break;
        case 4:
            session.renumber(in);
            break;
        case 5:
            session.status(in);
            break;
        }
    }
    session.collectAll();
    for (const ChannelStatePtr& channel : target.channels) {
        VXTQirStatusT status{};
        (void)channel->getCurrentState(status);
    }
    return 0;
}
