// Host test component "HostCodedImageSource": writes coded framework images
// (output "Images", KOVAImage) whose `imageSize` varies from frame to frame,
// filled with a pattern, and states the checksum a unit receives for each
// when the unit client cuts it with the same "MaxPayLoadSize" as this
// source's property.
#pragma once

#include "CodedImageFrames.h"
#include "KOVA.h"
#include "KOVAHostFramePacing.h"
#include "KOVAHostSentFrames.h"

class KOVAHostCodedImageSource : public KOVAComponent {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    using KOVAComponent::KOVAComponent;

    void Birth() override;
    void Core() override;
    void Death() override;

    static const KOVAComponentDefinition s_componentDefinition;

private:
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint16_t packetBytes_ = 0;
    vxqir::frames::ImageSizeRange sizes_;
    vxqir::frames::BytePattern pattern_ = vxqir::frames::BytePattern::Ramp;
    KOVAHostFramePacing pacing_;
    KOVAHostSentFrames frames_;
};
