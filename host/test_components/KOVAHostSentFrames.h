// What a frame source of the host's test package has sent, and the report
// texts with which it tells a test (or a user) the checksum a unit must have
// received for each frame.
#pragma once

#include "FrameChecksum.h"
#include "KOVA.h"

#include <cstdint>
#include <vector>

/// Counts a source's frames and keeps the checksum of the last one.
/// Thread-bound to the source's primary thread.
class KOVAHostSentFrames {
public:
    /// Reads the source's "ReportChecksums" and starts counting anew.
    void Birth(KOVAComponent& source)
    {
        source.Get(source.Property("ReportChecksums"), report_);
        frames_ = 0;
        haveChecksum_ = false;
    }

    /// Notes frame `index` sent as `packets` unit packets of `bytes` bytes in
    /// all, with `checksum`; with "ReportChecksums" on gives
    /// "frame I: P packets, B bytes, checksum HEX" through ReportInfo.
    void Sent(KOVAComponent& source, uint64_t index, uint64_t packets, uint64_t bytes, uint64_t checksum)
    {
        ++frames_;
        lastChecksum_ = checksum;
        haveChecksum_ = true;
        if (report_) {
            source.ReportInfo(KOVAStreamedString()
                              << "frame " << index << ": " << packets << " packets, " << bytes << " bytes, checksum "
                              << vxqir::frames::checksumText(checksum).c_str());
        }
    }

    /// Notes frame `index` sent as the unit packets `packets`.
    void Sent(KOVAComponent& source, uint64_t index, const std::vector<vxqir::frames::PacketBytes>& packets)
    {
        uint64_t bytes = 0;
        for (vxqir::frames::PacketBytes packet : packets)
            bytes += packet.size();
        Sent(source, index, packets.size(), bytes, vxqir::frames::checksumOfPackets(packets));
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
    bool report_ = false;
    uint64_t frames_ = 0;
    uint64_t lastChecksum_ = 0;
    bool haveChecksum_ = false;
};
