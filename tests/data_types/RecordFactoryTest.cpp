// Reading records into containers, writing them back, and refusing records
// whose sizes do not hold together.

#include "TestBytes.h"

#include "data_types/DataContainer.h"

#include <gtest/gtest.h>

#include <typeindex>
#include <typeinfo>

namespace qir::data_types {
namespace {

using test::Bytes;
using test::cat;
using test::hex;
using test::le;
using test::raw_record;

struct TypeCase {
    const char* name;
    uint8_t type;
    size_t type_header_size;
    size_t overhead;
    uint64_t maximum_size;
    std::type_index container;
};

class EveryChannelType : public ::testing::TestWithParam<TypeCase> {
protected:
    // Distinct header and payload bytes, so that a shifted offset shows.
    Bytes record() const
    {
        Bytes type_header(GetParam().type_header_size);
        for (size_t i = 0; i < type_header.size(); ++i)
            type_header[i] = static_cast<uint8_t>(0x40 + i);
        return raw_record(1'700'000'000'123'456, GetParam().type, type_header, hex("a1 a2 a3 a4 a5"));
    }
};

TEST_P(EveryChannelType, RecordLengthIsHeadersPlusPayload)
{
    const Bytes bytes = record();
    EXPECT_EQ(bytes.size(), GetParam().overhead + 5);
    EXPECT_EQ(record_overhead(static_cast<ChannelType>(GetParam().type)), GetParam().overhead);
}

TEST_P(EveryChannelType, FactoryBuildsTheMatchingValidContainer)
{
    const Bytes bytes = record();
    const std::shared_ptr<BaseContainer> container = BaseContainer::read_data_from(bytes, false);
    ASSERT_NE(container, nullptr);
    const BaseContainer& c = *container;
    EXPECT_EQ(std::type_index(typeid(c)), GetParam().container);
    EXPECT_TRUE(container->is_valid());
    EXPECT_EQ(static_cast<uint8_t>(container->get_channel_type()), GetParam().type);
    EXPECT_EQ(container->get_length(), bytes.size());
    EXPECT_EQ(container->get_payload_length(), 5u);
    EXPECT_EQ(container->get_timestamp(), 1'700'000'000'123'456);
}

TEST_P(EveryChannelType, ContainerWithoutCopyPointsIntoTheRecord)
{
    const Bytes bytes = record();
    const auto container = BaseContainer::read_data_from(bytes, false);
    ASSERT_NE(container, nullptr);
    EXPECT_FALSE(container->is_copied());
    EXPECT_EQ(container->get_payload().data(), bytes.data() + GetParam().overhead);
}

TEST_P(EveryChannelType, ContainerWithCopyOwnsItsPayload)
{
    Bytes bytes = record();
    const auto container = BaseContainer::read_data_from(bytes, true);
    ASSERT_NE(container, nullptr);
    EXPECT_TRUE(container->is_copied());
    std::fill(bytes.begin(), bytes.end(), 0);
    EXPECT_EQ(Bytes(container->get_payload().begin(), container->get_payload().end()), hex("a1 a2 a3 a4 a5"));
}

TEST_P(EveryChannelType, CopyDataToReproducesTheRecord)
{
    const Bytes bytes = record();
    for (bool copy : { false, true }) {
        const auto container = BaseContainer::read_data_from(bytes, copy);
        ASSERT_NE(container, nullptr);
        Bytes out(bytes.size() + 3, 0xEE);
        const std::span<uint8_t> rest = container->copy_data_to(out);
        EXPECT_EQ(rest.size(), 3u);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<ptrdiff_t>(bytes.size())), bytes);
        EXPECT_EQ(out.back(), 0xEE) << "wrote past the record";
    }
}

TEST_P(EveryChannelType, ValueFactoryAgreesWithSharedFactory)
{
    const Bytes bytes = record();
    const std::optional<AnyContainer> container = make_container(bytes, false);
    ASSERT_TRUE(container.has_value());
    const BaseContainer& base = as_base(*container);
    EXPECT_EQ(std::type_index(typeid(base)), GetParam().container);
    EXPECT_EQ(base.to_record(), bytes);
}

TEST_P(EveryChannelType, MaximumSizeIsTheLargestRecordOfTheBus)
{
    EXPECT_EQ(BaseContainer::get_maximum_size(static_cast<ChannelType>(GetParam().type)), GetParam().maximum_size);
}

TEST_P(EveryChannelType, DestinationTooShortIsRefusedWithoutWriting)
{
    const Bytes bytes = record();
    const auto container = BaseContainer::read_data_from(bytes, false);
    ASSERT_NE(container, nullptr);
    Bytes out(bytes.size() - 1, 0xEE);
    EXPECT_THROW(container->copy_data_to(out), std::length_error);
    EXPECT_EQ(out, Bytes(bytes.size() - 1, 0xEE));
}

INSTANTIATE_TEST_SUITE_P(Records, EveryChannelType,
                         ::testing::Values(TypeCase{ "None", 0, 0, 17, 0, typeid(BaseContainer) },
                                           TypeCase{ "CAN", 1, 10, 27, 91, typeid(CANContainer) },
                                           TypeCase{ "FlexRay", 2, 15, 32, 286, typeid(FlexrayContainer) },
                                           TypeCase{ "Ethernet", 3, 18, 35, 9073, typeid(EthernetContainer) },
                                           TypeCase{ "Video", 4, 20, 37, 12522466, typeid(VideoContainer) },
                                           TypeCase{ "PLPRaw", 5, 10, 27, 8927, typeid(PLPRawContainer) },
                                           TypeCase{ "Lidar", 6, 6, 23, 33023, typeid(LidarContainer) },
                                           TypeCase{ "LIN", 7, 3, 20, 28, typeid(LINContainer) },
                                           TypeCase{ "SOMEIP", 8, 22, 39, 4294967334ull, typeid(SOMEIPContainer) }),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(MaximumSize, IsZeroForValuesThatNameNoType)
{
    EXPECT_EQ(BaseContainer::get_maximum_size(static_cast<ChannelType>(9)), 0u);
    EXPECT_EQ(BaseContainer::get_maximum_size(static_cast<ChannelType>(255)), 0u);
}

TEST(CanRecord, OfEightBytesIsThirtyFiveBytesAndReadsItsFields)
{
    // timestamp 1000, type 1, length 35, payload_length 8, id 0x123, ide 0,
    // dlc 8, edl 0, brs 0, crc 0xBEEF, payload 11..88
    const Bytes bytes = hex("e803000000000000 01 23000000 08000000"
                            "23010000 00 08 00 00 efbe"
                            "11 22 33 44 55 66 77 88");
    ASSERT_EQ(bytes.size(), 35u);
    const auto container = BaseContainer::read_data_from(bytes, false);
    ASSERT_NE(container, nullptr);
    const auto* can = dynamic_cast<const CANContainer*>(container.get());
    ASSERT_NE(can, nullptr);
    EXPECT_TRUE(can->is_valid());
    EXPECT_EQ(can->get_length(), 35u);
    EXPECT_EQ(can->get_type_header().id, 0x123u);
    EXPECT_EQ(can->get_type_header().dlc, 8);
    EXPECT_EQ(can->get_type_header().crc, 0xBEEF);
    EXPECT_EQ(can->get_timestamp(), 1000);
    EXPECT_EQ(can->to_record(), bytes);
}

TEST(TypedReader, ReadsItsOwnLayoutAndTellsAForeignTypeByValidity)
{
    // PLPRaw and CAN records have the same overhead (27 bytes).
    const Bytes plp = raw_record(5, 5, Bytes(10, 0x01), hex("aa bb"));
    const std::optional<CANContainer> as_can = CANContainer::read_data_from(plp, false);
    ASSERT_TRUE(as_can.has_value());
    EXPECT_FALSE(as_can->is_valid());
    const std::optional<PLPRawContainer> as_plp = PLPRawContainer::read_data_from(plp, false);
    ASSERT_TRUE(as_plp.has_value());
    EXPECT_TRUE(as_plp->is_valid());
    // A LIN record does not have a CAN record's layout at all.
    EXPECT_FALSE(CANContainer::read_data_from(raw_record(5, 7, Bytes(3, 0), hex("01")), false).has_value());
}

TEST(TypedReader, LidarReaderTakesItsHeaderAtSeventeenAndPayloadAtTwentyThree)
{
    const Bytes bytes = raw_record(7, 6, hex("01 02 e8030000"), hex("cafe"));
    const std::optional<LidarContainer> lidar = LidarContainer::read_data_from(bytes, false);
    ASSERT_TRUE(lidar.has_value());
    EXPECT_EQ(lidar->get_type_header().asynchronous, 1);
    EXPECT_EQ(lidar->get_type_header().compression, 2);
    EXPECT_EQ(lidar->get_type_header().length, 1000u);
    EXPECT_EQ(lidar->get_payload().data(), bytes.data() + 23);
}

// Refusals ------------------------------------------------------------------------

struct RefusalCase {
    const char* name;
    Bytes bytes;
    RecordFault fault;
};

class RefusedRecord : public ::testing::TestWithParam<RefusalCase> { };

TEST_P(RefusedRecord, GivesNoContainerAndNamesTheFault)
{
    const Bytes& bytes = GetParam().bytes;
    EXPECT_EQ(BaseContainer::read_data_from(bytes, false), nullptr);
    EXPECT_EQ(BaseContainer::read_data_from(bytes, true), nullptr);
    EXPECT_FALSE(make_container(bytes, false).has_value());
    const RecordCheck check = check_record(bytes);
    EXPECT_EQ(check.fault, GetParam().fault);
    EXPECT_FALSE(check.describe().empty());
}

const Bytes kCan8 = raw_record(1, 1, Bytes(10, 0), Bytes(8, 0x55));

Bytes prefix(const Bytes& bytes, size_t size)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size));
}

