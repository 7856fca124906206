// Gathering arrived bytes into frames: the idle gap, the frame start, one
// frame per Tick, the surplus, the serial limit, and the TCP arrival step.
#include <atomic>
#include <thread>

#include "link_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kFrame = {0x02, 0x00, 0x08, 0x2B, 0x00, 0xAA, 0x8B, 0x03};

Bytes Part(const Bytes &b, size_t from, size_t to) {
    return Bytes(b.begin() + from, b.begin() + to);
}

Bytes FrameInBuffer(const CDeviceLink &link, size_t n) {
    return Bytes(link.m_frameBuffer, link.m_frameBuffer + n);
}

}  // namespace

class ReceiveTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        OpenSerial(3);
    }
};

TEST_F(ReceiveTest, WholeFrameCompletesOnTheNextTickNotOnArrival) {
    Arrive(kFrame);
    EXPECT_EQ(Fake().calls.back(), "readcom(3)");
    EXPECT_EQ(link->m_nExpectedLength, 8);
    EXPECT_EQ(link->m_nFramesReady, 0);
    link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 1);
    EXPECT_EQ(link->m_nFrameLength, 8);
    EXPECT_EQ(FrameInBuffer(*link, 9),
              (Bytes{0x02, 0x00, 0x08, 0x2B, 0x00, 0xAA, 0x8B, 0x03, 0x00}));
    EXPECT_EQ(link->m_nRxCount, 0);
    EXPECT_EQ(link->m_nExpectedLength, 0);
    EXPECT_EQ(link->m_nIdleTicks, 6);
    Ticks(10);
    EXPECT_EQ(link->m_nFramesReady, 1);  // completes once; the holder clears it
}

TEST_F(ReceiveTest, PiecesJoinWithinTheIdleGapAndStartAfreshAfterIt) {
    Arrive(Part(kFrame, 0, 3));
    Ticks(4);
    Arrive(Part(kFrame, 3, 8));
    link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 1);
    EXPECT_EQ(FrameInBuffer(*link, 8), kFrame);

    link->m_nFramesReady = 0;
    Arrive(Part(kFrame, 0, 3));
    Ticks(5);
    Arrive(Part(kFrame, 3, 8));
    EXPECT_EQ(link->m_rxBuffer[0], 0x2B);
    EXPECT_EQ(link->m_nRxCount, 5);
    Ticks(10);
    EXPECT_EQ(link->m_nFramesReady, 0);
}

TEST_F(ReceiveTest, FrameStartNeedsFiveBytes) {
    Arrive(Part(kFrame, 0, 4));
    EXPECT_EQ(link->m_nExpectedLength, 0);
    Arrive(Part(kFrame, 4, 5));
    EXPECT_EQ(link->m_nExpectedLength, 8);
}

TEST_F(ReceiveTest, SurplusAfterAFrameIsNeverDeliveredAndNextArrivalOverwritesIt) {
    Bytes twelve = kFrame;
    twelve.insert(twelve.end(), {0x02, 0x00, 0x04, 0x03});
    Arrive(twelve);
    link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 1);
    EXPECT_EQ(link->m_nRxCount, 4);
    EXPECT_EQ(Bytes(link->m_rxBuffer, link->m_rxBuffer + 4), (Bytes{0x02, 0x00, 0x04, 0x03}));
    Ticks(10);
    EXPECT_EQ(link->m_nFramesReady, 1);

    Arrive({0x55, 0x66});
    EXPECT_EQ(link->m_nRxCount, 2);
    EXPECT_EQ(link->m_rxBuffer[0], 0x55);
}

TEST_F(ReceiveTest, ShortDeclaredLengthCompletesAtOnceLeavingTheRestAsSurplus) {
    Arrive({0x02, 0x00, 0x03, 0x2B, 0x00});
    link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 1);
    EXPECT_EQ(link->m_nFrameLength, 3);
    EXPECT_EQ(FrameInBuffer(*link, 4), (Bytes{0x02, 0x00, 0x03, 0x00}));
    EXPECT_EQ(link->m_nRxCount, 2);
}

TEST_F(ReceiveTest, SerialCountAboveLimitDropsEverythingGathered) {
    link->m_nRxCount = 30000;
    link->m_nIdleTicks = 0;
    Arrive(Bytes(6000, 0x11));
    EXPECT_EQ(link->m_nRxCount, 0);

    // A count readcom should never report still cannot push the next read
    // past the buffer.
    link->m_nIdleTicks = 0;
    Fake().reportedCountOverride = 65535;
    Arrive({0x02});
    EXPECT_EQ(link->m_nRxCount, 0);
}

