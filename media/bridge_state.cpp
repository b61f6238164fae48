#include "media/bridge_state.h"

namespace sipline {

std::atomic<int32_t> CallLoopRunning{1};
std::atomic<int32_t> QuitRequested{0};
std::atomic<int32_t> MediaStop{0};

HANDLE RtpMutex = nullptr;
HANDLE shdwnhandle = nullptr;
HANDLE RescheduleEvent = nullptr;

char RTPDestAddress[RTP_DEST_ADDRESS_SIZE] = "";
std::atomic<uint16_t> RTPDestPort{0};
std::atomic<uint8_t> RTPDestTTL{0};

media_description_t MediaDescriptionBuiltIn() {
    media_description_t d = MediaDescriptionEmpty();
    d.payload_type[SDP_CODEC_PCMU] = static_cast<int8_t>(SdpCodecStaticPayloadType(SDP_CODEC_PCMU));
    d.payload_type[SDP_CODEC_GSM] = static_cast<int8_t>(SdpCodecStaticPayloadType(SDP_CODEC_GSM));
    d.send_codec = SDP_CODEC_GSM;
    return d;
}

media_description_t CallMedia = MediaDescriptionBuiltIn();
const char *LocalAddress = nullptr;
uint16_t LocalPort = RTP_PORT;

stream_t PlayStream = nullptr;
stream_t RecordStream = nullptr;
HANDLE RecordStreamEvent = nullptr;
int32_t FWBuffersize = 768;

}  // namespace sipline
