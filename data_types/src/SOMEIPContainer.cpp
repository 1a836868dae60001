#include "data_types/SOMEIPContainer.h"

#include <stdexcept>
#include <string>

namespace qir::data_types {

std::shared_ptr<SOMEIPContainer> SOMEIPContainer::from_someip_message(const SOMEIPMessage& message)
{
    BaseHeader base{};
    base.timestamp = message.timestamp;
    base.type = ChannelType::SOMEIP;
    base.payload_length = static_cast<uint32_t>(message.payload.size());
    if (base.payload_length != message.payload.size())
        throw std::invalid_argument("SOME/IP payload of " + std::to_string(message.payload.size()) +
                                    " bytes does not fit a record");
    return std::make_shared<SOMEIPContainer>(base, message.header, message.payload, true);
}

std::vector<std::shared_ptr<SOMEIPContainer>>
SOMEIPContainer::from_someip_messages(const std::vector<SOMEIPMessage>& messages)
{
    std::vector<std::shared_ptr<SOMEIPContainer>> containers;
    containers.reserve(messages.size());
    for (const SOMEIPMessage& message : messages)
        containers.push_back(from_someip_message(message));
    return containers;
}

} // namespace qir::data_types