TEST_F(ReceiveTest, FailedReadCountsAsArrivalOfNothing) {
    Arrive(Part(kFrame, 0, 6));
    Ticks(4);
    link->ReadSerial();  // nothing waiting
    EXPECT_EQ(link->m_nIdleTicks, 0);
    EXPECT_EQ(link->m_nRxCount, 6);
    Ticks(4);
    Arrive(Part(kFrame, 6, 8));  // still within the gap thanks to the empty read
    link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 1);
}

TEST_F(ReceiveTest, WithoutATransportTickOnlyCountsIdleTicks) {
    Arrive(kFrame);
    link->Open(0, &window);
    link->Tick();
    EXPECT_EQ(link->m_nIdleTicks, 1);
    EXPECT_EQ(link->m_nFramesReady, 0);
    EXPECT_EQ(link->m_nRxCount, 8);
    EXPECT_EQ(link->m_nExpectedLength, 8);
}

TEST_F(ReceiveTest, HolderResetKeepsTheLengthSoAStaleLengthCompletesLaterBytes) {
    Bytes partial = {0x02, 0x00, 0x10, 0x2B, 0x00, 0xAA, 0x02, 0x00, 0x01, 0x2C};
    Arrive(partial);
    link->ResetRxCount();
    EXPECT_EQ(link->m_nRxCount, 0);
    EXPECT_EQ(link->m_nExpectedLength, 16);
    Ticks(5);
    Arrive(Bytes(10, 0x41));
    link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 0);
    Arrive(Bytes(6, 0x42));
    link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 1);
    EXPECT_EQ(link->m_nFrameLength, 16);
    EXPECT_EQ(link->m_frameBuffer[0], 0x41);
}

TEST_F(ReceiveTest, TcpTakesTheLengthOnlyWhenTheBytesSoFarEndWithEtx) {
    const Bytes head = {0x02, 0x00, 0x08, 0x2B, 0x00};
    const Bytes tail = {0xAA, 0x8B, 0x03};
    link->TcpArrival(head.data(), 5);
    EXPECT_EQ(link->m_nExpectedLength, 0);
    link->TcpArrival(tail.data(), 3);
    EXPECT_EQ(link->m_nExpectedLength, 8);
    link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 1);
    EXPECT_EQ(FrameInBuffer(*link, 8), kFrame);

    // After the gap (6 after a frame) a chunk starts again at index 0, and a
    // chunk that cannot fit behind what is gathered also starts afresh.
    link->TcpArrival(tail.data(), 3);
    EXPECT_EQ(link->m_nRxCount, 3);
    EXPECT_EQ(link->m_rxBuffer[0], 0xAA);
    static const Bytes big(CDeviceLink::kBufferSize, 0x33);
    link->TcpArrival(big.data(), CDeviceLink::kBufferSize);
    EXPECT_EQ(link->m_nRxCount, CDeviceLink::kBufferSize);
}

// A TCP receive worker delivers while the UI thread ticks: every frame must
// arrive whole (TSan checks the sharing).
TEST_F(ReceiveTest, TcpArrivalFromAnotherThreadInterleavesSafelyWithTick) {
    constexpr int kFrames = 200;
    std::atomic<int> taken{0};
    std::thread worker([&] {
        for (int i = 0; i < kFrames; ++i) {
            Bytes frame = kFrame;
            frame[5] = static_cast<uint8_t>(i);
            link->TcpArrival(frame.data(), static_cast<int32_t>(frame.size()));
            while (taken.load() <= i) std::this_thread::yield();
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (taken.load() < kFrames && std::chrono::steady_clock::now() < deadline) {
        link->Tick();
        if (link->m_nFramesReady) {
            link->m_nFramesReady = 0;
            ASSERT_EQ(link->m_nFrameLength, 8);
            EXPECT_EQ(link->m_frameBuffer[5], static_cast<uint8_t>(taken.load()));
            taken.fetch_add(1);
        }
    }
    if (taken.load() < kFrames) taken.store(kFrames);
    worker.join();
    EXPECT_EQ(taken.load(), kFrames);
}
