// A received RTCP XR packet: the reader of its VoIP metrics block, over any bytes. What it
// reads must write back to the same block and read again the same.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "rtp/rtcp_xr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace sipline;
    // A copy of exactly size bytes, so that a read past the input is seen by the sanitizer.
    std::vector<uint8_t> packet(data, data + size);
    uint32_t reporter = 0;
    rtp_voip_metrics_t metrics;
    if (!rtcp_read_xr_voip(packet.data(), packet.size(), &reporter, &metrics)) {
        return 0;
    }
    std::vector<uint8_t> again(rtcp_xr_voip_size());
    rtcp_put_xr_voip(again.data(), reporter, metrics);
    uint32_t reporter2 = 0;
    rtp_voip_metrics_t metrics2;
    if (!rtcp_read_xr_voip(again.data(), again.size(), &reporter2, &metrics2)) {
        __builtin_trap();
    }
    // Compared in wire form: the record has padding.
    std::vector<uint8_t> third(rtcp_xr_voip_size());
    rtcp_put_xr_voip(third.data(), reporter2, metrics2);
    if (third != again) {
        __builtin_trap();
    }
    return 0;
}
