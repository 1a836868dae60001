// Captures of the emulator's datagrams, read back by tshark with the
// project's Wireshark dissector (tools/wireshark/qir.lua).

#include "PacketCapture.h"
#include "RawUnitClient.h"
#include "UnitEmulator.h"

#include "OutputFile.h"
#include "Tshark.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <stdlib.h>

namespace vxqir::sim {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testing::makeSensorDatagram;
using ::testing::Not;
using testing::RawUnitClient;

namespace fs = std::filesystem;

constexpr const char* DISSECTOR = QIR_WIRESHARK_DISSECTOR;
constexpr uint64_t UNIT_TIME = 1'700'000'000'123'456'789ull;
// Generous: the machine is shared; nothing here measures speed.
constexpr auto WAIT = 10s;

/// A private folder for one test's files, removed afterwards.
class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "qir-capture-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    fs::path operator/(const std::string& name) const { return path_ / name; }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

using Row = std::map<std::string, std::string>;

/// The given fields of every packet tshark shows (`-Y filter`, when given).
std::vector<Row> dissect(const fs::path& capture, const std::vector<std::string>& fields, const std::string& args)
{
    std::string command = args + " -T fields -E separator='|' -E occurrence=a";
    for (const std::string& f : fields)
        command += " -e " + f;
    const qir::test::TsharkOutput output = qir::test::runTshark(capture, DISSECTOR, command);
    EXPECT_EQ(output.exitCode, 0) << output.err;
    EXPECT_THAT(output.err, Not(HasSubstr("Lua")));
    std::vector<Row> rows;
    for (const auto& values : qir::test::fieldRows(output.out)) {
        Row row;
        for (size_t i = 0; i < fields.size() && i < values.size(); ++i)
            row[fields[i]] = values[i];
        rows.push_back(std::move(row));
    }
    return rows;
}

#define SKIP_WITHOUT_TSHARK()                                                                                          \
    if (!qir::test::tsharkAvailable())                                                                                 \
    GTEST_SKIP() << "tshark is not installed"

// A session on loopback ------------------------------------------------------------

class CapturedSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_TSHARK();
        EmulatorConfig c;
        c.channels = 1;
        c.channel.fifoEntries = 64;
        c.statusPeriod = 5ms;
        c.clock = std::make_shared<ManualUnitClock>(UNIT_TIME);
        c.capture = std::make_shared<PacketCapture>(capturePath().string());
        capture = c.capture;
        unit = std::make_unique<UnitEmulator>(std::move(c));
        unit->start();
        client = std::make_unique<RawUnitClient>(*Ipv4Endpoint::parse("127.0.0.1", unit->controlPort()),
                                                 *Ipv4Endpoint::parse("127.0.0.1", unit->dataBasePort()));
    }

    fs::path capturePath() const { return folder / "session.pcapng"; }

    /// Sends frame 7 of two 8-byte lines, stream 5, packets 100 and 101,
    /// and stops the unit once it confirmed both in a status.
    void runSession()
    {
        ASSERT_TRUE(client->request(Command::SET_FRAME_SIZE, 0, WAIT, [](ReplayControlMessage& m) {
            m.payload.frameSize = { .width = 8, .height = 2 };
        }));
        ASSERT_TRUE(client->request(Command::ENABLE_CHANNEL, 0));
        ASSERT_TRUE(client->request(Command::GET_BUFFER_SIZE, 0));
        ASSERT_TRUE(client->request(Command::ENABLE_STATUS_MESSAGES, 0));
        const std::vector<uint8_t> line(8, 0xAB);
        for (uint16_t l = 0; l < 2; ++l) {
            const uint8_t flags = SENSOR_FLAG_END_OF_LINE | (l == 1 ? SENSOR_FLAG_END_OF_FRAME : 0);
            auto datagram = makeSensorDatagram(7, l, static_cast<uint16_t>(100 + l), flags, line, 123456789);
            datagram[offsetof(ReplaySensorMessageHeader, streamID)] = 5;
            client->sendData(0, datagram);
        }
        ASSERT_TRUE(unit->waitUntil([](const auto& s) { return s.channels[0].frames.framesComplete == 1; }, WAIT));
        ASSERT_TRUE(client->receiveMatching(WAIT, [](const ReplayStatusMessage& m) {
            return m.response_type == RESPONSE_PERIODIC_STATUS && m.payload.status.rx_packet_num == 101;
        }));
        unit->stop();
        capture->commit();
    }

    TempFolder folder;
    std::shared_ptr<PacketCapture> capture;
    std::unique_ptr<UnitEmulator> unit;
    std::unique_ptr<RawUnitClient> client;
};

