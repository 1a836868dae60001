// KOVAImage2Qir.h - the unit client component "VxQirUnitClient": camera
// samples from a graph into one channel of a QIR unit.
//
// Lifecycle (one run):
//   Birth  builds the unit interface record from the properties, probes both
//          unit addresses and registers the output channel.
//   Core   reads one sample of "SensorDataIn" per call. The first sample of a
//          run declares the frame geometry (init path of its kind) and starts
//          the status thread; every sample then waits for a valid unit
//          status and the replay offset (and start / stop times when
//          "StartStopTimeInputs" is on) and is cut into unit packets
//          (process path of its kind).
//   Death  reports the frame count and unregisters the channel.
//
// Sample kinds, chosen by the input's type code:
//   IplImage (0x20)          one packet per row            KOVAImage2QirImages.cpp
//   KOVAImage (0x40)         "MaxPayLoadSize" chunks       KOVAImage2QirImages.cpp
//   Stream8 (0x1000)         grabber byte stream, one      KOVAImage2QirCsi2.cpp
//                            packet per CSI-2 record
//   DynamicStructure         "KOVAMipiCsi2Frame" chunk     KOVAImage2QirCsi2.cpp
//   (0x40000)                container, one packet per
//                            data chunk
//
// Threads: Birth, Core, Death on the component's primary thread; the status
// thread (WriteStatusToOutput) from the first Core call of a run until the
// component stops; the two actions on engine threads. The component takes no
// locks of its own: the primary thread alone writes the run fields; the
// status thread reads qir_ch_handle_ (fixed while a run lasts) and, for its
// verbose report only, startTs_ / stopTs_ (atomics, relaxed: a report may
// show a time one sample old); valid_status_ is the only value the status
// thread writes that Core reads.
#pragma once

#include "KOVA.h"
#include "VXQIRApi.h"
#include "VXQIRBatch.h"
#include "csi2/GrabberFrameCheck.h"
#include "csi2/MipiCsi2Chunks.h"

#include <atomic>
#include <cstdint>
#include <vector>

class KOVAImage2Qir : public KOVAComponent {
public:
    /// Names the three replay times.
    enum TimestampType : int32_t { Start = 0, Stop = 1, Offset = 2 };

    static KOVAComponent* Instantiate(const char* name, const KOVAComponentDefinition* definition);
    KOVAImage2Qir(const char* name, const KOVAComponentDefinition* definition);
    ~KOVAImage2Qir() override;

    /// Engine thread: adds "ReplayStartTime" and "ReplayStopTime" when
    /// "StartStopTimeInputs" is true; never removes an input.
    void Dynamic() override;
    void Birth() override;
    void Core() override;
    void Death() override;

    /// Actions "ResetChannel" and "ClearStatusFlags" (engine thread; a
    /// failure is a warning, nothing else changes).
    static void ResetQirChannel(KOVAModule* module, int32_t actionIndex);
    static void ClearStatusFlags(KOVAModule* module, int32_t actionIndex);

    /// How long the unit may send no status before the status thread stops
    /// publishing its last one: 1 s, or two "StatusUpdatePeriod"s when
    /// longer (a status is looked at once a period).
    static int64_t UnitTimeoutMs(int64_t statusPeriodUs);

    /// Bytes that pad a record of `bytes` bytes to whole pixels of `bpp_`
    /// bits (0 while bpp_ is 0, which the byte-stream path refuses).
    uint16_t calculatePaddingBytes(uint16_t bytes) const;

    static const KOVAComponentDefinition s_componentDefinition;

private:
    /// The sample kind of "SensorDataIn", fixed for a run by its first sample.
    enum class SampleKind : uint8_t { None, Ipl, KovaImage, Csi2Stream, Csi2Frame };

    // Lifecycle helpers (KOVAImage2QirLifecycle.cpp).
    void BuildInputInterface();
    SampleKind KindOfInput(KOVAInput* input);
    void InitPath(KOVAIOElt* element);
    /// Sends one sample by the path of its kind, then settles the frame
    /// number and the count of frames sent (FinishFrame).
    void ProcessPath(KOVAIOElt* element);
    /// After a sample: a sample sent whole advances the frame number and
    /// counts as sent; one sent in part (some unit packets went out) still
    /// advances the frame number, so the next sample's packets never reach
    /// the unit under the number of the part frame, but does not count; a
    /// sample of which nothing went out keeps the number for the next one.
    void FinishFrame(bool whole);

    // Replay times and status (KOVAImage2QirTiming.cpp).
    int64_t GetTimestamp_from_Input(TimestampType type);
    void check_and_send_Timestamp(VXTQirChannelHandle handle, TimestampType type);
    void WriteStatusToOutput();

