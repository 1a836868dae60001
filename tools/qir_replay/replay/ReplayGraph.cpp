#include "ReplayGraph.h"

#include "PlayerChoice.h"

#include <arpa/inet.h>

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
                            const Endpoint& control, const Endpoint& data, bool packagesInProcess)
{
    std::ostringstream g;
    g << "# Written by qir-replay: replays ";
    for (size_t i = 0; i < recordings.size(); ++i)
        g << (i ? ", " : "") << recordings[i]->path() << " on channel " << i;
    g << ".\n";
    if (!packagesInProcess)
        g << "packages = [\"qir_players.pck\", \"tavrik_qir_varnel.pck\"]\n";
    g << "[engine]\n\"Engine.shutdownTimeout\" = 4000000\n";
    g << "[run]\nuntil = \"sources-end\"\n";
    // The cap: every frame at its time plus generous room for a slow machine.
    double seconds = 0.0;
    for (const Recording* recording : recordings) {
        const auto& frames = recording->frames();
        const double fps = options.fps > 0 ? options.fps : !recording->carriesTimes() ? kDefaultRawFps : 0.0;
        size_t perPass = frames.size();
        if (options.frames > 0 && static_cast<size_t>(options.frames) < perPass)
            perPass = static_cast<size_t>(options.frames);
        double pass = fps > 0 ? static_cast<double>(perPass) / fps
                              : static_cast<double>(frames[perPass - 1].timeUs - frames.front().timeUs) / 1e6;
        seconds = std::max(seconds, pass * static_cast<double>(options.loops) / options.rate);
    }
    g << "duration = \"" << static_cast<int64_t>(std::ceil(seconds * 2 + 60)) << "s\"\n";

    for (size_t i = 0; i < recordings.size(); ++i) {
        const Recording& recording = *recordings[i];
        const std::string n = std::to_string(i);
        const bool raw = recording.format() == RecordingFormat::Raw;
        const double fps = options.fps > 0 ? options.fps : !recording.carriesTimes() ? kDefaultRawFps : 0.0;
        const PlayerChoice player = playerChoice(recording);
        g << "\n[[component]]\nname = \"player" << n << "\"\n"
          << "model = \"" << player.model << "\"\n"
          << "properties = { File = "
          << quoted(packagesInProcess ? recording.path() : std::filesystem::absolute(recording.path()).string())
          << ", Fps = " << number(fps) << ", Rate = " << number(options.rate) << ", Frames = " << options.frames
          << ", Loop = " << options.loops << ", StartDelayUs = " << options.startDelayUs;
        if (options.keepGoing)
            g << ", KeepGoing = true";
        if (raw)
            g << ", PixelFormat = \"" << (recording.rawPixels() == RawPixelFormat::Mono ? "Mono" : "YUV422") << "\"";
        g << " }\n";
        std::string frames = "player" + n + ".Frames";
        if (raw) {
            const bool mono = recording.rawPixels() == RawPixelFormat::Mono;
            g << "\n[[component]]\nname = \"converter" << n << "\"\nmodel = \"VxQirImageConverter\"\n"
              << "properties = { Width = " << recording.width() << ", Height = " << recording.height()
              << ", BitPx_In = 16, InputFormat = \"" << (mono ? "Mono" : "YUV422") << "\", OutputFormat = \""
              << (mono ? "Mono16Bit" : "YUYV_in_24bitRGB") << "\" }\n";
            g << "\n[[connection]]\nfrom = \"" << frames << "\"\nto = \"converter" << n << ".frame_in\"\n";
            frames = "converter" + n + ".QIR_IPLImage";
        }
        g << "\n[[component]]\nname = \"unit" << n << "\"\nmodel = \"VxQirUnitClient\"\n"
          << "properties = { QirControlIP = " << quoted(control.ip) << ", QirControlPort = " << control.port
          << ", SensorDataIP = " << quoted(data.ip) << ", SensorDataBasePort = " << data.port
          << ", ChannelNumber = " << i << ", LocalControlIP = \""
          << (control.ip.rfind("127.", 0) == 0 ? "127.0.0.1" : "0.0.0.0") << "\", LocalControlPort = 0"
          << ", StatusUpdatePeriod = 20000, TimeoutGet = 1000000, TimeoutStream = 1000000" << player.unitProperties
          << " }\n";
        g << "\n[[connection]]\nfrom = \"" << frames << "\"\nto = \"unit" << n << ".SensorDataIn\"\n";
        g << "\n[[connection]]\nfrom = \"player" << n << ".LoggingStartTime\"\nto = \"unit" << n
          << ".LoggingStartTime\"\n";
    }
    return g.str();
}

} // namespace qir::replay
