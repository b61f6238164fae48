#include "dsp/caller_id.h"
#include "dsp/spandsp_private_internal.h"

namespace sipline::dsp {
namespace {

struct AdsiRxFree {
    void operator()(adsi_rx_state_t *s) const { adsi_rx_free(s); }
};

// adsi_rx leaves fsk_rx at its default cutoff (-30 dBm0); caller ID arrives at -40 dBm0 and
// below on long loops (GR-30 allows down to -42 dBm0 at the CPE).
constexpr float kFskCutoffDbm0 = -45.0f;

}  // namespace

struct CallerIdReceiver::State {
    CallerIdStandard standard = CallerIdStandard::bell;
    std::unique_ptr<adsi_rx_state_t, AdsiRxFree> rx;
    bool have = false;
    CallerId id;
    std::string refusal;

    static void put_msg(void *user, const uint8_t *msg, int len) {
        auto *self = static_cast<State *>(user);
        if (self->have || msg == nullptr || len <= 0) {
            return;
        }
        CallerId id;
        int result = self->standard == CallerIdStandard::dtmf
                         ? caller_id_read_dtmf(std::string_view(reinterpret_cast<const char *>(msg),
                                                                static_cast<size_t>(len)),
                                               &id)
                         : caller_id_read(msg, static_cast<size_t>(len), &id);
        if (result == CALLER_ID_OK) {
            self->id = std::move(id);
            self->have = true;
        } else if (result != CALLER_ID_NOT_IDENTITY) {
            self->refusal = caller_id_result_text(result);
        }
    }
};

CallerIdReceiver::CallerIdReceiver(CallerIdStandard standard) : state_(std::make_unique<State>()) {
    state_->standard = standard;
    int code = standard == CallerIdStandard::bell  ? ADSI_STANDARD_CLASS
               : standard == CallerIdStandard::v23 ? ADSI_STANDARD_CLIP
                                                   : ADSI_STANDARD_CLIP_DTMF;
    state_->rx.reset(adsi_rx_init(nullptr, code, &State::put_msg, state_.get()));
    if (state_->rx && standard != CallerIdStandard::dtmf) {
        fsk_rx_signal_cutoff(&state_->rx->fskrx, kFskCutoffDbm0);
    }
}

CallerIdReceiver::~CallerIdReceiver() = default;
CallerIdReceiver::CallerIdReceiver(CallerIdReceiver &&) noexcept = default;
CallerIdReceiver &CallerIdReceiver::operator=(CallerIdReceiver &&) noexcept = default;

void CallerIdReceiver::feed(const int16_t *samples, int n) {
    if (!state_ || !state_->rx || samples == nullptr || n <= 0) {
        return;
    }
    adsi_rx(state_->rx.get(), samples, n);
}

bool CallerIdReceiver::identity(CallerId *out) const {
    if (!state_ || !state_->have) {
        return false;
    }
    if (out != nullptr) {
        *out = state_->id;
    }
    return true;
}

const std::string &CallerIdReceiver::refusal() const {
    static const std::string none;
    return state_ ? state_->refusal : none;
}

}  // namespace sipline::dsp