    // Image paths and the send loop (KOVAImage2QirImages.cpp).
    // Each process_ operation returns true when the whole sample was sent.
    void init_ipl_image(KOVAIOElt* element);
    bool process_ipl_image(KOVAIOElt* element);
    void init_kova_image(KOVAIOElt* element);
    bool process_kova_image(KOVAIOElt* element);
    /// Once per run: a sample of `chunks` packets, fewer than the `height_`
    /// lines declared, never completes at the unit (its end-of-frame mark
    /// belongs to line height_ - 1).
    void WarnFewerChunksThanHeight(uint32_t chunks);
    /// Collects one block of the current sample for a batched send; sends
    /// the collected run when it is full. NoError while nothing failed.
    VXTQirError QueueBlock(const VXTQirPacketPropertiesT& packetProperties, const uint8_t* buffer, uint16_t bufferSize);
    /// Sends the blocks collected so far and forgets them. A block that
    /// meets Timeout is tried again, until it goes or, while the component
    /// stops, until the component time-out has passed since the first try
    /// at that block (with a warning).
    VXTQirError FlushBlocks();
    /// The check after each send; true when the sample may go on.
    bool SendSucceeded(VXTQirError result);
    /// Declares the geometry; a failure ends Core through Error.
    void InitOutputChannel(uint16_t width, uint16_t height);
    VXTQirPacketPropertiesT PacketPropertiesOf(KOVAIOElt* element) const;

    // MIPI CSI-2 paths (KOVAImage2QirCsi2.cpp).
    void init_mipi_csi2_image(KOVAIOElt* element);
    bool process_mipi_csi2_image(KOVAIOElt* element);
    void init_kova_csi2_frame(KOVAIOElt* element);
    bool process_kova_csi2_frame(KOVAIOElt* element);
    /// Checks the stream's size and first preamble; Error on a bad preamble.
    bool CheckCsi2Stream(const uint8_t* stream, int64_t used);
    /// How the records of this run go out (first sample, properties).
    MIPICSI2::GrabberSendShape Csi2SendShape() const;
    /// What a GrabberFrameCheck fault of the frame `frameCounter_` is, for
    /// a report (the caller adds what became of the frame).
    KOVAString GrabberFaultText(const MIPICSI2::GrabberFrameCheck& check, int64_t used) const;
    /// Reads the chunk-container record of `element`; false (with a warning)
    /// when the element is too small to hold one.
    bool ReadCsi2Frame(KOVAIOElt* element, struct KOVAMipiCsi2Frame& frame);

    template <typename T>
    static bool find(const std::vector<T>& values, T value)
    {
        for (const T& v : values)
            if (v == value)
                return true;
        return false;
    }

    KOVAString helper_ctrl_;
    KOVAString helper_data_;
    KOVAString helper_local_;
    KOVAEvent start_event_;
    std::atomic<bool> valid_status_{ false };
    VXTQirInputInterfaceT qir_input_if_{};
    // Written on the primary thread (Birth, Death), read by the status
    // thread and the actions: atomic, sequentially consistent.
    std::atomic<VXTQirChannelHandle> qir_ch_handle_{ -1 };
    VXTQirChannelNumber qir_ch_no_ = 0;
    // Written by the primary thread only; relaxed atomics because the status
    // thread reads start and stop for its verbose report.
    std::atomic<int64_t> startTs_{ -1 };
    std::atomic<int64_t> stopTs_{ -1 };
    int64_t offsetTs_ = -1;
    uint16_t frameCounter_ = 0; ///< number of the next frame (wraps)
    uint64_t framesSent_ = 0;   ///< samples of this run sent whole, for Death's report
    bool firstTime_ = true;
    bool use_add_ts_inputs_ = false;
    uint8_t bpp_ = 0;
    uint16_t height_ = 0;
    uint16_t pck_len_byte_ = 0;
    bool skip_short_packages_ = false;
    bool skip_preamble_ = true;
    std::atomic<bool> verbose_{ false };
    KOVATimestamp component_timeout_ = 0;
    std::vector<MIPICSI2::SubType> used_csi2_types_;
    std::vector<MIPICSI2::Type> used_data_types_;

    // Run state beyond the fields above.
    SampleKind kind_ = SampleKind::None;
    bool warnedShortPackets_ = false; ///< the short-packet advice was given this run
    bool warnedFewerChunks_ = false;  ///< the fewer-chunks-than-height advice was given this run
    uint64_t blocksSent_ = 0;         ///< unit packets of the current sample that went out
    int64_t statusPeriodUs_ = 0;
    std::vector<uint8_t> lastChunk_; ///< zero-filled last chunk of a framework image, kept for the run
    /// Blocks of the current sample not yet sent; the pixels stay borrowed
    /// from the sample (or lastChunk_) until FlushBlocks. Capacity fixed at
    /// construction, so a frame allocates nothing.
    std::vector<vxqir::ReplayBlock> pendingBlocks_;
};
