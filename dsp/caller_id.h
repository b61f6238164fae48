// Caller identity on an analogue line: the messages (Telcordia GR-30 SDMF and MDMF, ETSI
// EN 300 659-3 MDMF, ETSI DTMF digit strings), and their sending and receiving as Bell 202 FSK,
// V.23 FSK or DTMF, linear 16-bit samples at 8 kHz.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sipline::dsp {

enum class CallerIdStandard { bell, v23, dtmf };

// Why a number or a name is missing, as the exchange says it.
enum class CallerIdAbsence { none, withheld, unavailable };  // 'P' private, 'O' out of area

// What one message says. Empty texts are absent. A number holds digits only; a name only
// printable ASCII; the date is "MMDDHHMM".
struct CallerId {
    std::string date;
    std::string number;
    std::string name;
    CallerIdAbsence number_absence = CallerIdAbsence::none;
    CallerIdAbsence name_absence = CallerIdAbsence::none;
};

inline constexpr size_t CALLER_ID_NUMBER_MAX = 20;
inline constexpr size_t CALLER_ID_NAME_MAX = 50;  // ETSI's longest name; GR-30 sends 15

// Result codes of the readers.
inline constexpr int CALLER_ID_OK = 0;
inline constexpr int CALLER_ID_TRUNCATED = -1;     // lengths run past the message
inline constexpr int CALLER_ID_NOT_IDENTITY = -2;  // another message type (message waiting)
inline constexpr int CALLER_ID_BAD_FIELD = -3;     // a field's text breaks its rules
inline constexpr int CALLER_ID_TOO_LONG = -4;      // a number or a name past its most
inline constexpr int CALLER_ID_NOTHING = -5;       // neither number nor absence marker
inline constexpr int CALLER_ID_BAD_CHECKSUM = -6;

// The text of a result code ("bad checksum").
const char *caller_id_result_text(int result);

// Reads an FSK message as the receiver delivers it: message type, length, body, no checksum.
// Fills *out only on CALLER_ID_OK; a message with any field that breaks its rules is refused
// whole, so that a damaged message never yields a wrong identity.
int caller_id_read(const uint8_t *message, size_t length, CallerId *out);
// The same for a message that still ends in its checksum (the modulo-256 sum of all bytes,
// checksum included, is 0).
int caller_id_read_checked(const uint8_t *message, size_t length, CallerId *out);
// Reads an ETSI DTMF caller-ID string: "A<number>C", "D<number>C" (Taiwan), "A<number>#",
// "B00C"/"D3#" (unavailable), "B10C"/"D1#" (withheld).
int caller_id_read_dtmf(std::string_view digits, CallerId *out);

// The MDMF message for `id` (type, length, fields; no checksum), and the DTMF string
// ("A5551234C", "B10C"). Names and numbers are cut at their most.
std::vector<uint8_t> caller_id_build_mdmf(const CallerId &id);
std::string caller_id_build_dtmf(const CallerId &id);

// Sends one identity the way the exchange does (spandsp adsi_tx): channel seizure, marks and the
// message with its checksum for FSK, the digit string for DTMF.
class CallerIdSender {
  public:
    explicit CallerIdSender(CallerIdStandard standard);
    ~CallerIdSender();
    CallerIdSender(CallerIdSender &&) noexcept;
    CallerIdSender &operator=(CallerIdSender &&) noexcept;
    CallerIdSender(const CallerIdSender &) = delete;
    CallerIdSender &operator=(const CallerIdSender &) = delete;

    // Starts sending `id`, replacing anything in progress; `bad_checksum` sends a checksum that
    // does not add up (a line hit, for tests). false when nothing can be sent.
    bool start(const CallerId &id, bool bad_checksum = false);
    bool sending() const;
    // Writes up to n samples; returns n while sending (zeros after the end), 0 when idle.
    int generate(int16_t *out, int n);
    // Samples the whole of `id` takes to send; for fitting it between two rings.
    static int duration_samples(CallerIdStandard standard, const CallerId &id);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Listens for one identity (spandsp adsi_rx). A message whose checksum fails is dropped by the
// demodulator itself; one that arrives whole but breaks the rules is refused with its reason.
class CallerIdReceiver {
  public:
    explicit CallerIdReceiver(CallerIdStandard standard);
    ~CallerIdReceiver();
    CallerIdReceiver(CallerIdReceiver &&) noexcept;
    CallerIdReceiver &operator=(CallerIdReceiver &&) noexcept;
    CallerIdReceiver(const CallerIdReceiver &) = delete;
    CallerIdReceiver &operator=(const CallerIdReceiver &) = delete;

    void feed(const int16_t *samples, int n);
    // The identity of the first message read whole; false until one has.
    bool identity(CallerId *out) const;
    // Why the last message heard was refused; empty when none was.
    const std::string &refusal() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace sipline::dsp