INSTANTIATE_TEST_SUITE_P(
    Records, RefusedRecord,
    ::testing::Values(RefusalCase{ "Empty", {}, RecordFault::TruncatedBaseHeader },
                      RefusalCase{ "ShorterThanBaseHeader", prefix(kCan8, 16), RecordFault::TruncatedBaseHeader },
                      RefusalCase{ "ShorterThanTypeHeader", prefix(kCan8, 20), RecordFault::LengthBeyondData },
                      RefusalCase{ "ShorterThanItsLength", prefix(kCan8, 34), RecordFault::LengthBeyondData },
                      RefusalCase{ "LengthLongerThanHeadersAndPayload",
                                   raw_record(1, 1, Bytes(10, 0), Bytes(9, 0), 36, 8), RecordFault::LengthDisagrees },
                      RefusalCase{ "PayloadLengthLongerThanLengthAllows",
                                   raw_record(1, 1, Bytes(10, 0), Bytes(8, 0), 35, 100), RecordFault::LengthDisagrees },
                      RefusalCase{ "LengthBelowTheHeaders", raw_record(1, 1, Bytes(10, 0), {}, 20, 0),
                                   RecordFault::LengthBelowHeaders },
                      // 27 + 0xFFFFFFFF wraps to 26 in 32 bits; the check must not wrap.
                      RefusalCase{ "PayloadLengthThatWrapsTheSum", raw_record(1, 1, Bytes(10, 0), {}, 26, 0xFFFFFFFF),
                                   RecordFault::LengthBelowHeaders },
                      RefusalCase{ "HugePayloadLengthOnAShortBuffer",
                                   raw_record(1, 3, Bytes(18, 0), {}, 0xFFFFFFFF, 0xFFFFFFDC),
                                   RecordFault::LengthBeyondData },
                      RefusalCase{ "UnknownType", raw_record(1, 9, {}, Bytes(4, 0)), RecordFault::UnknownType }),
    [](const auto& test_info) { return std::string(test_info.param.name); });

