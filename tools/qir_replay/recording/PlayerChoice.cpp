#include "PlayerChoice.h"

namespace qir::replay {

PlayerChoice playerChoice(const Recording& recording)
{
    switch (recording.format()) {
    case RecordingFormat::Grabber:
        return { "QirGrabberStreamPlayer", recording.hasShortPackets() ? ", SkipCsi2ShortPackages = true" : "" };
    case RecordingFormat::Raw:
        return { "QirRawFramePlayer", "" };
    case RecordingFormat::Record:
        return { "QirRecordFilePlayer", "" };
    case RecordingFormat::Images:
        return { "QirImageSequencePlayer", "" };
    case RecordingFormat::Jpeg:
        // Each image goes out as `height` packets of this size.
        return { "QirJpegSequencePlayer", ", MaxPayLoadSize = " + std::to_string(recording.codedPacketBytes()) };
    case RecordingFormat::Video:
        return { "QirVideoPlayer", "" };
    }
    return {};
}

} // namespace qir::replay
