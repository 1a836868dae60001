// Module.cpp - the extension module qir._qir: the unit client library and the
// emulated unit for Python. The package qir (python/qir/) re-exports it.

#include "Channel.h"
#include "EmulatedUnit.h"
#include "QirErrors.h"
#include "Replay.h"
#include "Unit.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace py = pybind11;
using namespace py::literals;

namespace qir::python {
namespace {

void bindUnit(py::module_& m)
{
    py::class_<Unit>(m, "Unit", R"(A QIR unit: its control and data addresses and the library's timeouts.

control, data: "IP" or "IP:PORT" (default ports 65024 and 61440, the unit's own; the data
port is that of channel 0, channel n uses BASE_PORT + n). max_payload: the
largest sensor-data payload per datagram (8948 for a 9000-byte MTU, 1448
for 1500). timeout_get_ms: how long a control request waits for its reply.
timeout_stream_ms: how long a send waits for free replay buffer at the
unit before it raises QirError(Timeout).)")
        .def(py::init<const std::string&, const std::string&, uint16_t, uint32_t, uint32_t>(), "control"_a, "data"_a,
             "max_payload"_a = 8948, "timeout_get_ms"_a = 1000, "timeout_stream_ms"_a = 2000)
        .def("available", &Unit::available,
             "Pings both addresses; True when both answer. Blocks up to about a second per address.")
        .def("channel", &Unit::channel, "index"_a,
             "Registers channel `index` (0..255) of this unit and returns it as a qir.Channel.")
        .def_property_readonly("control",
                               [](const Unit& u) { return u.controlIp() + ":" + std::to_string(u.controlPort()); })
        .def_property_readonly("data",
                               [](const Unit& u) { return u.dataIp() + ":" + std::to_string(u.dataBasePort()); })
        .def_property_readonly("max_payload", &Unit::maxPayload)
        .def_property_readonly("timeout_get_ms", &Unit::timeoutGetMs)
        .def_property_readonly("timeout_stream_ms", &Unit::timeoutStreamMs)
        .def("__repr__", [](const Unit& u) {
            return "qir.Unit(control=\"" + u.controlIp() + ":" + std::to_string(u.controlPort()) + "\", data=\"" +
                u.dataIp() + ":" + std::to_string(u.dataBasePort()) + "\")";
        });
}

void bindChannel(py::module_& m)
{
    py::class_<Channel>(m, "Channel", R"(A registered output channel of a unit (from Unit.channel).

A context manager: leaving the `with` block unregisters the channel (the
unit is told to stop replay and status messages). Every failure of the
library raises qir.QirError; every call that waits for the unit releases
the GIL, and Ctrl-C interrupts a waiting send with KeyboardInterrupt.)")
        .def(
            "__enter__", [](Channel& c) -> Channel& { return c; }, py::return_value_policy::reference)
        .def("__exit__", [](Channel& c, const py::args&) { c.close(); })
        .def("close", &Channel::close, "Unregisters the channel; later calls raise QirError(InvalidChannelHandle).")
        .def_property_readonly("closed", &Channel::closed)
        .def_property_readonly("index", &Channel::index)
        .def("init", &Channel::init, "width"_a, "height"_a,
             "Sets the frame size, enables replay and status messages and reads the unit's replay buffer size.")
        .def("send_line", &Channel::sendLine, "data"_a, "frame"_a, "line"_a, "timestamp"_a = 0, "stream"_a = 0,
             R"(Sends one block (one image line) under the unit's flow control.

data: any C-contiguous buffer of at most 65535 bytes. frame: 0..65535,
line: 0..65535 (the line height - 1 ends the frame), timestamp: ns,
stream: 0..255.)")
        .def("send_frame", &Channel::sendFrame, "data"_a, "frame"_a, "timestamp"_a = 0,
             R"(Sends a whole frame: `data` is a C-contiguous buffer of `height` equal lines
(height from init()); a numpy array's first dimension must be the height.
Its bytes are sent without copying, all lines in one batched call. A
non-contiguous or wrongly shaped buffer raises ValueError before anything
is sent.)")
        .def("set_replay_times", &Channel::setReplayTimes, "start"_a = py::none(), "stop"_a = py::none(),
             "offset"_a = py::none(),
             R"(Sets the replay times in microseconds of unit time. With `start`, one
request sequence sends the start, then the offset and the stop when given
and not 0 (QirError(InvalidTiming) for a stop before the start); without
it, the offset and the stop are set on their own.)")
        .def("reset", &Channel::reset, "Resets the channel's replay at the unit.")
        .def("clear_status_flags", &Channel::clearStatusFlags, "Clears the unit's loss flag of the channel.")
        .def_property_readonly("status", &Channel::status,
                               "The latest periodic status as a qir.Status; QirError(DataNotAvailable) before the "
                               "first.")
        .def("progress", &Channel::progress, "What was sent and what the unit acknowledged, as a qir.Progress.")
        .def_property_readonly("frame_size", &Channel::frameSize, "(width, height) as the unit reports them.");
}

void bindEmulatedUnit(py::module_& m)
{
    py::class_<EmulatedUnit>(m, "EmulatedUnit", R"(An emulated QIR unit on loopback, served by threads of this process.

Serves channels 0..channels-1 from construction until stop() (or the end
of a `with` block) and verifies every datagram and frame it receives.
`control` and `data` are the addresses for qir.Unit. playout: "timestamps"
(each block plays at its timestamp's time, counted from the first block)
or "immediate".)")
        .def(py::init<unsigned, uint32_t, const std::string&, const std::string&, const std::string&>(),
             "channels"_a = 1, "fifo_entries"_a = 2048, "playout"_a = "timestamps", "control_ip"_a = "127.0.0.2",
             "data_ip"_a = "127.0.0.3")
        .def(
            "__enter__", [](EmulatedUnit& u) -> EmulatedUnit& { return u; }, py::return_value_policy::reference)
        .def("__exit__", [](EmulatedUnit& u, const py::args&) { u.stop(); })
        .def("stop", &EmulatedUnit::stop, "Stops serving; summary() stays readable.")
        .def_property_readonly("control", &EmulatedUnit::control, "\"IP:PORT\" of the control socket.")
        .def_property_readonly("data", &EmulatedUnit::data, "\"IP:BASE_PORT\" of the data sockets.")
        .def(
            "wait_for_frames",
            [](const EmulatedUnit& u, uint64_t count, unsigned channel, double timeout) {
                return u.waitForFrames(channel, count, timeout);
            },
            "count"_a, "channel"_a = 0, "timeout"_a = 10.0,
            R"(Waits until `count` frames of `channel` have ended (complete or not) and
have their checksums; False when `timeout` seconds passed first.)")
        .def("summary", &EmulatedUnit::summary, "A list of qir.ChannelSummary, one per channel.")
        .def("freeze_fifo", &EmulatedUnit::freezeFifo, "channel"_a = py::none(),
             "Holds the replay FIFO of `channel` (of all channels without one): nothing plays, senders wait.")
        .def("release_fifo", &EmulatedUnit::releaseFifo, "channel"_a = py::none(),
             "Lets a held replay FIFO play again.");
}

} // namespace

PYBIND11_MODULE(_qir, m)
{
    m.doc() = "The QIR unit client library and an emulated unit; use it through the package qir.";
    m.attr("__version__") = QIR_VERSION;
    bindUnit(m);
    bindChannel(m);
    bindEmulatedUnit(m);
    bindReplay(m);
    m.def(
        "_raise_for_code", [](int32_t code) { raiseQirError(static_cast<VXTQirError>(code)); }, "code"_a,
        "Raises the QirError that a call returning `code` raises (for tests).");
}

} // namespace qir::python
