#include "Unit.h"

#include "Channel.h"
#include "QirErrors.h"

#include <pybind11/pybind11.h>

#include <algorithm>
#include <charconv>
#include <utility>

namespace py = pybind11;

namespace qir::python {

namespace {

struct Address {
    std::string ip;
    uint16_t port;
};

// "IP" or "IP:PORT"; `what` names the argument in messages.
Address parseAddress(const std::string& text, uint16_t defaultPort, const char* what)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return { text, defaultPort };
    const std::string portText = text.substr(colon + 1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (portText.empty() || error != std::errc{} || end != portText.data() + portText.size() || value == 0 ||
        value > UINT16_MAX)
        throw py::value_error(std::string(what) + ": \"" + text + "\" needs a port of 1 to 65535 after the colon");
    return { text.substr(0, colon), static_cast<uint16_t>(value) };
}

} // namespace

Unit::Unit(const std::string& control, const std::string& data, uint16_t maxPayload, uint32_t timeoutGetMs,
           uint32_t timeoutStreamMs)
    : maxPayload_(maxPayload)
    , timeoutGetMs_(timeoutGetMs)
    , timeoutStreamMs_(timeoutStreamMs)
{
    Address c = parseAddress(control, kDefaultControlPort, "control");
    Address d = parseAddress(data, kDefaultDataBasePort, "data");
    controlIp_ = std::move(c.ip);
    controlPort_ = c.port;
    dataIp_ = std::move(d.ip);
    dataBasePort_ = d.port;
}

VXTQirInputInterfaceT Unit::interface() const
{
    const auto slice = static_cast<uint32_t>(kSendSlice.count());
    return VXTQirInputInterfaceT{
        .controlIP = controlIp_.c_str(),
        .controlPort = controlPort_,
        .dataIP = dataIp_.c_str(),
        .dataBasePort = dataBasePort_,
        .localIP = nullptr,
        .localPort = 0,
        .maxPayloadSize = maxPayload_,
        .timeoutGet_ms = timeoutGetMs_,
        .timeoutStream_ms = std::min(timeoutStreamMs_, slice),
    };
}

bool Unit::available() const
{
    const VXTQirInputInterfaceT config = interface();
    VXTQirError result;
    {
        py::gil_scoped_release release;
        result = VXQIR_IsInputInterfaceAvailable(&config);
    }
    throwIfInterrupted();
    if (result == ControlInterfaceNotAvailable || result == DataInterfaceNotAvailable)
        return false;
    check(result);
    return true;
}

std::unique_ptr<Channel> Unit::channel(int32_t index) const
{
    const VXTQirInputInterfaceT config = interface();
    VXTQirChannelHandle handle = 0;
    VXTQirError result;
    {
        py::gil_scoped_release release;
        result = VXQIR_RegisterOutputChannel(&config, index, &handle);
    }
    check(result);
    return std::make_unique<Channel>(handle, index, std::chrono::milliseconds(timeoutStreamMs_));
}

} // namespace qir::python
