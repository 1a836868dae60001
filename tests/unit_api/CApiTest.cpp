// The exported functions, end to end through the process-wide core.
#include "ScriptedUnit.h"
#include "VXQIRApi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vxqir::test {
namespace {

TEST(CApi, RegistrationRefusesNullArgumentsWithoutWritingTheHandle)
{
    EXPECT_EQ(VXQIR_RegisterOutputChannel(nullptr, 0, nullptr), InvalidPointer);
    VXTQirInputInterfaceT config{};
    config.controlIP = "127.0.0.2";
    config.dataIP = "127.0.0.3";
    config.maxPayloadSize = 1448;
    EXPECT_EQ(VXQIR_RegisterOutputChannel(&config, 0, nullptr), InvalidPointer);
    VXTQirChannelHandle handle = -5;
    config.dataIP = nullptr;
    EXPECT_EQ(VXQIR_RegisterOutputChannel(&config, 0, &handle), InvalidInterfaceConfig);
    EXPECT_EQ(handle, -5);
}

TEST(CApi, DrivesAUnitFromRegistrationToRelease)
{
    ScriptedUnit unit;
    unit.startPeriodicStatus(0, 100);
    const VXTQirInputInterfaceT config = unit.config();
    VXTQirChannelHandle handle = -1;
    ASSERT_EQ(VXQIR_RegisterOutputChannel(&config, 0, &handle), NoError);
    ASSERT_EQ(VXQIR_InitOutputChannel(handle, 4, 2), NoError);
    ASSERT_EQ(VXQIR_SetReplayStartTime(handle, 1000, 500, 2000), NoError);

    uint64_t start = 0, offset = 0, stop = 0;
    ASSERT_EQ(VXQIR_GetReplayStartTime(handle, &start, &offset, &stop), NoError);
    EXPECT_EQ(start, 1000u);
    EXPECT_EQ(offset, 500u);
    EXPECT_EQ(stop, 2000u);
    uint16_t width = 0, height = 0;
    ASSERT_EQ(VXQIR_GetFrameSize(handle, &width, &height), NoError);
    EXPECT_EQ(width, 4);
    EXPECT_EQ(height, 2);

    const uint8_t line[4] = { 1, 2, 3, 4 };
    for (uint16_t l = 0; l < 2; ++l) {
        VXTQirPacketPropertiesT packet{};
        packet.lineNumber = l;
        ASSERT_EQ(VXQIR_ReplayStreamData(handle, &packet, line, sizeof(line)), NoError);
    }
    EXPECT_EQ(unit.waitForData(2).size(), 2u);
    VXTQirStatusT status{};
    EXPECT_EQ(VXQIR_GetCurrentState(handle, &status), NoError);
    EXPECT_TRUE(status.enabled);
    EXPECT_EQ(VXQIR_ClearStatusFlags(handle), NoError);
    EXPECT_EQ(VXQIR_IsOutputChannelAvailable(handle), NoError);
    EXPECT_EQ(VXQIR_UnregisterOutputChannel(handle), NoError);
    EXPECT_EQ(VXQIR_GetCurrentState(handle, &status), InvalidChannelHandle);
}

TEST(CApi, ChecksReachabilityWithTheSystemPing)
{
    VXTQirInputInterfaceT config{};
    config.controlIP = "127.0.0.2";
    config.dataIP = "127.0.0.3";
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(VXQIR_IsInputInterfaceAvailable(&config), NoError);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("[Debug] IP 127.0.0.2 can be pinged -> SUCCESS"), std::string::npos) << printed;
}

} // namespace
} // namespace vxqir::test
