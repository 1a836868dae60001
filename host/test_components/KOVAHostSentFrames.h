// What a frame source of the host's test package has sent, and the report
// texts with which it tells a test (or a user) the checksum a unit must have
// received for each frame.
#pragma once

#include "FrameChecksum.h"
#include "KOVA.h"

#include <cstdint>

/// Counts a source's frames and keeps the checksum of the last one.
/// Thread-bound to the source's primary thread.
class KOVAHostSentFrames {
public:
    void Reset()
    {
        frames_ = 0;
        haveChecksum_ = false;
    }

    /// Notes frame `index` sent as `packets` unit packets of `bytes` bytes in
    /// all, with `checksum`; with `report` gives
    /// "frame I: P packets, B bytes, checksum HEX" through ReportInfo.
    void Sent(KOVAComponent& source, bool report, uint64_t index, uint64_t packets, uint64_t bytes, uint64_t checksum)
    {
        ++frames_;
        lastChecksum_ = checksum;
        haveChecksum_ = true;
        if (report) {
            source.ReportInfo(KOVAStreamedString() << "frame " << index << ": " << packets << " packets, " << bytes
                                                   << " bytes, checksum "
                                                   << vxqir::frames::checksumText(checksum).c_str());
        }
    }

    /// Notes a frame whose checksum is not known.
    void SentWithoutChecksum() { ++frames_; }

    /// "[Death] Sent N frames, last checksum HEX" (or "no checksum").
    void ReportAtDeath(KOVAComponent& source) const
    {
        KOVAStreamedString text;
        text << "[Death] Sent " << frames_ << " frames, ";
        if (haveChecksum_)
            text << "last checksum " << vxqir::frames::checksumText(lastChecksum_).c_str();
        else
            text << "no checksum";
        source.ReportInfo(text);
    }

private:
    uint64_t frames_ = 0;
    uint64_t lastChecksum_ = 0;
    bool haveChecksum_ = false;
};
