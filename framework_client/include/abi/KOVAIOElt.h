// One sample in an output's ring of buffers, seen through its accessors. The
// element lives in the binary of the writing component; readers, possibly in
// other binaries, use it only through these virtual accessors.
#pragma once

#include "abi/IplImage.h"
#include "abi/KOVAConstants.h"
#include "abi/KOVAImage.h"
#include "abi/KOVATypeInfo.h"

#include <cstdint>

/// I/O element. Thread-bound to whoever holds it: the writer between
/// StartWriting and StopWriting, each reader between StartReading and
/// StopReading (readers only read).
///
/// The typed accessors return null when the element's sample kind is not the
/// accessor's kind, so a reader cannot reinterpret an element by mistake.
class KOVAIOElt {
public:
    virtual ~KOVAIOElt() = default;

    /// Start of the sample bytes (for an IPL or framework image: the pixel or
    /// coded bytes). Null while the output has no buffers.
    virtual void* Data() = 0;
    virtual KOVATimestamp& TimeOfIssue() = 0;
    /// Engine time of the sample in microseconds; the writer sets it.
    virtual KOVATimestamp& Timestamp() = 0;
    /// Number of valid items; StartWriting sets it to BufferSize().
    virtual int32_t& VectorSize() = 0;
    /// Capacity in items.
    virtual int32_t BufferSize() const = 0;
    virtual double& Frequency() = 0;
    virtual double& Quality() = 0;
    virtual const KOVATypeInfo& Type() const = 0;
    /// Bytes per item.
    virtual int32_t BufferItemSize() const = 0;
    virtual int32_t* Integer() = 0;
    virtual int32_t* Integer32() = 0;
    virtual int64_t* Integer64() = 0;
    virtual double* Float64() = 0;
    virtual float* Float32() = 0;
    virtual char* Text() = 0;
    virtual char* TextAscii() = 0;
    virtual char16_t* TextUnicode() = 0;
    virtual ::IplImage* IplImage() = 0;
    virtual ::KOVAImage* KOVAImage() = 0;
    virtual void* CANFrame() = 0;
    virtual void* Matrix() = 0;
    virtual void* RealObject() = 0;
    virtual void* DrawingObject() = 0;
    virtual void* Triangles3D() = 0;
    virtual uint8_t* Stream8() = 0;
    virtual uint16_t* Stream16() = 0;
    virtual uint32_t* Stream32() = 0;
    virtual float* AudioSignal() = 0;
    virtual void* Misc1() = 0;
    virtual void* Misc2() = 0;
    virtual void* Misc3() = 0;
    /// Bytes of sample memory of this element.
    virtual int64_t IOEltBufferSizeInBytes() const = 0;
    /// Bytes in use: VectorSize() items (for images, the image's bytes).
    virtual int64_t IOEltUsedSizeInBytes() const = 0;
    /// Copies the used bytes to `destination` (at most `capacity` bytes);
    /// returns the number written, or -1 when they do not fit.
    virtual int64_t Serialize(uint8_t* destination, int64_t capacity) const = 0;
    /// Copies `size` bytes into the element and sets VectorSize from them;
    /// returns the number taken, or -1 when they do not fit.
    virtual int64_t Deserialize(const uint8_t* source, int64_t size) = 0;
};