const std::vector<std::string> SESSION_FIELDS = {
    "ip.src",
    "udp.srcport",
    "ip.dst",
    "udp.dstport",
    "qir.kind",
    "qir.version",
    "qir.channel",
    "qir.command",
    "qir.request_id",
    "qir.response_id",
    "qir.frame_size.width",
    "qir.frame_size.height",
    "qir.buffer.fifo_entries",
    "qir.status.enabled",
    "qir.status.loss",
    "qir.status.ptp_synced",
    "qir.status.ptp_active",
    "qir.status.rx_packet",
    "qir.status.free_fifo",
    "qir.status.time",
    "qir.data.frame",
    "qir.data.line",
    "qir.data.stream",
    "qir.data.timestamp",
    "qir.data.size",
    "qir.data.packet",
    "qir.data.eol",
    "qir.data.eof",
    "qir.data.channel",
    "_ws.expert.message",
};

std::vector<Row> rowsOfKind(const std::vector<Row>& rows, const std::string& kind)
{
    std::vector<Row> out;
    for (const Row& r : rows) {
        if (r.at("qir.kind") == kind)
            out.push_back(r);
    }
    return out;
}

TEST_F(CapturedSession, ShowsTheRequestsDataAndStatusWithTheirAddressesAndValues)
{
    runSession();
    const std::string ports = "-o qir.control_port:" + std::to_string(unit->controlPort()) +
        " -o qir.data_base_port:" + std::to_string(unit->dataBasePort());
    const auto rows = dissect(capturePath(), SESSION_FIELDS, ports);
    const std::string host = std::to_string(client->local().port);
    const std::string control = std::to_string(unit->controlPort());
    const std::string data = std::to_string(unit->dataBasePort());

    const auto requests = rowsOfKind(rows, "control request");
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].at("qir.command"), "48");
    EXPECT_EQ(requests[0].at("qir.request_id"), "1");
    EXPECT_EQ(requests[0].at("qir.frame_size.width"), "8");
    EXPECT_EQ(requests[0].at("qir.frame_size.height"), "2");
    EXPECT_EQ(requests[0].at("qir.version"), "3");
    EXPECT_EQ(requests[0].at("udp.srcport"), host);
    EXPECT_EQ(requests[0].at("udp.dstport"), control);
    EXPECT_EQ(requests[3].at("qir.command"), "17");

    const auto replies = rowsOfKind(rows, "reply");
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[2].at("qir.response_id"), "3");
    EXPECT_EQ(replies[2].at("qir.buffer.fifo_entries"), "64");
    EXPECT_EQ(replies[2].at("udp.srcport"), control);
    EXPECT_EQ(replies[2].at("udp.dstport"), host);

    const auto sensor = rowsOfKind(rows, "sensor datagram");
    ASSERT_EQ(sensor.size(), 2u);
    for (uint16_t l = 0; l < 2; ++l) {
        const Row& d = sensor[l];
        EXPECT_EQ(d.at("ip.src"), "127.0.0.1");
        EXPECT_EQ(d.at("ip.dst"), "127.0.0.1");
        EXPECT_EQ(d.at("udp.dstport"), data);
        EXPECT_EQ(d.at("qir.data.frame"), "7");
        EXPECT_EQ(d.at("qir.data.line"), std::to_string(l));
        EXPECT_EQ(d.at("qir.data.stream"), "5");
        EXPECT_EQ(d.at("qir.data.timestamp"), "123456789");
        EXPECT_EQ(d.at("qir.data.size"), "8");
        EXPECT_EQ(d.at("qir.data.packet"), std::to_string(100 + l));
        EXPECT_EQ(d.at("qir.data.eol"), "1");
        EXPECT_EQ(d.at("qir.data.eof"), l == 1 ? "1" : "0");
        EXPECT_EQ(d.at("qir.data.channel"), "0");
    }

    const auto statuses = rowsOfKind(rows, "periodic status");
    const Row* confirmed = nullptr;
    for (const Row& s : statuses) {
        if (s.at("qir.status.rx_packet") == "101")
            confirmed = &s;
    }
    ASSERT_NE(confirmed, nullptr) << statuses.size() << " periodic statuses, none with packet 101";
    EXPECT_EQ(confirmed->at("qir.channel"), "0");
    EXPECT_EQ(confirmed->at("qir.status.enabled"), "1");
    EXPECT_EQ(confirmed->at("qir.status.loss"), "0");
    EXPECT_EQ(confirmed->at("qir.status.ptp_synced"), "0");
    EXPECT_EQ(confirmed->at("qir.status.ptp_active"), "0");
    EXPECT_EQ(confirmed->at("qir.status.free_fifo"), "64");
    EXPECT_EQ(confirmed->at("qir.status.time"), std::to_string(UNIT_TIME));
    EXPECT_EQ(confirmed->at("udp.srcport"), control);

    for (const Row& r : rows)
        EXPECT_EQ(r.at("_ws.expert.message"), "") << "a clean session flags nothing";
}

