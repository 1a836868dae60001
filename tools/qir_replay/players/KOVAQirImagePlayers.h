// Players of image sequences (a directory of image files, in the order of
// their names):
//
//   QirImageSequencePlayer  PNG, PGM and PPM files as IPL images on "Frames"
//                           (8-bit gray, or 8-bit RGB in R, G, B order)
//   QirJpegSequencePlayer   JPEG files as framework images on "Frames": width
//                           and height from the JPEG header, the file's bytes
//                           unchanged, then zeros up to `height` packets of
//                           the recording's packet size (the unit client's
//                           "MaxPayLoadSize" must be that size)
//
// Times come from the file names ("..._<microseconds>us.png") or from "Fps".
#pragma once

#include "KOVAQirRecordingPlayer.h"

class KOVAQirImageSequencePlayer : public KOVAQirRecordingPlayer {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    KOVAQirImageSequencePlayer(const char* name, const KOVAComponentDefinition* definition)
        : KOVAQirRecordingPlayer(name, definition, qir::replay::RecordingFormat::Images)
    { }
    static const KOVAComponentDefinition s_componentDefinition;

protected:
    std::optional<size_t> WriteFrame(size_t index, KOVATimestamp time) override;
    void AllocateFrames() override;
};

class KOVAQirJpegSequencePlayer : public KOVAQirRecordingPlayer {
public:
    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    KOVAQirJpegSequencePlayer(const char* name, const KOVAComponentDefinition* definition)
        : KOVAQirRecordingPlayer(name, definition, qir::replay::RecordingFormat::Jpeg)
    { }
    static const KOVAComponentDefinition s_componentDefinition;

protected:
    std::optional<size_t> WriteFrame(size_t index, KOVATimestamp time) override;
    void AllocateFrames() override;
};
