// Birth, Core, Death and the actions of the unit client component.
#include "KOVAImage2Qir.h"

#include "LibraryLines.h"
#include "csi2/KOVAMipiCsi2Frame.h"

#include <cstring>
#include <string_view>

namespace {

/// Smallest and largest "MaxPayLoadSize": below 8 a framework image chunk
/// (a multiple of 8 bytes) would be empty, above 65535 the packet size does
/// not fit its 16-bit field.
constexpr int64_t kMinPayload = 8;
constexpr int64_t kMaxPayload = 65535;

constexpr KOVATimestamp kWaitForStatusUs = 250000;
constexpr KOVATimestamp kWaitForTimesUs = 100000;
constexpr KOVATimestamp kUnconnectedRestUs = 100000;

} // namespace

void KOVAImage2Qir::BuildInputInterface()
{
    int64_t value = 0;
    Get(Property("QirControlIP"), helper_ctrl_);
    qir_input_if_.controlIP = helper_ctrl_.c_str();
    Get(Property("QirControlPort"), value);
    qir_input_if_.controlPort = static_cast<uint16_t>(value);
    Get(Property("SensorDataIP"), helper_data_);
    qir_input_if_.dataIP = helper_data_.c_str();
    Get(Property("SensorDataBasePort"), value);
    qir_input_if_.dataBasePort = static_cast<uint16_t>(value);
    Get(Property("LocalControlIP"), helper_local_);
    qir_input_if_.localIP = helper_local_.c_str();
    Get(Property("LocalControlPort"), value);
    qir_input_if_.localPort = static_cast<uint16_t>(value);
    Get(Property("MaxPayLoadSize"), value);
    if (value < kMinPayload || value > kMaxPayload) {
        KOVAStreamedString text;
        text << "[Birth] MaxPayLoadSize " << value << " is out of range: it must lie between " << kMinPayload << " and "
             << kMaxPayload << " bytes.";
        Error(text);
    }
    qir_input_if_.maxPayloadSize = static_cast<uint16_t>(value);
    Get(Property("TimeoutGet"), value);
    qir_input_if_.timeoutGet_ms = static_cast<uint32_t>(value / 1000);
    Get(Property("TimeoutStream"), value);
    qir_input_if_.timeoutStream_ms = static_cast<uint32_t>(value / 1000);
}

void KOVAImage2Qir::Birth()
{
    component_timeout_ = KOVA::GetIntegerProperty("Engine.shutdownTimeout") / 2;
    qir::unit_client::FollowEngineQuiet();

    bool flag = false;
    Get(Property("WaitForStartTime"), flag); // read, but it has no effect
    Get(Property("Verbose"), flag);
    verbose_ = flag;

    start_event_.Reset();
    firstTime_ = true;
    frameCounter_ = 0;
    framesSent_ = 0;
    blocksSent_ = 0;
    startTs_ = -1;
    stopTs_ = -1;
    offsetTs_ = -1;
    // Every run waits for the unit's first valid status before it sends a
    // time or a sample.
    valid_status_ = false;
    kind_ = SampleKind::None;
    warnedShortPackets_ = false;
    warnedFewerChunks_ = false;

    Get(Property("SkipCsi2ShortPackages"), flag);
    skip_short_packages_ = flag;
    Get(Property("SkipCsi2Preamble"), flag);
    skip_preamble_ = flag;

    Get(Property("StatusUpdatePeriod"), statusPeriodUs_);
    if (statusPeriodUs_ <= 0) {
        KOVAStreamedString text;
        text << "[Birth] StatusUpdatePeriod " << statusPeriodUs_
             << " is out of range: it must be a positive number of microseconds.";
        Error(text);
    }

    BuildInputInterface();
    // The last chunk of a framework image is padded here, sized once per run.
    lastChunk_.assign(qir_input_if_.maxPayloadSize - qir_input_if_.maxPayloadSize % 8, 0);

    VXTQirError result = VXQIR_IsInputInterfaceAvailable(&qir_input_if_);
    if (result != NoError)
        Error((KOVAString("[Birth] Input interface is not available: ") + VXQIR_ErrorToString(result)).c_str());
    if (verbose_)
        ReportInfo("[Birth] Interface available");

    Get(Property("Unregister_Channel"), flag);
    if (flag && qir_ch_handle_ != -1) {
        if (verbose_) {
            KOVAStreamedString text;
            text << "QIR Channel Handle: " << qir_ch_handle_.load();
            ReportInfo(text);
        }
        result = VXQIR_UnregisterOutputChannel(qir_ch_handle_);
        if (result != NoError) {
            ReportWarning(
                (KOVAString("[Birth] Unregistering output channel failed: ") + VXQIR_ErrorToString(result)).c_str());
        } else {
            if (verbose_)
                ReportInfo("[Birth] Unregistering output channel sucessful");
            qir_ch_handle_ = -1;
        }
    }

    int64_t channel = 0;
    Get(Property("ChannelNumber"), channel);
    qir_ch_no_ = static_cast<VXTQirChannelNumber>(channel);
    VXTQirChannelHandle handle = qir_ch_handle_;
    result = VXQIR_RegisterOutputChannel(&qir_input_if_, qir_ch_no_, &handle);
    qir_ch_handle_ = handle;
    if (result != NoError)
        Error((KOVAString("[Birth] Could not register output channel: ") + VXQIR_ErrorToString(result)).c_str());
    if (verbose_)
        ReportInfo("[Birth] Channel registered.");
}

