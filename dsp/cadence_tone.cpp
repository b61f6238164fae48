#include <cstdlib>
#include <cstring>

#include "dsp/spandsp_private_internal.h"
#include "dsp/tone_cadence.h"

namespace sipline::dsp {
namespace {

struct StepFree {
    void operator()(super_tone_tx_step_t *s) const { super_tone_tx_free_tone(s); }
};
struct TxFree {
    void operator()(super_tone_tx_state_t *s) const { super_tone_tx_free(s); }
};

// super_tone_tx_make_step fills the first two of a step's four tones and leaves the others as
// malloc left them, which super_tone_tx then plays: a step starts zeroed here. calloc, since
// super_tone_tx_free_tone releases with free().
super_tone_tx_step_t *make_step(float f1, float l1, float f2, float l2, int length, int cycles) {
    auto *zeroed =
        static_cast<super_tone_tx_step_t *>(std::calloc(1, sizeof(super_tone_tx_step_t)));
    if (zeroed == nullptr) {
        return nullptr;
    }
    return super_tone_tx_make_step(zeroed, f1, l1, f2, l2, length, cycles);
}

}  // namespace

struct CadenceTone::State {
    std::unique_ptr<super_tone_tx_step_t, StepFree> tree;
    std::unique_ptr<super_tone_tx_state_t, TxFree> tx;
};

CadenceTone::CadenceTone() : state_(std::make_unique<State>()) {}
CadenceTone::~CadenceTone() = default;
CadenceTone::CadenceTone(CadenceTone &&) noexcept = default;
CadenceTone &CadenceTone::operator=(CadenceTone &&) noexcept = default;

bool CadenceTone::start(const ToneCadence &c, int level_dbm0) {
    stop();
    if (!state_ || c.f1_hz <= 0 || c.on_ms <= 0 || c.off_ms < 0) {
        return false;
    }
    const auto level = static_cast<float>(level_dbm0);
    // An outer step of no length and 0 cycles repeats its nested steps for ever.
    super_tone_tx_step_t *on =
        make_step(static_cast<float>(c.f1_hz), level, static_cast<float>(c.f2_hz),
                  c.f2_hz > 0 ? level : 0.0f, c.on_ms, 1);
    if (on == nullptr) {
        return false;
    }
    std::unique_ptr<super_tone_tx_step_t, StepFree> tree(make_step(0.0f, 0.0f, 0.0f, 0.0f, 0, 0));
    if (!tree) {
        super_tone_tx_free_tone(on);
        return false;
    }
    tree->nest = on;
    if (c.off_ms > 0) {
        on->next = make_step(0.0f, 0.0f, 0.0f, 0.0f, c.off_ms, 1);
    }
    std::unique_ptr<super_tone_tx_state_t, TxFree> tx(super_tone_tx_init(nullptr, tree.get()));
    if (!tx) {
        return false;
    }
    state_->tree = std::move(tree);
    state_->tx = std::move(tx);
    return true;
}

void CadenceTone::stop() {
    if (state_) {
        state_->tx.reset();
        state_->tree.reset();
    }
}

bool CadenceTone::playing() const {
    return state_ && state_->tx;
}

int CadenceTone::generate(int16_t *out, int n) {
    if (out == nullptr || n <= 0 || !playing()) {
        return 0;
    }
    int made = super_tone_tx(state_->tx.get(), out, n);
    if (made < 0) {
        made = 0;
    }
    std::memset(out + made, 0, sizeof(int16_t) * static_cast<size_t>(n - made));
    return n;
}

}  // namespace sipline::dsp