// Containers made by hand ------------------------------------------------------------

TEST(ContainerConstruction, ComputesLengthFromPayloadLengthAndItsHeaders)
{
    BaseHeader base{};
    base.type = ChannelType::FlexRay;
    base.length = 12345; // ignored
    base.payload_length = 4;
    const Bytes payload = hex("01020304");
    const FlexrayContainer flexray(base, FlexrayHeader{}, payload, false);
    EXPECT_EQ(flexray.get_length(), 36u);
    const BaseContainer plain(BaseHeader{ 0, ChannelType::NoneType, 0, 4 }, payload, false);
    EXPECT_EQ(plain.get_length(), 21u);
}

TEST(ContainerConstruction, RefusesAPayloadOfAnotherSizeThanPayloadLength)
{
    BaseHeader base{};
    base.type = ChannelType::CAN;
    base.payload_length = 8;
    const Bytes payload(7, 0);
    EXPECT_THROW(CANContainer(base, CANHeader{}, payload, false), std::invalid_argument);
}

TEST(ContainerCopies, CopyOfACopyingContainerOwnsItsOwnPayload)
{
    const Bytes bytes = kCan8;
    std::optional<CANContainer> original = CANContainer::read_data_from(bytes, true);
    ASSERT_TRUE(original.has_value());
    const CANContainer copy = *original;
    EXPECT_TRUE(copy.is_copied());
    EXPECT_NE(copy.get_payload().data(), original->get_payload().data());
    original.reset();
    EXPECT_EQ(copy.to_record(), bytes);
}

