// The device base and the input device, apart from a running recording.
#include "audio/WaveIn.h"

#include <gtest/gtest.h>

namespace {
// Opens up the buffer bookkeeping of the device for inspection.
class TInspectableWaveIn : public TWaveAudioIn {
public:
    using TWaveAudioIn::AllocatedBufferCount;
    using TWaveAudioIn::ReallocateBuffer;
};
} // namespace

TEST(WaveDevice, NewDeviceHasTheDefaults) {
    TWaveAudioIn device;
    EXPECT_EQ(device.GetDeviceID(), 0xFFFFFFFFu);
    EXPECT_EQ(device.GetBufferLength(), 1000);
    EXPECT_EQ(device.GetBufferCount(), 2);
    EXPECT_FALSE(device.GetAsync());
    EXPECT_FALSE(device.GetActive());
    EXPECT_FALSE(device.GetPaused());
    EXPECT_EQ(device.GetPCMFormat(), Mono16bit8000Hz);
    EXPECT_EQ(device.GetPosition(), 0u);
    device.SetActive(false); // already closed: nothing happens
}

TEST(WaveDevice, BufferLengthHasAFloorAndCountTakesZero) {
    TWaveAudioIn device;
    for (auto [set, read] : {std::pair<WORD, WORD>{0, 10}, {9, 10}, {10, 10}, {250, 250}}) {
        device.SetBufferLength(set);
        EXPECT_EQ(device.GetBufferLength(), read);
    }
    device.SetBufferCount(0);
    EXPECT_EQ(device.GetBufferCount(), 0);
}

TEST(WaveDevice, PlatformTimeToMilliseconds) {
    WAVEFORMATEX format{};
    PCMFormatToWaveFormat(format, Mono16bit8000Hz);
    MMTIME time{};
    time.wType = TIME_SMPTE;
    time.u.smpte.hour = 1;
    time.u.smpte.min = 2;
    time.u.smpte.sec = 3;
    time.u.smpte.frame = 10;
    EXPECT_EQ(TWaveAudioIO::MMTimeToMS(time, format), 3723000u);
    time = MMTIME{TIME_SAMPLES, {8000}};
    EXPECT_EQ(TWaveAudioIO::MMTimeToMS(time, format), 1000u);
    time = MMTIME{TIME_BYTES, {8000}};
    EXPECT_EQ(TWaveAudioIO::MMTimeToMS(time, format), 500u);
    time = MMTIME{TIME_MS, {1234}};
    EXPECT_EQ(TWaveAudioIO::MMTimeToMS(time, format), 1234u);
    WAVEFORMATEX zero{};
    time = MMTIME{TIME_BYTES, {8000}};
    EXPECT_EQ(TWaveAudioIO::MMTimeToMS(time, zero), 0u);
    time = MMTIME{0x40, {1}};
    EXPECT_EQ(TWaveAudioIO::MMTimeToMS(time, format), 0u);
}

TEST(WaveDevice, CapabilityBitsBecomeFormats) {
    const TPCMFormats only44 = TWaveAudioIn::FormatsOfCapabilities(WAVE_FORMAT_4S16);
    TPCMFormats expected;
    for (TPCMFormat format :
         {Mono8Bit8000Hz, Stereo8bit8000Hz, Mono16bit8000Hz, Stereo16bit8000Hz, Stereo16bit44100Hz})
        expected.set(format);
    EXPECT_EQ(only44, expected);
    const TPCMFormats all = TWaveAudioIn::FormatsOfCapabilities(0xFFFFFFFF);
    EXPECT_EQ(all.count(), 16u); // never nonePCM or the 48000 Hz formats
    EXPECT_FALSE(all.test(nonePCM));
    EXPECT_FALSE(all.test(Stereo16bit48000Hz));
}

TEST(WaveDevice, ReallocateBufferOwnsOnlyItsOwnBlocks) {
    TInspectableWaveIn device;
    WAVEHDR* header = nullptr;
    ASSERT_TRUE(device.ReallocateBuffer(header, 100));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(device.AllocatedBufferCount(), 1);
    EXPECT_EQ(header->dwBufferLength, 100u);
    EXPECT_EQ(header->dwUser, reinterpret_cast<std::uintptr_t>(static_cast<TWaveAudioIO*>(&device)));
    header->dwFlags = WHDR_PREPARED;
    ASSERT_TRUE(device.ReallocateBuffer(header, 200)); // grown, and zeroed again
    EXPECT_EQ(header->dwBufferLength, 200u);
    EXPECT_EQ(header->dwFlags, 0u);

    // A block someone else keeps: the device forgets it and never frees it.
    char* kept = header->lpData;
    header->dwUser = 0;
    ASSERT_TRUE(device.ReallocateBuffer(header, 200));
    EXPECT_NE(header->lpData, kept);
    std::free(kept); // still ours to free: ASan reports a double free otherwise

    static char callerBlock[64];
    ASSERT_TRUE(device.ReallocateBuffer(header, sizeof callerBlock, callerBlock));
    EXPECT_EQ(header->lpData, callerBlock);
    EXPECT_EQ(header->dwUser, 0u);
    ASSERT_TRUE(device.ReallocateBuffer(header, 0)); // does not free the caller's block
    EXPECT_EQ(header, nullptr);
    EXPECT_EQ(device.AllocatedBufferCount(), 0);
}

TEST(WaveDevice, FormatCannotChangeWhileOpenButClosedIsFine) {
    TWaveAudioIn device;
    device.SetPCMFormat(Stereo16bit44100Hz);
    EXPECT_EQ(device.GetPCMFormat(), Stereo16bit44100Hz);
    device.SetAsync(true);
    EXPECT_TRUE(device.GetAsync());
}
