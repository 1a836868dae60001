#include "EmulatedUnit.h"

#include "Fnv1a64.h"

#include <arpa/inet.h>

#include <chrono>
#include <cmath>
#include <stdexcept>

namespace py = pybind11;

namespace qir::python {

namespace {

void requireLoopback(const std::string& ip, const char* what)
{
    in_addr address{};
    if (inet_pton(AF_INET, ip.c_str(), &address) != 1 || (ntohl(address.s_addr) >> 24) != 127)
        throw py::value_error(std::string(what) + ": \"" + ip +
                              "\" is not a loopback address (127.0.0.0/8); the emulated unit serves only loopback");
}

vxqir::sim::PlayoutKind playoutKind(const std::string& name)
{
    if (name == "timestamps")
        return vxqir::sim::PlayoutKind::Timestamps;
    if (name == "immediate")
        return vxqir::sim::PlayoutKind::Immediate;
    throw py::value_error("playout: \"" + name + "\" is not one of \"timestamps\", \"immediate\"");
}

} // namespace

EmulatedUnit::EmulatedUnit(unsigned channels, uint32_t fifoEntries, const std::string& playout,
                           const std::string& controlIp, const std::string& dataIp)
{
    requireLoopback(controlIp, "control_ip");
    requireLoopback(dataIp, "data_ip");
    vxqir::sim::EmulatorConfig config;
    config.controlIp = controlIp;
    config.dataIp = dataIp;
    config.channels = channels;
    config.channel.fifoEntries = fifoEntries;
    config.channel.playout.kind = playoutKind(playout);
    // The emulator's own check of each setting; std::invalid_argument
    // arrives in Python as ValueError.
    unit_ = std::make_unique<vxqir::sim::UnitEmulator>(std::move(config));
    py::gil_scoped_release release;
    unit_->start();
}

EmulatedUnit::~EmulatedUnit()
{
    py::gil_scoped_release release;
    unit_.reset();
}

void EmulatedUnit::stop()
{
    py::gil_scoped_release release;
    unit_->stop();
}

std::string EmulatedUnit::control() const
{
    return unit_->config().controlIp + ":" + std::to_string(unit_->controlPort());
}

std::string EmulatedUnit::data() const
{
    return unit_->config().dataIp + ":" + std::to_string(unit_->dataBasePort());
}

void EmulatedUnit::checkChannel(unsigned channel) const
{
    if (channel >= unit_->config().channels)
        throw py::value_error("channel " + std::to_string(channel) + " is not served; the unit has " +
                              std::to_string(unit_->config().channels) + " channel(s)");
}

bool EmulatedUnit::waitForFrames(unsigned channel, uint64_t count, double timeoutS) const
{
    checkChannel(channel);
    if (!(timeoutS >= 0.0) || !std::isfinite(timeoutS))
        throw py::value_error("timeout must be a finite number of seconds, 0 or more");
    const auto timeout = std::chrono::milliseconds(static_cast<int64_t>(std::ceil(timeoutS * 1000.0)));
    py::gil_scoped_release release;
    const bool ended = unit_->waitUntil(
        [&](const vxqir::sim::EmulatorSnapshot& s) {
            const auto& frames = s.channels[channel].frames;
            return frames.framesComplete + frames.framesIncomplete >= count;
        },
        timeout);
    unit_->drainChecksums();
    return ended;
}

py::list EmulatedUnit::summary() const
{
    vxqir::sim::EmulatorSnapshot snapshot;
    {
        py::gil_scoped_release release;
        unit_->drainChecksums();
        snapshot = unit_->snapshot();
    }
    py::object summaryClass = py::module_::import("qir._types").attr("ChannelSummary");
    py::list out;
    for (const vxqir::sim::ChannelSnapshot& c : snapshot.channels) {
        py::object checksum = py::none();
        if (c.lastChecksum)
            checksum = py::str(vxqir::Fnv1a64::toHex(*c.lastChecksum));
        out.append(summaryClass(py::arg("channel") = c.channel, py::arg("frames_complete") = c.frames.framesComplete,
                                py::arg("frames_incomplete") = c.frames.framesIncomplete,
                                py::arg("last_checksum") = checksum,
                                py::arg("last_checksum_frame") = c.lastChecksumFrameNumber,
                                py::arg("frames_played") = c.fifo.framesPlayed, py::arg("overflows") = c.fifo.overflows,
                                py::arg("datagrams") = c.datagrams, py::arg("bad_datagrams") = c.badDatagrams));
    }
    return out;
}

void EmulatedUnit::freezeFifo(std::optional<unsigned> channel)
{
    if (!channel) {
        unit_->freezeAllFifos();
        return;
    }
    checkChannel(*channel);
    unit_->freezeFifo(*channel);
}

void EmulatedUnit::releaseFifo(std::optional<unsigned> channel)
{
    if (!channel) {
        unit_->releaseAllFifos();
        return;
    }
    checkChannel(*channel);
    unit_->releaseFifo(*channel);
}

} // namespace qir::python
