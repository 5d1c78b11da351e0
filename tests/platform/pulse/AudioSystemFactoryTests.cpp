#include "PulseTestServer.h"

#include "platform/linux/pulse/AudioSystemFactory.h"
#include "platform/linux/pulse/PulseAudioSystem.h"
#include "platform/sim/SimAudioSystem.h"
#include "support/ScopedEnvironment.h"

namespace parlaro::sys {
namespace {

TEST(AudioSystemFactory, TheEnvironmentChoosesTheSimOrTheSoundServer)
{
    PARLARO_REQUIRE_TEST_SERVER();
    {
        test::ScopedEnvironment audio("PARLARO_AUDIO", "sim");
        EXPECT_NE(dynamic_cast<sim::SimAudioSystem*>(makeAudioSystem().get()), nullptr);
    }
    test::ScopedEnvironment audio("PARLARO_AUDIO", std::nullopt);
    auto real = makeAudioSystem();
    auto* pulse = dynamic_cast<PulseAudioSystem*>(real.get());
    ASSERT_NE(pulse, nullptr);
    EXPECT_TRUE(pulse->isConnected());
}

}  // namespace
}  // namespace parlaro::sys
