// Record files: sensor data records one after the other (data_types'
// record format). Each Video record's payload is a MIPI CSI-2 chunk
// container and becomes one frame; records of other types are skipped and
// counted. The records are delimited by data_types' RecordScanner, the
// containers walked by the unit client's own chunk walk.
#include "Recording.h"

#include "ChunkFrameBuilder.h"
#include "data_types/RecordLayout.h"
#include "data_types/RecordScanner.h"
#include "unit_client/csi2/MipiCsi2Chunks.h"

#include <algorithm>
#include <cstring>

namespace qir::replay {

namespace {

using qir::data_types::ChannelType;
using qir::data_types::kBaseHeaderSize;
using qir::data_types::VideoHeader;

constexpr size_t kVideoOverhead = kBaseHeaderSize + sizeof(VideoHeader);

uint16_t readUint16Le(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

} // namespace

bool looksLikeRecordFile(std::span<const uint8_t> bytes)
{
    const auto check = qir::data_types::check_record(bytes);
    // A record of "no type" says too little to tell a record file by.
    return check.ok() && check.header.type != ChannelType::NoneType;
}

void Recording::indexRecords()
{
    using namespace MIPICSI2;
    const std::span<const uint8_t> bytes = fileBytes();
    qir::data_types::RecordScanner scanner(bytes);
    uint64_t videoRecords = 0;
    while (const auto record = scanner.next()) {
        checkInterrupted();
        reportProgress(record->offset);
        if (record->fault != qir::data_types::RecordFault::None || record->header.type != ChannelType::Video) {
            ++skippedRecords_;
            continue;
        }
        // The scanner checked that the record holds both headers and exactly
        // payload_length bytes of payload.
        const size_t at = record->offset;
        const std::string which = "Video record " + std::to_string(videoRecords++);
        VideoFrameInfo info;
        info.recordOffset = at;
        std::memcpy(&info.header, record->bytes.data() + kBaseHeaderSize, sizeof info.header);
        if (record->header.timestamp < 0)
            throwDamaged(path(), at, which + " has the negative timestamp " + std::to_string(record->header.timestamp));
        const std::span<const uint8_t> container = record->bytes.subspan(kVideoOverhead);
        if (container.empty())
            throwDamaged(path(), at, which + " carries no chunk container (payload_length 0)");

        DataChunkIterator walk(container.data(), container.size());
        DataChunkDescriptor chunk;
        while (walk.next(chunk)) {
            if (chunk.type == Type::MetaData || chunk.type == Type::LZRW1ACompressed)
                continue;
            if (chunk.hasBusData()) {
                if (readUint16Le(chunk.payload + 8) != 0)
                    ++info.eccErrors;
                if (readUint16Le(chunk.payload + chunk.payloadLength - BUS_DATA_FOOTER_SIZE) != 0)
                    ++info.checksumErrors;
            }
            if (!chunk.isDataChunk())
                continue;
            if (!chunk.hasBusData()) {
                ++info.shortDataChunks;
            } else if (info.dataChunks == info.shortDataChunks) {
                info.payloadBytes = chunk.busPayloadLength();
            } else if (chunk.busPayloadLength() != info.payloadBytes) {
                ++info.lengthChanges;
            }
            ++info.dataChunks;
        }
        if (walk.malformed())
            throwDamaged(path(), at + kVideoOverhead + walk.endOffset(),
                         which + ": " + walkEndToString(walk.end()) + " (chunk at container byte " +
                             std::to_string(walk.endOffset()) + ")");
        if (info.dataChunks == 0)
            throwDamaged(path(), at, which + " holds no data chunk");
        if (info.dataChunks > 0xFFFF)
            throwDamaged(path(), at,
                         which + " holds " + std::to_string(info.dataChunks) +
                             " data chunks, more lines than the unit takes");

        if (frames_.empty()) {
            width_ = info.header.width;
            height_ = info.header.height;
        }
        frames_.push_back({ at + kVideoOverhead, container.size(), static_cast<uint64_t>(record->header.timestamp) });
        videoInfo_.push_back(info);
        largest_ = std::max(largest_, container.size());
    }
    if (const auto& fault = scanner.fault())
        throwDamaged(path(), fault->offset, fault->check.describe());
    if (frames_.empty())
        throw RecordingError(path() + ": no Video record among its " + std::to_string(skippedRecords_) + " records");
}

vxqir::frames::FrameSums Recording::recordSentSums(size_t index) const
{
    // The unit client learns the chunk kinds it sends from the first frame.
    const auto selection = vxqir::frames::ChunkSelection::fromFirstFrame(frameBytes(0));
    return vxqir::frames::chunkSentSums(frameBytes(index), selection);
}

} // namespace qir::replay
