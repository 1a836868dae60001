// Host test component "HostCsi2GrabberSource": writes grabber byte streams
// of MIPI CSI-2 frames (output "Frames", Stream8) at a fixed period, built
// by the frame builders, and states the checksum a unit receives for each
// frame when the unit client sends it with the same "SkipCsi2Preamble" and
// "SkipCsi2ShortPackages" as this source's properties.
#pragma once

#include "GrabberFrameBuilder.h"
#include "KOVA.h"
#include "KOVAHostFramePacing.h"
#include "KOVAHostSentFrames.h"

#include <vector>

class KOVAHostCsi2GrabberSource : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    using KOVAComponent::KOVAComponent;

    void Birth() override;
    void Core() override;
    void Death() override;

    static const KOVAComponentDefinition s_componentDefinition;

private:
    vxqir::frames::GrabberFrameSpec spec_;
    vxqir::frames::Csi2SendOptions send_;
    bool checksums_ = false; ///< false when the unit client cannot send these streams as recorded
    KOVAHostFramePacing pacing_;
    std::vector<vxqir::frames::GrabberRecord> records_; ///< of the frame being written, kept for the run
    KOVAHostSentFrames frames_;
};
