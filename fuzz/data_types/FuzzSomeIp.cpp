// Fuzzes the SOME/IP message parser on raw UDP payloads.

#include "data_types/ContainerError.h"
#include "data_types/SOMEIPContainer.h"
#include "data_types/SOMEIPMessage.h"

#include <cstdint>
#include <cstdlib>

using namespace qir::data_types;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> input(data, size);
    try {
        size_t total = 0;
        const std::vector<SOMEIPMessage> messages = SOMEIPMessage::read_someip_messages(input, 12345);
        for (const SOMEIPMessage& message : messages) {
            // 16 header bytes at least per message, all within the input.
            total += 16 + message.payload.size();
            if (total > size || message.timestamp != 12345)
                std::abort();
        }
        for (const auto& container : SOMEIPContainer::from_someip_messages(messages)) {
            if (!container->is_valid() || container->to_record().size() != container->get_length())
                std::abort();
        }
    } catch (const ContainerError&) {
        // Refused input.
    }
    return 0;
}
