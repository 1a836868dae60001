// Image paths of the unit client: uncompressed IPL images (one packet per
// row) and framework images (fixed-size chunks of the coded bytes), and the
// batched send every path uses.
#include "KOVAImage2Qir.h"

#include "csi2/GrabberImageHeader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr KOVATimestamp kRestAfterInitUs = 200000;
constexpr int64_t kMaxLine = 65535;

/// Bytes of one IPL row as sent: channels x width x whole bytes per channel
/// (a 12-bit depth counts one byte).
int64_t IplLineLength(const IplImage& image)
{
    return int64_t{ image.nChannels } * image.width * (image.depth / 8);
}

} // namespace

uint16_t KOVAImage2Qir::calculatePaddingBytes(uint16_t bytes) const
{
    return MIPICSI2::paddingToWholePixels(bytes, bpp_);
}

VXTQirPacketPropertiesT KOVAImage2Qir::PacketPropertiesOf(KOVAIOElt* element) const
{
    VXTQirPacketPropertiesT properties{};
    properties.timestamp = static_cast<uint64_t>(element->Timestamp()) * 1000u;
    properties.frameNumber = frameCounter_;
    properties.lineNumber = 0;
    properties.streamID = 0;
    return properties;
}

void KOVAImage2Qir::InitOutputChannel(uint16_t width, uint16_t height)
{
    const VXTQirError result = VXQIR_InitOutputChannel(qir_ch_handle_, width, height);
    if (result != NoError)
        Error((KOVAString("[Core] Could not initialize output channel: ") + VXQIR_ErrorToString(result)).c_str());
}

VXTQirError KOVAImage2Qir::QueueBlock(const VXTQirPacketPropertiesT& packetProperties, const uint8_t* buffer,
                                      uint16_t bufferSize)
{
    pendingBlocks_.push_back(
        vxqir::ReplayBlock{ .properties = packetProperties, .payload = buffer, .payloadSize = bufferSize });
    return pendingBlocks_.size() == pendingBlocks_.capacity() ? FlushBlocks() : NoError;
}

VXTQirError KOVAImage2Qir::FlushBlocks()
{
    std::span<const vxqir::ReplayBlock> rest(pendingBlocks_);
    VXTQirError result = NoError;
    KOVATimestamp start = KOVA::CurrentTime();
    while (!rest.empty()) {
        size_t sent = 0;
        result = vxqir::ReplayStreamBlocks(qir_ch_handle_, rest, &sent);
        rest = rest.subspan(sent);
        blocksSent_ += sent;
        // The time-out counts from the first attempt at the block that waits.
        if (sent > 0)
            start = KOVA::CurrentTime();
        if (IsDying() && KOVA::CurrentTime() - start > component_timeout_) {
            ReportWarning("Component timeout reached, shutting down directly.");
            break;
        }
        if (result != Timeout)
            break;
    }
    pendingBlocks_.clear();
    return result;
}

void KOVAImage2Qir::FinishFrame(bool whole)
{
    if (whole)
        ++framesSent_;
    if (whole || blocksSent_ > 0)
        ++frameCounter_;
    blocksSent_ = 0;
}

void KOVAImage2Qir::WarnFewerChunksThanHeight(uint32_t chunks)
{
    if (warnedFewerChunks_ || chunks >= height_)
        return;
    warnedFewerChunks_ = true;
    KOVAStreamedString text;
    text << "[Core] Frame " << frameCounter_ << " went out as " << chunks << " packets, fewer than the " << height_
         << " lines declared to the unit: the unit ends a frame at line " << height_ - 1
         << ", so such frames never complete there. Make every sample fill the declared lines: coded images "
            "need a MaxPayLoadSize that cuts each into at least that many packets, or padding up to it; chunk "
            "containers need as many data chunks as the first frame. Given once per run.";
    ReportWarning(text);
}

bool KOVAImage2Qir::SendSucceeded(VXTQirError result)
{
    if (result == NoError)
        return true;
    const KOVAString text = KOVAString("[Core] ") + VXQIR_ErrorToString(result);
    if (IsDying())
        ReportWarning(text);
    else
        ReportError(text);
    return false;
}

void KOVAImage2Qir::init_ipl_image(KOVAIOElt* element)
{
    const IplImage& image = *KOVA::GetIOElementPointer<IplImage>(*element, 0);
    ReportInfo("Sending uncompressed IPL images.");
    const int64_t line = IplLineLength(image);
    // A line the unit cannot be told in 16 bits would go out cut short.
    if (line < 0 || line > kMaxLine) {
        KOVAStreamedString text;
        text << "[Core] IPL line length " << line << " bytes (" << image.nChannels << " channels x " << image.width
             << " pixels x " << image.depth / 8 << " bytes) does not fit the unit's 16-bit line length of at most "
             << kMaxLine << " bytes.";
        Error(text);
    }
    const auto width = static_cast<uint16_t>(line);
    const auto height = static_cast<uint16_t>(image.height);
    InitOutputChannel(width, height);
    if (verbose_) {
        ReportInfo("[Core] Output channel initialized.");
        KOVAStreamedString lines;
        lines << "[Core] "
              << "Replaying frames with " << height << " lines.";
        ReportInfo(lines);
        KOVAStreamedString bytes;
        bytes << "[Core] "
              << "Each packet has " << width << " Bytes.";
        ReportInfo(bytes);
    }
    Rest(kRestAfterInitUs);
}

