#include <cstring>

#include "dsp/caller_id.h"
#include "dsp/spandsp_private_internal.h"

namespace sipline::dsp {
namespace {

struct AdsiTxFree {
    void operator()(adsi_tx_state_t *s) const { adsi_tx_free(s); }
};

int standard_code(CallerIdStandard standard) {
    switch (standard) {
        case CallerIdStandard::bell:
            return ADSI_STANDARD_CLASS;
        case CallerIdStandard::v23:
            return ADSI_STANDARD_CLIP;
        case CallerIdStandard::dtmf:
            return ADSI_STANDARD_CLIP_DTMF;
    }
    return ADSI_STANDARD_CLASS;
}

// adsi_tx's framing for FSK: 300 bits of channel seizure, 180 marks, 10 bits a byte, and a few
// marks after; 1200 bit/s for both Bell 202 and V.23. DTMF: adsi_tx's 50 ms tone, 55 ms gap.
constexpr int kFskFramingBits = 300 + 180 + 10;
constexpr int kSamplesPerBit = 8000 / 1200 + 1;
constexpr int kDtmfSamplesPerDigit = (50 + 55) * 8;

}  // namespace

struct CallerIdSender::State {
    CallerIdStandard standard = CallerIdStandard::bell;
    std::unique_ptr<adsi_tx_state_t, AdsiTxFree> tx;
    bool sending = false;
};

CallerIdSender::CallerIdSender(CallerIdStandard standard) : state_(std::make_unique<State>()) {
    state_->standard = standard;
}
CallerIdSender::~CallerIdSender() = default;
CallerIdSender::CallerIdSender(CallerIdSender &&) noexcept = default;
CallerIdSender &CallerIdSender::operator=(CallerIdSender &&) noexcept = default;

bool CallerIdSender::start(const CallerId &id, bool bad_checksum) {
    if (!state_) {
        return false;
    }
    state_->sending = false;
    // A fresh transmitter for every message: adsi_tx refuses a message while one is queued.
    state_->tx.reset(adsi_tx_init(nullptr, standard_code(state_->standard)));
    if (!state_->tx) {
        return false;
    }
    int put = -1;
    if (state_->standard == CallerIdStandard::dtmf) {
        std::string digits = caller_id_build_dtmf(id);
        if (bad_checksum) {
            digits.pop_back();  // DTMF has no checksum: the nearest damage is a lost end mark
        }
        put =
            adsi_tx_put_message(state_->tx.get(), reinterpret_cast<const uint8_t *>(digits.data()),
                                static_cast<int>(digits.size()));
    } else {
        std::vector<uint8_t> message = caller_id_build_mdmf(id);
        put =
            adsi_tx_put_message(state_->tx.get(), message.data(), static_cast<int>(message.size()));
        if (put > 0 && bad_checksum) {
            adsi_tx_state_t *s = state_->tx.get();
            s->msg[s->msg_len - 1] ^= 0x5a;
        }
    }
    state_->sending = put > 0;
    return state_->sending;
}

bool CallerIdSender::sending() const {
    return state_ && state_->sending;
}

int CallerIdSender::generate(int16_t *out, int n) {
    if (out == nullptr || n <= 0 || !sending()) {
        return 0;
    }
    int made = adsi_tx(state_->tx.get(), out, n);
    if (made < n) {
        state_->sending = false;
        std::memset(out + made, 0, sizeof(int16_t) * static_cast<size_t>(n - made));
    }
    return n;
}

int CallerIdSender::duration_samples(CallerIdStandard standard, const CallerId &id) {
    if (standard == CallerIdStandard::dtmf) {
        return static_cast<int>(caller_id_build_dtmf(id).size()) * kDtmfSamplesPerDigit;
    }
    const int bytes = static_cast<int>(caller_id_build_mdmf(id).size()) + 1;
    return (kFskFramingBits + 10 * bytes) * kSamplesPerBit;
}

}  // namespace sipline::dsp
