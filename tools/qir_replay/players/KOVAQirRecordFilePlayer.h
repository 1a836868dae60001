// QirRecordFilePlayer: replays a record file's Video records, each as one
// "KOVAMipiCsi2Frame" sample on "Frames": the record's Video header fills the
// sample's fields of the same names, its chunk container follows the sample
// record in the same element, and the record's timestamp is the sample's
// time. Records of other types are skipped (Birth says how many).
#pragma once

#include "KOVAQirRecordingPlayer.h"

class KOVAQirRecordFilePlayer : public KOVAQirRecordingPlayer {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    KOVAQirRecordFilePlayer(const char* name, const KOVAComponentDefinition* definition)
        : KOVAQirRecordingPlayer(name, definition, qir::replay::RecordingFormat::Record)
    { }
    static const KOVAComponentDefinition s_componentDefinition;

protected:
    std::optional<size_t> WriteFrame(size_t index, KOVATimestamp time) override;
    void AllocateFrames() override;
};
