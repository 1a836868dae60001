// Host test component "HostCsi2ChunkSource": writes MIPI CSI-2 frames as
// chunk containers in custom-structure samples "KOVAMipiCsi2Frame" (output
// "Frames") at a fixed period, built by the frame builders, and states the
// checksum a unit receives for each frame from the unit client, which sends
// the data chunks of the kinds it found in the run's first frame.
#pragma once

#include "ChunkFrameBuilder.h"
#include "KOVA.h"
#include "KOVAHostFramePacing.h"
#include "KOVAHostSentFrames.h"

#include <vector>

class KOVAHostCsi2ChunkSource : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    using KOVAComponent::KOVAComponent;

    void Birth() override;
    void Core() override;
    void Death() override;

    static const KOVAComponentDefinition s_componentDefinition;

private:
    /// The description of frame `index`: embedded data from "EmbeddedFromFrame" on,
    /// one data chunk fewer in frame "ShortFrame".
    vxqir::frames::ChunkFrameSpec SpecOf(int64_t index) const;

    vxqir::frames::ChunkFrameSpec spec_;
    vxqir::frames::ChunkSelection selection_; ///< as the unit client learns it from frame 0
    int64_t embeddedFrom_ = 0;
    int64_t shortFrame_ = -1;
    KOVAHostFramePacing pacing_;
    KOVAHostSentFrames frames_;
};