TEST_F(CapturedSession, IsFoundOnOtherPortsByDecodeAsAndByTheControlMagic)
{
    runSession();
    // No port preferences: the control traffic is found by its magic, the
    // data port is chosen with "Decode As".
    const auto rows = dissect(capturePath(), { "qir.kind", "qir.data.packet" },
                              "-d udp.port==" + std::to_string(unit->dataBasePort()) + ",qir");
    EXPECT_EQ(rowsOfKind(rows, "control request").size(), 4u);
    EXPECT_EQ(rowsOfKind(rows, "reply").size(), 4u);
    EXPECT_EQ(rowsOfKind(rows, "sensor datagram").size(), 2u);
    EXPECT_FALSE(rowsOfKind(rows, "periodic status").empty());
}

// Expert infos on crafted captures ---------------------------------------------------

const Ipv4Endpoint HOST = *Ipv4Endpoint::parse("127.0.0.1", 40000);
// The dissector's default ports: control 65024, data 61440 + channel.
const Ipv4Endpoint UNIT_CONTROL = *Ipv4Endpoint::parse("127.0.0.2", 65024);
const Ipv4Endpoint UNIT_DATA = *Ipv4Endpoint::parse("127.0.0.3", 61441);

/// One datagram of a crafted capture.
struct Datagram {
    Ipv4Endpoint from;
    Ipv4Endpoint to;
    std::vector<uint8_t> bytes;
    size_t length = 0; ///< 0: bytes.size(); larger: the datagram was cut
};

std::vector<uint8_t> bytesOf(const void* record, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(record);
    return { p, p + size };
}

Datagram sensor(uint16_t frame, uint16_t line, uint16_t packet, uint8_t flags)
{
    const std::vector<uint8_t> payload(4, 0x11);
    return { HOST, UNIT_DATA, makeSensorDatagram(frame, line, packet, flags, payload) };
}

Datagram sensorWith(size_t offset, uint8_t value)
{
    Datagram d = sensor(1, 0, 1, SENSOR_FLAG_END_OF_LINE);
    d.bytes[offset] = value;
    return d;
}

Datagram bufferReply(uint32_t totalEntries)
{
    ReplayStatusMessage m = makeStatusMessage(1, RESPONSE_BUFFER_SIZE, 9);
    m.payload.buffer.total_fifo_entries = totalEntries;
    return { UNIT_CONTROL, HOST, bytesOf(&m, sizeof(m)) };
}

Datagram status(uint32_t freeEntries)
{
    ReplayStatusMessage m = makeStatusMessage(1, RESPONSE_PERIODIC_STATUS, 0);
    m.payload.status.flags = STATUS_FLAG_ENABLED;
    m.payload.status.free_fifo_entries = freeEntries;
    return { UNIT_CONTROL, HOST, bytesOf(&m, sizeof(m)) };
}

Datagram statusWith(size_t offset, uint8_t value)
{
    Datagram d = status(100);
    d.bytes[offset] = value;
    return d;
}

Datagram request(Command command)
{
    const ReplayControlMessage m = makeControlMessage(1, command, 4);
    return { HOST, UNIT_CONTROL, bytesOf(&m, m.packet_length) };
}

Datagram requestWith(size_t offset, uint8_t value)
{
    Datagram d = request(Command::ENABLE_CHANNEL);
    d.bytes[offset] = value;
    return d;
}

void writeCapture(const fs::path& path, const std::vector<Datagram>& datagrams)
{
    PacketCapture capture(path.string());
    for (const Datagram& d : datagrams)
        capture.record(d.from, d.to, d.bytes, d.length != 0 ? d.length : d.bytes.size());
    capture.commit();
}

constexpr uint8_t EOL = SENSOR_FLAG_END_OF_LINE;
constexpr uint8_t EOF_ = SENSOR_FLAG_END_OF_LINE | SENSOR_FLAG_END_OF_FRAME;

