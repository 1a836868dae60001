#include "ReplayGraph.h"

#include "DatagramSize.h"
#include "PlayerChoice.h"
#include "VideoCheck.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace qir::replay {

namespace {

/// A TOML basic string.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static constexpr char hex[] = "0123456789ABCDEF";
            out += "\\u00";
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

/// A float as TOML reads it back exactly.
std::string number(double value)
{
    std::ostringstream out;
    out.precision(17);
    out << value;
    std::string text = out.str();
    if (text.find_first_of(".eE") == std::string::npos)
        text += ".0";
    return text;
}

} // namespace

FrameBound parseFrameBound(const std::string& text)
{
    FrameBound bound;
    const auto number = [&](const std::string& digits, bool integer) {
        size_t used = 0;
        double value = -1.0;
        try {
            value = integer ? static_cast<double>(std::stoull(digits, &used)) : std::stod(digits, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (digits.empty() || used != digits.size() || !(value >= 0.0) || !std::isfinite(value) ||
            digits.find_first_of("+-") != std::string::npos)
            throw std::invalid_argument("\"" + text +
                                        "\": give a time after the first frame such as 1.5s or 250ms, or a frame "
                                        "index such as #10");
        return value;
    };
    if (!text.empty() && text[0] == '#') {
        bound.isFrame = true;
        bound.frame = static_cast<uint64_t>(number(text.substr(1), true));
    } else if (text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0) {
        bound.seconds = number(text.substr(0, text.size() - 2), false) / 1000.0;
    } else if (!text.empty() && text.back() == 's') {
        bound.seconds = number(text.substr(0, text.size() - 1), false);
    } else {
        number("", false); // neither unit nor '#': refused with the syntax
    }
    return bound;
}

ChannelMap parseChannelMap(const std::string& text)
{
    const size_t equals = text.rfind('=');
    const std::string target = equals == std::string::npos ? "" : text.substr(equals + 1);
    const size_t at = target.find('@');
    // A decimal number up to `limit`, or nothing.
    const auto decimal = [](const std::string& digits, unsigned long limit) -> std::optional<unsigned> {
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const unsigned long value = std::stoul(digits);
        return value <= limit ? std::optional<unsigned>(static_cast<unsigned>(value)) : std::nullopt;
    };
    const std::optional<unsigned> channel = decimal(target.substr(0, at), 255);
    const std::optional<unsigned> unit = at == std::string::npos ? 0u : decimal(target.substr(at + 1), 65535);
    if (equals == 0 || equals == std::string::npos || !channel || !unit)
        throw std::invalid_argument("--map \"" + text +
                                    "\": give FILE=CHANNEL or FILE=CHANNEL@UNIT with a channel from 0 to 255 and "
                                    "a unit index from 0");
    return { text.substr(0, equals), *channel, *unit };
}

double timingFps(const ReplayOptions& options, const Recording& recording)
{
    if (options.fps > 0)
        return options.fps;
    return !recording.carriesTimes() ? kDefaultRawFps : 0.0;
}

std::optional<std::string> replayRefusal(const ReplayOptions& options, const Recording& recording)
{
    const auto& frames = recording.frames();
    const bool oneFile = recording.format() != RecordingFormat::Images && recording.format() != RecordingFormat::Jpeg;
    const auto where = [&](size_t i) {
        return recording.path() + ": frame " + std::to_string(i) +
            (oneFile ? " (byte " + std::to_string(frames[i].offset) + ")" : "") + ": ";
    };
    for (size_t i = 0; i < frames.size(); ++i)
        if (frames[i].size > kLargestFrameBytes)
            return where(i) + std::to_string(frames[i].size) + " bytes, more than a sample can hold (" +
                std::to_string(kLargestFrameBytes) + " bytes)";
    if (timingFps(options, recording) > 0)
        return std::nullopt;
    constexpr uint64_t kDayUs = 86'400'000'000;
    for (size_t i = 1; i < frames.size(); ++i) {
        const uint64_t before = frames[i - 1].timeUs;
        const uint64_t at = frames[i].timeUs;
        if (at < before)
            return where(i) + "time " + std::to_string(at) + " us comes before the previous frame's " +
                std::to_string(before) + " us; --fps gives times from a frame rate";
        if (at - before > kDayUs)
            return where(i) + "time " + std::to_string(at) + " us is more than a day after the previous frame's " +
                std::to_string(before) + " us; --fps gives times from a frame rate";
    }
    return std::nullopt;
}

FrameRange selectFrames(const ReplayOptions& options, const Recording& recording)
{
    const auto& frames = recording.frames();
    const double fps = timingFps(options, recording);
    // Seconds of frame i after the first frame, as the players time it.
    const auto secondsOf = [&](size_t i) {
        return fps > 0 ? static_cast<double>(i) / fps
                       : static_cast<double>(frames[i].timeUs - frames.front().timeUs) / 1e6;
    };
    // The first frame at or after a bound.
    const auto indexOf = [&](const FrameBound& bound) {
        if (bound.isFrame)
            return static_cast<size_t>(std::min<uint64_t>(bound.frame, frames.size()));
        size_t i = 0;
        // A frame within a microsecond of the bound counts as on it.
        while (i < frames.size() && secondsOf(i) < bound.seconds - 1e-6)
            ++i;
        return i;
    };
    FrameRange range{ 0, frames.size() };
    if (options.from)
        range.first = indexOf(*options.from);
    if (options.to)
        range.end = indexOf(*options.to);
    if (range.first >= range.end)
        throw std::invalid_argument(recording.path() + ": --from and --to pick none of its " +
                                    std::to_string(frames.size()) + " frames");
    return range;
}

unsigned channelOf(const ReplayOptions& options, size_t i)
{
    return i < options.channels.size() ? options.channels[i] : static_cast<unsigned>(i);
}

unsigned unitOf(const ReplayOptions& options, size_t i)
{
    return i < options.unitIndexes.size() ? options.unitIndexes[i] : 0u;
}

Endpoint parseEndpoint(const std::string& text, uint16_t defaultPort)
{
    Endpoint endpoint;
    const size_t colon = text.find(':');
    endpoint.ip = text.substr(0, colon);
    in_addr address{};
    if (::inet_pton(AF_INET, endpoint.ip.c_str(), &address) != 1)
        throw std::invalid_argument("\"" + text + "\" is no IPv4 address");
    endpoint.port = defaultPort;
    if (colon != std::string::npos) {
        const std::string port = text.substr(colon + 1);
        size_t used = 0;
        unsigned long value = 0;
        try {
            value = std::stoul(port, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (port.empty() || used != port.size() || value == 0 || value > 65535)
            throw std::invalid_argument("\"" + text + "\": the port must be between 1 and 65535");
        endpoint.port = static_cast<uint16_t>(value);
    }
    return endpoint;
}

std::string replayGraphText(const ReplayOptions& options, const std::vector<const Recording*>& recordings,
                            const std::vector<UnitAddress>& units, bool packagesInProcess, int64_t unitClockOffsetUs)
{
    std::ostringstream g;
    g << "# Written by qir-replay: replays ";
    for (size_t i = 0; i < recordings.size(); ++i)
        g << (i ? ", " : "") << recordings[i]->path() << " on channel " << channelOf(options, i)
          << (units.size() > 1 ? " of unit " + std::to_string(unitOf(options, i)) : "");
    g << ".\n";
    if (unitClockOffsetUs == 0)
        g << "# Every channel starts at one unit time: player0 takes the unit's clock from the first status of\n"
             "# unit0 plus LeadUs and hands that start to the other players (StartTimeIn).\n";
    if (!packagesInProcess)
        g << "packages = [\"qir_players.pck\", \"tavrik_qir_varnel.pck\"]\n";
    g << "[engine]\n\"Engine.shutdownTimeout\" = 4000000\n";
    g << "[run]\nuntil = \"sources-end\"\n";
    // The cap: every frame at its time plus generous room for a slow machine.
    double seconds = 0.0;
    for (const Recording* recording : recordings) {
        const auto& frames = recording->frames();
        const double fps = timingFps(options, *recording);
        const FrameRange range = selectFrames(options, *recording);
        size_t perPass = range.end - range.first;
        if (options.frames > 0 && static_cast<size_t>(options.frames) < perPass)
            perPass = static_cast<size_t>(options.frames);
        const size_t last = range.first + perPass - 1;
        double pass = fps > 0 ? static_cast<double>(perPass) / fps
                              : static_cast<double>(frames[last].timeUs - frames[range.first].timeUs) / 1e6;
        // As fast as flow control allows: a generous 1 ms per frame.
        if (options.rate == 0)
            pass = static_cast<double>(perPass) * 0.001;
        const double rate = options.rate == 0 ? 1.0 : options.rate;
        seconds = std::max(seconds, pass * static_cast<double>(options.loops) / rate);
    }
    seconds += options.leadSeconds + static_cast<double>(options.startDelayUs) / 1e6;
    // An endless replay (--loop 0) runs until it is stopped (Ctrl-C).
    if (options.loops != 0)
        g << "duration = \"" << static_cast<int64_t>(std::ceil(seconds * 2 + 60)) << "s\"\n";

    for (size_t i = 0; i < recordings.size(); ++i) {
        const Recording& recording = *recordings[i];
        const std::string n = std::to_string(i);
        const bool raw = recording.format() == RecordingFormat::Raw;
        const double fps = timingFps(options, recording);
        const FrameRange range = selectFrames(options, recording);
        const PlayerChoice choice = playerChoice(recording);
        const Endpoint& control = units.at(unitOf(options, i)).control;
        const Endpoint& data = units.at(unitOf(options, i)).data;
        g << "\n[[component]]\nname = \"player" << n << "\"\n"
          << "model = \"" << choice.model << "\"\n"
          << "properties = { File = "
          << quoted(packagesInProcess ? recording.path() : std::filesystem::absolute(recording.path()).string())
          << ", Fps = " << number(fps) << ", Rate = " << number(options.rate) << ", Frames = " << options.frames
          << ", Loop = " << options.loops << ", StartDelayUs = " << options.startDelayUs
          << ", LeadUs = " << std::llround(options.leadSeconds * 1e6);
        if (i == 0 && unitClockOffsetUs != 0)
            g << ", UnitClockOffsetUs = " << unitClockOffsetUs;
        if (range.first != 0 || range.end != recording.frames().size())
            g << ", FirstFrame = " << range.first << ", EndFrame = " << range.end;
        if (options.keepGoing)
            g << ", KeepGoing = true";
        // The player trusts this check while the file stays unchanged; a
        // video file's player takes the decoded index from this process.
        const bool sharesIndex = recording.format() == RecordingFormat::Grabber ||
            (recording.format() == RecordingFormat::Video && packagesInProcess);
        if (sharesIndex && !recording.trustedIndex() && !recording.fingerprint().empty())
            g << ", Checked = " << quoted(recording.fingerprint());
        if (raw)
            g << ", PixelFormat = \"" << (recording.rawPixels() == RawPixelFormat::Mono ? "Mono" : "YUV422") << "\"";
        if (recording.format() == RecordingFormat::Video)
            g << videoPlayerProperties(recording);
        g << " }\n";
        // player0 takes the start from the unit, and only raw frames pass a
        // converter whose progress the player follows.
        std::vector<std::string> open;
        if (i == 0)
            open.push_back("StartTimeIn");
        if (!raw)
            open.push_back("Converted");
        if (!open.empty()) {
            g << "open_inputs = [";
            for (size_t k = 0; k < open.size(); ++k)
                g << (k ? ", " : "") << quoted(open[k]);
            g << "]\n";
        }
        std::string frames = "player" + n + ".Frames";
        if (raw) {
            const bool mono = recording.rawPixels() == RawPixelFormat::Mono;
            g << "\n[[component]]\nname = \"converter" << n << "\"\nmodel = \"VxQirImageConverter\"\n"
              << "properties = { Width = " << recording.width() << ", Height = " << recording.height()
              << ", BitPx_In = 16, InputFormat = \"" << (mono ? "Mono" : "YUV422") << "\", OutputFormat = \""
              << (mono ? "Mono16Bit" : "YUYV_in_24bitRGB") << "\" }\n";
            g << "\n[[connection]]\nfrom = \"" << frames << "\"\nto = \"converter" << n << ".frame_in\"\n";
            frames = "converter" + n + ".QIR_IPLImage";
            // The player keeps pace with the converter, which would lose
            // frames it has not read when the player ran ahead.
            g << "\n[[connection]]\nfrom = \"" << frames << "\"\nto = \"player" << n << ".Converted\"\n";
        }
        g << "\n[[component]]\nname = \"unit" << n << "\"\nmodel = \"VxQirUnitClient\"\n"
          << "properties = { QirControlIP = " << quoted(control.ip) << ", QirControlPort = " << control.port
          << ", SensorDataIP = " << quoted(data.ip) << ", SensorDataBasePort = " << data.port
          << ", ChannelNumber = " << channelOf(options, i) << ", LocalControlIP = \""
          << (control.ip.rfind("127.", 0) == 0 ? "127.0.0.1" : "0.0.0.0")
          << "\", LocalControlPort = 0"
          // A short wait for FIFO room: the unit client tries again at once,
          // and a stopping one notices its stop after at most this long.
          << ", StatusUpdatePeriod = 20000, TimeoutGet = 1000000, TimeoutStream = 250000"
          << ", StartStopTimeInputs = true" << choice.unitProperties;
        if (setsMaxPayload(recording, options.mtu))
            g << ", MaxPayLoadSize = " << recordingPlan(recording, options.mtu).maxPayloadSize;
        g << " }\n";
        const auto connect = [&](const std::string& from, const std::string& to) {
            g << "\n[[connection]]\nfrom = \"" << from << "\"\nto = \"" << to << "\"\n";
        };
        const std::string player = "player" + n;
        const std::string unit = "unit" + n;
        connect(frames, unit + ".SensorDataIn");
        connect(player + ".LoggingStartTime", unit + ".LoggingStartTime");
        connect(player + ".ReplayStartTime", unit + ".ReplayStartTime");
        connect(player + ".ReplayStopTime", unit + ".ReplayStopTime");
        // The unit's status: the player's measurements, its wait for the
        // last frame to play and (player0) the unit's clock for the start.
        connect(unit + ".oReplayStateInfo", player + ".UnitState");
        if (i > 0)
            connect("player0.ReplayStartTime", player + ".StartTimeIn");
    }
    return g.str();
}

} // namespace qir::replay
