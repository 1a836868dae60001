// The decode-ahead queue: frames in order pass after pass with the bytes a
// decoder gives them, a bounded number waiting, a stop while the decoder
// waits for room, and a decoder failure handed to the taker.
#include "FrameChecksum.h"
#include "ToolRunner.h"
#include "VideoClips.h"
#include "VideoFrameQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using namespace std::chrono_literals;
using qir::data_types::test::TempDir;
using qir::video::VideoFrameQueue;

uint64_t checksumOf(const qir::video::DecodedFrame& frame, uint32_t lineBytes, uint32_t height)
{
    vxqir::frames::FrameChecksum sum;
    for (uint32_t row = 0; row < height; ++row)
        sum.update(std::span<const uint8_t>(frame.pixels).subspan(row * frame.stride, lineBytes));
    return sum.value();
}

/// Takes the next frame, waiting (bounded and generous) for the decoder.
std::unique_ptr<qir::video::DecodedFrame> takeWithin(VideoFrameQueue& queue, std::chrono::seconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until)
        if (auto frame = queue.take(10ms))
            return frame;
    return nullptr;
}

TEST(VideoFrameQueue, HandsOnTheFramesPickedInOrderPassAfterPass)
{
    TempDir dir;
    const std::string path = dir.file("clip.mkv");
    ASSERT_NO_FATAL_FAILURE(qir::video::test::writeTestClip(path, qir::video::test::clipSpec("ffv1", 12)));
    std::vector<uint64_t> sums;
    {
        qir::video::VideoDecoder decoder(path, {});
        qir::video::DecodedFrame frame;
        while (decoder.next(frame))
            sums.push_back(checksumOf(frame, decoder.lineBytes(), 48));
    }
    ASSERT_EQ(sums.size(), 12u);

    VideoFrameQueue queue(path, {}, 3, 9, 2);
    for (uint64_t k = 0; k < 3 * 6; ++k) {
        auto frame = takeWithin(queue, 10s);
        ASSERT_NE(frame, nullptr) << "no frame " << k << " within 10 s";
        const uint64_t index = 3 + k % 6;
        ASSERT_EQ(frame->index, index);
        EXPECT_EQ(frame->timeUs, static_cast<int64_t>(index * 40000));
        EXPECT_EQ(checksumOf(*frame, 64 * 3, 48), sums[index]) << "frame " << index << " of pass " << k / 6;
        queue.recycle(std::move(frame));
    }
    // The decoder ran ahead by at most the queue's two frames (and the one
    // it holds for room).
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(queue.framesDecoded(), 3u * 6 + 2);
}

TEST(VideoFrameQueue, StopsWhileTheDecoderWaitsForRoom)
{
    TempDir dir;
    const std::string path = dir.file("clip.mkv");
    ASSERT_NO_FATAL_FAILURE(qir::video::test::writeTestClip(path, qir::video::test::clipSpec("ffv1", 6)));
    for (int round = 0; round < 5; ++round) {
        VideoFrameQueue queue(path, {}, 0, 6, 1);
        if (round % 2 == 1) {
            ASSERT_NE(takeWithin(queue, 10s), nullptr);
        }
        // Destroyed with the queue full or filling: it must not hang.
    }
}

TEST(VideoFrameQueue, AFileThatChangedAfterItWasOpenedFailsTheTakerNamingIt)
{
    TempDir dir;
    const std::string path = dir.file("clip.avi");
    ASSERT_NO_FATAL_FAILURE(qir::video::test::writeTestClip(path, qir::video::test::clipSpec("mjpeg", 10)));
    qir::video::test::cutFile(path, 0.5);
    VideoFrameQueue queue(path, {}, 0, 10, 3);
    std::string error;
    uint64_t frames = 0;
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (error.empty() && std::chrono::steady_clock::now() < until) {
        try {
            if (auto frame = queue.take(10ms)) {
                EXPECT_EQ(frame->index, frames);
                ++frames;
                queue.recycle(std::move(frame));
            }
        } catch (const qir::video::VideoError& failure) {
            error = failure.what();
        }
    }
    EXPECT_LT(frames, 10u);
    EXPECT_EQ(error.rfind(path + ": frame " + std::to_string(frames), 0), 0u) << error;
}

} // namespace