struct ExpertCase {
    const char* name;
    std::vector<Datagram> datagrams;
    const char* expert;             ///< expert field, without "qir.expert."
    std::vector<std::string> flags; ///< frame numbers it is on (none: never)
    const char* mentions = "";      ///< part of its message
};

void PrintTo(const ExpertCase& c, std::ostream* out)
{
    *out << c.name;
}

class ExpertInfos : public ::testing::TestWithParam<ExpertCase> { };

TEST_P(ExpertInfos, FlagExactlyTheDatagramsAtFault)
{
    SKIP_WITHOUT_TSHARK();
    const ExpertCase& c = GetParam();
    TempFolder folder;
    writeCapture(folder / "crafted.pcap", c.datagrams);
    const std::string field = std::string("qir.expert.") + c.expert;
    const auto rows = dissect(folder / "crafted.pcap", { "frame.number", "_ws.expert.message" }, "-Y " + field);
    std::vector<std::string> flagged;
    for (const Row& r : rows) {
        flagged.push_back(r.at("frame.number"));
        EXPECT_THAT(r.at("_ws.expert.message"), HasSubstr(c.mentions));
    }
    EXPECT_EQ(flagged, c.flags) << field;
}

/// `d` as a receive that kept only its first `kept` bytes records it.
Datagram cut(Datagram d, size_t kept)
{
    d.length = d.bytes.size();
    d.bytes.resize(kept);
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExpertInfos,
    ::testing::Values(
        ExpertCase{ "PacketNumberGap",
                    { sensor(5, 0, 1, EOL), sensor(5, 1, 3, EOF_) },
                    "packet_gap",
                    { "2" },
                    "expected 2 (1 missing" },
        ExpertCase{
            "PacketNumbersWrappingAround", { sensor(5, 0, 65535, EOL), sensor(5, 1, 0, EOF_) }, "packet_gap", {} },
        ExpertCase{ "LinesStoppingWithoutEndOfFrame",
                    { sensor(5, 0, 1, EOL), sensor(5, 1, 2, EOL), sensor(6, 0, 3, EOL) },
                    "frame_without_eof",
                    { "3" },
                    "Frame 5 ended at line 1 without end of frame" },
        ExpertCase{ "FrameWithEndOfFrame", { sensor(5, 0, 1, EOF_), sensor(6, 0, 2, EOL) }, "frame_without_eof", {} },
        ExpertCase{ "LineGoingBackwards",
                    { sensor(5, 1, 1, EOL), sensor(5, 0, 2, EOL) },
                    "line_backwards",
                    { "2" },
                    "Line 0 after line 1 in frame 5" },
        ExpertCase{ "FreeFifoBelowTheSendingThreshold",
                    { bufferReply(100), status(19) },
                    "fifo_below_threshold",
                    { "2" },
                    "19 of 100 entries free" },
        ExpertCase{ "FreeFifoAtTheSendingThreshold", { bufferReply(100), status(20) }, "fifo_below_threshold", {} },
        ExpertCase{ "FreeFifoWithoutKnownTotal", { status(0) }, "fifo_below_threshold", {} },
        ExpertCase{ "PayloadSizeDisagreeingWithTheLength",
                    { sensorWith(offsetof(ReplaySensorMessageHeader, payloadSize), 9) },
                    "size_mismatch",
                    { "1" },
                    "Payload size 9, but the datagram holds 4" },
        ExpertCase{ "DatagramCutByTheCaptureWithItsRightSize", { cut(sensor(1, 0, 1, EOL), 26) }, "size_mismatch", {} },
        ExpertCase{ "UnknownSensorVersion",
                    { sensorWith(offsetof(ReplaySensorMessageHeader, version), 4) },
                    "unknown_version",
                    { "1" },
                    "Version 4" },
        ExpertCase{ "UnknownControlVersion",
                    { requestWith(offsetof(ReplayControlMessage, VERSION), 2) },
                    "unknown_version",
                    { "1" },
                    "Version 2" },
        ExpertCase{ "UnknownStatusVersion",
                    { statusWith(offsetof(ReplayStatusMessage, VERSION), 7) },
                    "unknown_version",
                    { "1" },
                    "Version 7" },
        ExpertCase{ "StatusLengthByteDisagreeing",
                    { statusWith(offsetof(ReplayStatusMessage, packet_length), 27) },
                    "length_mismatch",
                    { "1" },
                    "Length byte 27, datagram 28 bytes" },
        ExpertCase{ "UnknownCommand",
                    { requestWith(offsetof(ReplayControlMessage, command), 99) },
                    "unknown_command",
                    { "1" } },
        ExpertCase{ "NoMagicOnTheControlPort",
                    { Datagram{ HOST, UNIT_CONTROL, { 'h', 'e', 'l', 'l', 'o' } } },
                    "bad_magic",
                    { "1" } }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Garbage -------------------------------------------------------------------------------

TEST(CaptureDissector, ReadsGarbageDatagramsWithoutALuaError)
{
    SKIP_WITHOUT_TSHARK();
    TempFolder folder;
    std::mt19937 random(22);
    const Ipv4Endpoint other = *Ipv4Endpoint::parse("127.0.0.4", 5555);
    const Ipv4Endpoint targets[] = { UNIT_CONTROL, UNIT_DATA, other };
    const char* prefixes[] = { "", "QIR-C", "QIR-S" };
    constexpr int COUNT = 3000;
    std::vector<Datagram> garbage;
    for (int i = 0; i < COUNT; ++i) {
        std::string prefix = prefixes[random() % 3];
        std::vector<uint8_t> bytes(prefix.begin(), prefix.end());
        const size_t extra = random() % 48;
        for (size_t b = 0; b < extra; ++b)
            bytes.push_back(static_cast<uint8_t>(random()));
        // Now and then a header byte that leads further: a valid version,
        // a length byte that matches.
        if (bytes.size() > 6 && random() % 2 == 0) {
            bytes[5] = QIR_PROTOCOL_VERSION;
            bytes[6] = static_cast<uint8_t>(bytes.size());
        }
        const size_t length = random() % 8 == 0 ? bytes.size() + random() % 100 : bytes.size();
        garbage.push_back({ HOST, targets[random() % 3], bytes, length });
        if (random() % 4 == 0)
            std::swap(garbage.back().from, garbage.back().to);
    }
    writeCapture(folder / "garbage.pcap", garbage);

    // Two passes: the second reads the findings kept by the first.
    const auto output = qir::test::runTshark(folder / "garbage.pcap", DISSECTOR, "-2 -d udp.port==5555,qir -V");
    EXPECT_EQ(output.exitCode, 0) << output.err;
    EXPECT_THAT(output.out, Not(HasSubstr("Lua Error")));
    EXPECT_THAT(output.err, Not(HasSubstr("Lua")));
    size_t decoded = 0;
    for (size_t at = output.out.find("QIR unit protocol\n"); at != std::string::npos;
         at = output.out.find("QIR unit protocol\n", at + 1))
        ++decoded;
    // Empty datagrams are not decoded; every other one is.
    size_t nonEmpty = 0;
    for (const Datagram& d : garbage)
        nonEmpty += d.bytes.empty() ? 0 : 1;
    EXPECT_EQ(decoded, nonEmpty);
}

// The capture file ------------------------------------------------------------------------

TEST(PacketCaptureFile, AppearsOnlyWhenCommitted)
{
    TempFolder folder;
    const fs::path path = folder / "run.pcapng";
    {
        PacketCapture capture(path.string());
        capture.record(HOST, UNIT_DATA, sensor(1, 0, 1, EOL).bytes, 28);
        EXPECT_FALSE(fs::exists(path));
        capture.commit();
        EXPECT_EQ(capture.datagrams(), 1u);
    }
    EXPECT_TRUE(fs::exists(path));
    // classic pcap, nanosecond time stamps, link type raw IPv4 (101)
    std::ifstream in(path, std::ios::binary);
    uint32_t header[6] = {};
    in.read(reinterpret_cast<char*>(header), sizeof(header));
    EXPECT_EQ(header[0], 0xA1B23C4Du);
    EXPECT_EQ(header[5], 101u);

    const fs::path abandoned = folder / "abandoned.pcapng";
    {
        PacketCapture capture(abandoned.string());
        capture.record(HOST, UNIT_DATA, sensor(1, 0, 1, EOL).bytes, 28);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1)
        << "only the committed capture is left";
}

TEST(PacketCaptureFile, RefusesAPathInAMissingFolderNamingIt)
{
    TempFolder folder;
    const std::string path = (folder / "missing" / "run.pcapng").string();
    try {
        PacketCapture capture(path);
        FAIL() << "a capture in a missing folder was accepted";
    } catch (const qir::tools::OutputFileError& e) {
        EXPECT_THAT(e.what(), HasSubstr(path));
    }
}

} // namespace
} // namespace vxqir::sim