KOVAImage2Qir::SampleKind KOVAImage2Qir::KindOfInput(KOVAInput* input)
{
    const KOVATypeInfo* type = input->Type();
    const KOVATypeInfoValue code = type ? type->code : 0;
    if (code & KOVA::IplImage)
        return SampleKind::Ipl;
    if (code & KOVA::KOVAImage)
        return SampleKind::KovaImage;
    if (code & KOVA::Stream8)
        return SampleKind::Csi2Stream;
    if (code & KOVA::DynamicStructure) {
        if (type->name && std::string_view(type->name) == KOVA_MIPI_CSI2_FRAME_TYPE_NAME)
            return SampleKind::Csi2Frame;
        Error("Unsupported dynamic structure.");
    }
    Error("Unsupported input type.");
    return SampleKind::None;
}

void KOVAImage2Qir::InitPath(KOVAIOElt* element)
{
    switch (kind_) {
    case SampleKind::Ipl:
        init_ipl_image(element);
        break;
    case SampleKind::KovaImage:
        init_kova_image(element);
        break;
    case SampleKind::Csi2Stream:
        init_mipi_csi2_image(element);
        break;
    case SampleKind::Csi2Frame:
        init_kova_csi2_frame(element);
        break;
    case SampleKind::None:
        break;
    }
}

void KOVAImage2Qir::ProcessPath(KOVAIOElt* element)
{
    blocksSent_ = 0;
    bool whole = false;
    switch (kind_) {
    case SampleKind::Ipl:
        whole = process_ipl_image(element);
        break;
    case SampleKind::KovaImage:
        whole = process_kova_image(element);
        break;
    case SampleKind::Csi2Stream:
        whole = process_mipi_csi2_image(element);
        break;
    case SampleKind::Csi2Frame:
        whole = process_kova_csi2_frame(element);
        break;
    case SampleKind::None:
        return;
    }
    FinishFrame(whole);
}

void KOVAImage2Qir::Core()
{
    KOVAInput* input = Input(0);
    // The element stays held until the next StartReading releases it.
    KOVAIOElt* element = StartReading(input);
    if (!element) {
        // Not connected: nothing will ever come; do not spin.
        Rest(kUnconnectedRestUs);
        return;
    }

    if (firstTime_) {
        kind_ = KindOfInput(input);
        InitPath(element);
        CreateThread(&KOVAImage2Qir::WriteStatusToOutput);
        start_event_.Wait(KOVA::Infinite);
        firstTime_ = false;
    }

    while (!valid_status_) {
        ReportWarning("[Core] Waiting for valid status.");
        Rest(kWaitForStatusUs);
    }

    check_and_send_Timestamp(qir_ch_handle_, Offset);
    if (offsetTs_ == -1) {
        Rest(kWaitForTimesUs);
        return;
    }
    if (use_add_ts_inputs_) {
        check_and_send_Timestamp(qir_ch_handle_, Start);
        check_and_send_Timestamp(qir_ch_handle_, Stop);
        if (startTs_ == -1 || stopTs_ == -1) {
            Rest(kWaitForTimesUs);
            return;
        }
    }

    ProcessPath(element);
}

void KOVAImage2Qir::Death()
{
    {
        KOVAStreamedString text;
        text << "[Death]"
             << "Sent " << framesSent_ << " frames.";
        ReportInfo(text);
    }
    if (qir_ch_handle_ == -1)
        return;
    const VXTQirError result = VXQIR_UnregisterOutputChannel(qir_ch_handle_);
    if (result != NoError)
        Error((KOVAString("[Death]") + VXQIR_ErrorToString(result)).c_str());
    KOVAStreamedString text;
    text << "[Death] "
         << "UnregisterOutputChannel " << qir_ch_handle_.load() << " succesful.";
    ReportInfo(text);
    qir_ch_handle_ = -1;
}

void KOVAImage2Qir::ResetQirChannel(KOVAModule* module, int32_t)
{
    auto* self = dynamic_cast<KOVAImage2Qir*>(module);
    if (!self)
        return;
    const VXTQirError result = VXQIR_ResetChannel(self->qir_ch_handle_);
    if (result != NoError)
        self->ReportWarning((KOVAString("Resetting QIR Channel failed: ") + VXQIR_ErrorToString(result)).c_str());
}

void KOVAImage2Qir::ClearStatusFlags(KOVAModule* module, int32_t)
{
    auto* self = dynamic_cast<KOVAImage2Qir*>(module);
    if (!self)
        return;
    const VXTQirError result = VXQIR_ClearStatusFlags(self->qir_ch_handle_);
    if (result != NoError)
        self->ReportWarning((KOVAString("Resetting QIR Channel failed: ") + VXQIR_ErrorToString(result)).c_str());
}
