#include "SourceToUnitFixture.h"

#include <chrono>
#include <cstdlib>
#include <algorithm>
#include <regex>
#include <thread>

namespace sources_test {

namespace {

using component_test::UNIT_CONTROL_IP;
using component_test::UNIT_DATA_IP;

/// Samples the unit client may drop at the start of a run, before the unit's
/// first status and the replay offset have arrived.
constexpr size_t MAX_DROPPED_AT_START = 2;

} // namespace

void SourceToUnit::SetUp()
{
    vxqir::sim::EmulatorConfig config;
    config.channels = 1;
    // Plenty for the frames of these tests, small enough for shared machines.
    config.socketReceiveBuffer = 32 << 20;
    unit_ = component_test::StartLoopbackUnit(
        std::move(config), [this](const vxqir::sim::CompletedFrame& frame, uint64_t checksum) {
            std::lock_guard lock(framesMutex_);
            frames_.push_back({ frame.frameNumber, checksum, frame.height, frame.lineLengths });
        });
    host::HostKernel::Instance().Attach(&log, nullptr, &engine);
}

void SourceToUnit::TearDown()
{
    runner_.reset();
    graph_.reset();
    host::HostKernel::Instance().Attach(nullptr, nullptr, nullptr);
    unit_.reset();
}

host::RunResult SourceToUnit::RunSource(const std::string& model, const std::string& sourceProperties,
                                        const std::string& unitProperties)
{
    const std::string toml = "[run]\nuntil = \"sources-end\"\nduration = \"90s\"\n"
                             "[[component]]\nname = \"source\"\nmodel = \"" +
        model +
        "\"\n"
        "properties = { ReportChecksums = true, StartDelayUs = 300000, PeriodUs = 20000, " +
        sourceProperties +
        " }\n"
        "[[component]]\nname = \"offset\"\nmodel = \"HostInt64Source\"\n"
        "properties = { Mode = \"Constant\", Value = 1000, PeriodUs = 1000, Count = 5 }\n"
        "[[component]]\nname = \"unit\"\nmodel = \"VxQirUnitClient\"\n"
        "properties = { QirControlIP = \"" +
        std::string(UNIT_CONTROL_IP) + "\", QirControlPort = " + std::to_string(unit_->controlPort()) +
        ", SensorDataIP = \"" + UNIT_DATA_IP + "\", SensorDataBasePort = " + std::to_string(unit_->dataBasePort()) +
        ", LocalControlIP = \"127.0.0.1\", LocalControlPort = 0, StatusUpdatePeriod = 20000, TimeoutGet = 2000000"
        ", TimeoutStream = 2000000" +
        (unitProperties.empty() ? "" : ", " + unitProperties) +
        " }\n"
        "[[connection]]\nfrom = \"source." +
        std::string(model == "HostCodedImageSource" ? "Images" : "Frames") +
        "\"\nto = \"unit.SensorDataIn\"\n"
        "[[connection]]\nfrom = \"offset.Value\"\nto = \"unit.LoggingStartTime\"\n";

    engine.Set("Engine.shutdownTimeout", int64_t{ 4'000'000 });
    host::RunOptions options;
    return component_test::RunInProcess(toml, options, graph_, runner_);
}

std::vector<ReceivedFrame> SourceToUnit::Received(size_t atLeast)
{
    using namespace std::chrono_literals;
    unit_->waitUntil(
        [atLeast](const vxqir::sim::EmulatorSnapshot& s) { return s.channels[0].frames.framesComplete >= atLeast; },
        20s);
    uint64_t datagrams = Channel().datagrams;
    for (int quiet = 0, polls = 0; quiet < 2 && polls < 100; ++polls) {
        std::this_thread::sleep_for(100ms);
        const uint64_t now = Channel().datagrams;
        quiet = now == datagrams ? quiet + 1 : 0;
        datagrams = now;
    }
    unit_->drainChecksums();
    std::lock_guard lock(framesMutex_);
    return frames_;
}

std::vector<SentFrame> SourceToUnit::Sent() const
{
    static const std::regex line(R"(^frame (\d+): (\d+) packets, (\d+) bytes, checksum ([0-9a-f]{16})$)");
    std::vector<SentFrame> sent;
    for (const host::Report& report : log.Reports()) {
        std::smatch m;
        if (report.source != "source" || !std::regex_match(report.text, m, line))
            continue;
        sent.push_back({ std::stoull(m[1]), std::stoull(m[2]), std::stoull(m[3]), std::stoull(m[4], nullptr, 16) });
    }
    return sent;
}

size_t SourceToUnit::DroppedAtStart(const std::vector<SentFrame>& sent,
                                    const std::vector<ReceivedFrame>& received) const
{
    size_t dropped = 0;
    while (!received.empty() && dropped < sent.size() && sent[dropped].checksum != received.front().checksum)
        ++dropped;
    return dropped;
}

void SourceToUnit::ExpectReceivedAsSent(const std::vector<uint32_t>& lineLengths)
{
    const auto lines = static_cast<uint16_t>(lineLengths.size());
    const std::vector<SentFrame> sent = Sent();
    ASSERT_FALSE(sent.empty()) << log.Text();
    const std::vector<ReceivedFrame> received = Received(sent.size() - std::min(sent.size(), MAX_DROPPED_AT_START));
    ASSERT_FALSE(received.empty()) << log.Text();

    const size_t dropped = DroppedAtStart(sent, received);
    ASSERT_LE(dropped, MAX_DROPPED_AT_START) << "the unit's first frame is none of the first frames sent\n"
                                             << log.Text();
    ASSERT_EQ(received.size(), sent.size() - dropped) << log.Text();
    for (size_t i = 0; i < received.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const ReceivedFrame& r = received[i];
        const SentFrame& s = sent[dropped + i];
        EXPECT_EQ(r.frameNumber, i);
        EXPECT_EQ(r.checksum, s.checksum);
        EXPECT_EQ(r.height, lines);
        EXPECT_EQ(s.packets, lines);
        ASSERT_EQ(r.lineLengths.size(), lines);
        for (uint16_t l = 0; l < lines; ++l)
            ASSERT_EQ(r.lineLengths[l], lineLengths[l]) << "line " << l;
    }
    const vxqir::sim::ChannelSnapshot channel = Channel();
    EXPECT_EQ(channel.frames.framesIncomplete, 0u);
    EXPECT_EQ(channel.packetGaps, 0u);
    EXPECT_EQ(channel.badDatagrams, 0u);
    EXPECT_EQ(channel.frameHeight, lines);
}

} // namespace sources_test