TEST(ContainerCopies, MovedAndAssignedContainersKeepAValidPayload)
{
    const Bytes bytes = kCan8;
    CANContainer source = *CANContainer::read_data_from(bytes, true);
    const CANContainer moved = std::move(source);
    EXPECT_EQ(moved.to_record(), bytes);

    CANContainer assigned = *CANContainer::read_data_from(raw_record(2, 1, Bytes(10, 1), {}), true);
    {
        const CANContainer temporary = *CANContainer::read_data_from(bytes, true);
        assigned = temporary;
    }
    EXPECT_EQ(assigned.to_record(), bytes);
}

TEST(ContainerCopies, CopyOfABorrowingContainerBorrowsTheSameMemory)
{
    const Bytes bytes = kCan8;
    const CANContainer original = *CANContainer::read_data_from(bytes, false);
    const CANContainer copy = original;
    EXPECT_FALSE(copy.is_copied());
    EXPECT_EQ(copy.get_payload().data(), bytes.data() + 27);
}

TEST(ContainerCopies, MovedFromCopyingContainerIsAnEmptyConsistentRecord)
{
    // VLAN-tagged frame, so that the moved-from frame must also forget its tags.
    const Bytes bytes = raw_record(3, 3, cat({ Bytes(12, 0), hex("0081 00000000") }), hex("0064 0800 45"));
    EthernetContainer source = *EthernetContainer::read_data_from(bytes, true);
    const EthernetContainer moved = std::move(source);
    EXPECT_EQ(moved.to_record(), bytes);
    EXPECT_EQ(moved.get_ethertype(true), 0x0800);
    EXPECT_EQ(source.get_payload_length(), 0u);
    EXPECT_EQ(source.to_record().size(), source.get_length());
    EXPECT_EQ(source.get_length(), 35u);
    EXPECT_THROW(source.get_ethertype(true), ContainerError);
}

TEST(ContainerCopies, MovedFromBorrowingContainerStillBorrows)
{
    const Bytes bytes = kCan8;
    CANContainer source = *CANContainer::read_data_from(bytes, false);
    const CANContainer moved = std::move(source);
    EXPECT_EQ(source.to_record(), bytes);
    EXPECT_EQ(moved.to_record(), bytes);
}

// Scanning a file of records --------------------------------------------------------------

TEST(RecordScanner, HandsOutEveryWholeRecordThenReportsTheTruncatedOneWithItsOffset)
{
    const Bytes first = raw_record(1, 1, Bytes(10, 0), Bytes(8, 1));
    const Bytes second = raw_record(2, 7, Bytes(3, 0), Bytes(2, 2));
    const Bytes third = raw_record(3, 1, Bytes(10, 0), Bytes(8, 3));
    Bytes file = cat({ first, second, third });
    file.erase(file.end() - 5, file.end());

    RecordScanner scanner(file);
    std::vector<uint64_t> offsets;
    while (const auto record = scanner.next())
        offsets.push_back(record->offset);
    EXPECT_EQ(offsets, (std::vector<uint64_t>{ 0, first.size() }));
    ASSERT_TRUE(scanner.fault().has_value());
    EXPECT_EQ(scanner.fault()->offset, first.size() + second.size());
    EXPECT_EQ(scanner.fault()->check.fault, RecordFault::LengthBeyondData);
    EXPECT_FALSE(scanner.next().has_value());
}

TEST(RecordScanner, SkipsAnUnknownTypeByItsLengthAndGoesOn)
{
    const Bytes unknown = raw_record(1, 42, {}, Bytes(6, 0));
    const Bytes can = raw_record(2, 1, Bytes(10, 0), Bytes(1, 0));
    const Bytes file = cat({ unknown, can });
    RecordScanner scanner(file);
    const auto a = scanner.next();
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->fault, RecordFault::UnknownType);
    const auto b = scanner.next();
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->fault, RecordFault::None);
    EXPECT_EQ(b->offset, unknown.size());
    EXPECT_FALSE(scanner.next().has_value());
    EXPECT_FALSE(scanner.fault().has_value());
}

TEST(RecordScanner, StopsAtAnUnknownTypeWhoseLengthCannotBeTrusted)
{
    const Bytes file = raw_record(1, 42, {}, Bytes(6, 0), 5, 6);
    RecordScanner scanner(file);
    EXPECT_FALSE(scanner.next().has_value());
    ASSERT_TRUE(scanner.fault().has_value());
    EXPECT_EQ(scanner.fault()->check.fault, RecordFault::UnknownType);
}

} // namespace
} // namespace qir::data_types