bool KOVAImage2Qir::process_ipl_image(KOVAIOElt* element)
{
    const IplImage& image = *KOVA::GetIOElementPointer<IplImage>(*element, 0);
    VXTQirPacketPropertiesT properties = PacketPropertiesOf(element);
    const int64_t line = IplLineLength(image);
    if (line < 0 || line > kMaxLine) {
        KOVAStreamedString text;
        text << "[Core] Frame " << frameCounter_ << ": IPL line length " << line
             << " bytes does not fit 16 bits; frame not sent.";
        ReportWarning(text);
        return false;
    }
    const auto lineLength = static_cast<uint16_t>(line);
    const auto* pixels = reinterpret_cast<const uint8_t*>(image.imageData);
    const int64_t available = element->IOEltBufferSizeInBytes();
    for (int32_t row = 0; row < image.height; ++row) {
        const int64_t offset = int64_t{ row } * image.widthStep;
        // Never read outside the element, whatever its header says.
        if (!pixels || offset < 0 || offset + lineLength > available) {
            if (!SendSucceeded(FlushBlocks()))
                return false;
            KOVAStreamedString text;
            text << "[Core] Frame " << frameCounter_ << ": row " << row << " at byte offset " << offset
                 << " lies outside the image's " << available << " bytes; frame not sent whole.";
            ReportWarning(text);
            return false;
        }
        properties.lineNumber = static_cast<uint16_t>(row);
        if (!SendSucceeded(QueueBlock(properties, pixels + offset, lineLength)))
            return false;
    }
    return SendSucceeded(FlushBlocks());
}

void KOVAImage2Qir::init_kova_image(KOVAIOElt* element)
{
    const KOVAImage& image = *KOVA::GetIOElementPointer<KOVAImage>(*element, 0);
    ReportInfo("Sending compressed KOVA images.");
    if (image.height <= 0) {
        KOVAStreamedString text;
        text << "[Core] Framework image height is " << image.height << ": no line length can be declared to the unit.";
        Error(text);
    }
    const int32_t maxBytesPerLine = image.bufferSize / image.height;
    height_ = static_cast<uint16_t>(image.height);
    InitOutputChannel(static_cast<uint16_t>(maxBytesPerLine), static_cast<uint16_t>(image.height));
    if (verbose_)
        ReportInfo("[Core] Output channel initialized.");
    Rest(kRestAfterInitUs);
}

bool KOVAImage2Qir::process_kova_image(KOVAIOElt* element)
{
    const KOVAImage& image = *KOVA::GetIOElementPointer<KOVAImage>(*element, 0);
    int64_t maxPayload = 0;
    Get(Property("MaxPayLoadSize"), maxPayload);
    const int64_t maxBytes = maxPayload - maxPayload % 8;
    if (maxBytes < 8 || maxBytes > kMaxLine) {
        KOVAStreamedString text;
        text << "[Core] Frame " << frameCounter_ << ": MaxPayLoadSize " << maxPayload
             << " gives no usable packet size; frame not sent.";
        ReportError(text);
        return false;
    }
    VXTQirPacketPropertiesT properties = PacketPropertiesOf(element);

    // The coded bytes end where the element ends, whatever imageSize says.
    const auto* data = static_cast<const uint8_t*>(image.imageData);
    int64_t imageSize = std::max<int64_t>(image.imageSize, 0);
    const int64_t available = data ? element->IOEltBufferSizeInBytes() : 0;
    bool whole = true;
    if (imageSize > available) {
        KOVAStreamedString text;
        text << "[Core] Frame " << frameCounter_ << ": imageSize " << imageSize << " exceeds the element's "
             << available << " bytes; sending up to byte offset " << available << ", frame not counted.";
        ReportWarning(text);
        imageSize = available;
        whole = false;
    }
    if (lastChunk_.size() != static_cast<size_t>(maxBytes))
        lastChunk_.assign(static_cast<size_t>(maxBytes), 0);

    int64_t sentBytes = 0;
    uint16_t chunk = 0;
    while (sentBytes < imageSize) {
        properties.lineNumber = chunk;
        VXTQirError result = NoError;
        if (imageSize - sentBytes > maxBytes) {
            result = QueueBlock(properties, data + sentBytes, static_cast<uint16_t>(maxBytes));
            sentBytes += maxBytes;
        } else {
            const auto rest = static_cast<size_t>(imageSize - sentBytes);
            std::memcpy(lastChunk_.data(), data + sentBytes, rest);
            std::memset(lastChunk_.data() + rest, 0, lastChunk_.size() - rest);
            result = QueueBlock(properties, lastChunk_.data(), static_cast<uint16_t>(maxBytes));
            sentBytes = imageSize;
        }
        if (!SendSucceeded(result))
            return false;
        ++chunk;
    }
    if (!SendSucceeded(FlushBlocks()))
        return false;
    WarnFewerChunksThanHeight(chunk);
    return whole;
}
