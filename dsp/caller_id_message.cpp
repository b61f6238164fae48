// The caller-ID messages: Telcordia GR-30 SDMF (0x04) and MDMF (0x80), ETSI EN 300 659-3 call
// set-up (0x80, the same parameter codes for what a gateway uses), and the ETSI DTMF strings.
#include <algorithm>

#include "dsp/caller_id.h"

namespace sipline::dsp {
namespace {

constexpr uint8_t SDMF_CALLER_ID = 0x04;
constexpr uint8_t MDMF_CALLER_ID = 0x80;

constexpr uint8_t FIELD_DATE = 0x01;
constexpr uint8_t FIELD_NUMBER = 0x02;
constexpr uint8_t FIELD_NUMBER_ABSENT = 0x04;
constexpr uint8_t FIELD_NAME = 0x07;
constexpr uint8_t FIELD_NAME_ABSENT = 0x08;

constexpr size_t DATE_LENGTH = 8;
// What the builder sends at most, so that the whole message stays within the 255 bytes the
// length byte counts (and spandsp's 256-byte buffer, checksum included).
constexpr size_t BUILD_NUMBER_MAX = 32;
constexpr size_t BUILD_NAME_MAX = 200;
static_assert(2 + (2 + DATE_LENGTH) + (2 + BUILD_NUMBER_MAX) + (2 + BUILD_NAME_MAX) + 1 <= 256);
constexpr size_t BUILD_DTMF_NUMBER_MAX = 64;  // adsi_tx takes fewer than 128 digits

struct ResultText {
    int result;
    const char *text;
};
constexpr ResultText kResults[] = {
    {CALLER_ID_OK, "ok"},
    {CALLER_ID_TRUNCATED, "message cut short"},
    {CALLER_ID_NOT_IDENTITY, "not a caller-ID message"},
    {CALLER_ID_BAD_FIELD, "field breaks its rules"},
    {CALLER_ID_TOO_LONG, "number or name too long"},
    {CALLER_ID_NOTHING, "neither number nor reason for its absence"},
    {CALLER_ID_BAD_CHECKSUM, "bad checksum"},
};

bool all_digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int two_digits(std::string_view text, size_t at) {
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

bool valid_date(std::string_view date) {
    if (date.size() != DATE_LENGTH || !all_digits(date)) {
        return false;
    }
    int month = two_digits(date, 0), day = two_digits(date, 2);
    int hour = two_digits(date, 4), minute = two_digits(date, 6);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59;
}

int take_number(std::string_view text, std::string *number) {
    if (text.empty() || !all_digits(text)) {
        return CALLER_ID_BAD_FIELD;
    }
    if (text.size() > CALLER_ID_NUMBER_MAX) {
        return CALLER_ID_TOO_LONG;
    }
    number->assign(text);
    return CALLER_ID_OK;
}

// Printable ASCII only: a name goes into a SIP header and a log line. Trailing blanks are the
// padding of fixed-width displays.
int take_name(std::string_view text, std::string *name) {
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7e; })) {
        return CALLER_ID_BAD_FIELD;
    }
    if (text.size() > CALLER_ID_NAME_MAX) {
        return CALLER_ID_TOO_LONG;
    }
    name->assign(text);
    return CALLER_ID_OK;
}

int take_absence(std::string_view text, CallerIdAbsence *absence) {
    if (text == "P") {
        *absence = CallerIdAbsence::withheld;
    } else if (text == "O") {
        *absence = CallerIdAbsence::unavailable;
    } else {
        return CALLER_ID_BAD_FIELD;
    }
    return CALLER_ID_OK;
}

// A number and its absence marker exclude each other, and so do a name and its.
int finish(CallerId &id) {
    if ((!id.number.empty() && id.number_absence != CallerIdAbsence::none) ||
        (!id.name.empty() && id.name_absence != CallerIdAbsence::none)) {
        return CALLER_ID_BAD_FIELD;
    }
    if (id.number.empty() && id.number_absence == CallerIdAbsence::none) {
        return CALLER_ID_NOTHING;
    }
    return CALLER_ID_OK;
}

int read_sdmf(std::string_view body, CallerId *id) {
    if (body.size() < DATE_LENGTH + 1) {
        return CALLER_ID_TRUNCATED;
    }
    if (!valid_date(body.substr(0, DATE_LENGTH))) {
        return CALLER_ID_BAD_FIELD;
    }
    id->date.assign(body.substr(0, DATE_LENGTH));
    std::string_view rest = body.substr(DATE_LENGTH);
    if (rest == "P" || rest == "O") {
        return take_absence(rest, &id->number_absence);
    }
    return take_number(rest, &id->number);
}

int read_mdmf(std::string_view body, CallerId *id) {
    bool seen[256] = {};
    while (!body.empty()) {
        if (body.size() < 2 || static_cast<uint8_t>(body[1]) > body.size() - 2) {
            return CALLER_ID_TRUNCATED;
        }
        const auto type = static_cast<uint8_t>(body[0]);
        std::string_view value = body.substr(2, static_cast<uint8_t>(body[1]));
        body.remove_prefix(2 + value.size());
        if (seen[type]) {
            return CALLER_ID_BAD_FIELD;
        }
        seen[type] = true;
        int result = CALLER_ID_OK;
        switch (type) {
            case FIELD_DATE:
                result = valid_date(value) ? CALLER_ID_OK : CALLER_ID_BAD_FIELD;
                id->date.assign(value);
                break;
            case FIELD_NUMBER:
                result = take_number(value, &id->number);
                break;
            case FIELD_NUMBER_ABSENT:
                result = take_absence(value, &id->number_absence);
                break;
            case FIELD_NAME:
                result = take_name(value, &id->name);
                break;
            case FIELD_NAME_ABSENT:
                result = take_absence(value, &id->name_absence);
                break;
            default:
                break;  // call type, dialled number, redirection: not ours to judge
        }
        if (result != CALLER_ID_OK) {
            return result;
        }
    }
    return CALLER_ID_OK;
}

std::string cut(const std::string &text, size_t most) {
    return text.substr(0, std::min(text.size(), most));
}

void add_field(std::vector<uint8_t> &message, uint8_t type, std::string_view value) {
    message.push_back(type);
    message.push_back(static_cast<uint8_t>(value.size()));
    message.insert(message.end(), value.begin(), value.end());
}

char absence_letter(CallerIdAbsence absence) {
    return absence == CallerIdAbsence::withheld ? 'P' : 'O';
}

}  // namespace

const char *caller_id_result_text(int result) {
    for (const ResultText &row : kResults) {
        if (row.result == result) {
            return row.text;
        }
    }
    return "unknown result";
}

int caller_id_read(const uint8_t *message, size_t length, CallerId *out) {
    if (message == nullptr || length < 2) {
        return CALLER_ID_TRUNCATED;
    }
    if (message[1] != length - 2) {
        return message[1] > length - 2 ? CALLER_ID_TRUNCATED : CALLER_ID_BAD_FIELD;
    }
    std::string_view body(reinterpret_cast<const char *>(message) + 2, length - 2);
    CallerId id;
    int result = CALLER_ID_NOT_IDENTITY;
    if (message[0] == SDMF_CALLER_ID) {
        result = read_sdmf(body, &id);
    } else if (message[0] == MDMF_CALLER_ID) {
        result = read_mdmf(body, &id);
    }
    if (result == CALLER_ID_OK) {
        result = finish(id);
    }
    if (result == CALLER_ID_OK && out != nullptr) {
        *out = std::move(id);
    }
    return result;
}

int caller_id_read_checked(const uint8_t *message, size_t length, CallerId *out) {
    if (message == nullptr || length < 3) {
        return CALLER_ID_TRUNCATED;
    }
    unsigned sum = 0;
    for (size_t i = 0; i < length; ++i) {
        sum += message[i];
    }
    if ((sum & 0xff) != 0) {
        return CALLER_ID_BAD_CHECKSUM;
    }
    return caller_id_read(message, length - 1, out);
}

int caller_id_read_dtmf(std::string_view digits, CallerId *out) {
    if (digits.size() < 2) {
        return CALLER_ID_TRUNCATED;
    }
    const char end = digits.back();
    if (end != 'C' && end != '#') {
        return CALLER_ID_TRUNCATED;
    }
    std::string_view inner = digits.substr(1, digits.size() - 2);
    CallerId id;
    int result = CALLER_ID_BAD_FIELD;
    switch (digits.front()) {
        case 'A':
            // A number, then perhaps a redirecting number (D) or information (B): only the
            // caller's own number is ours.
            result = take_number(inner.substr(0, inner.find_first_of("BD")), &id.number);
            break;
        case 'B':
            if (inner == "10") {
                id.number_absence = CallerIdAbsence::withheld;
                result = CALLER_ID_OK;
            } else if (inner == "00") {
                id.number_absence = CallerIdAbsence::unavailable;
                result = CALLER_ID_OK;
            }
            break;
        case 'D':
            if (end == '#' && inner == "1") {
                id.number_absence = CallerIdAbsence::withheld;
                result = CALLER_ID_OK;
            } else if (end == '#' && (inner == "2" || inner == "3")) {
                id.number_absence = CallerIdAbsence::unavailable;
                result = CALLER_ID_OK;
            } else if (end == 'C') {
                result = take_number(inner, &id.number);
            }
            break;
        default:
            break;
    }
    if (result == CALLER_ID_OK) {
        result = finish(id);
    }
    if (result == CALLER_ID_OK && out != nullptr) {
        *out = std::move(id);
    }
    return result;
}

std::vector<uint8_t> caller_id_build_mdmf(const CallerId &id) {
    std::vector<uint8_t> message{MDMF_CALLER_ID, 0};
    if (!id.date.empty()) {
        add_field(message, FIELD_DATE, cut(id.date, DATE_LENGTH));
    }
    if (id.number_absence != CallerIdAbsence::none) {
        add_field(message, FIELD_NUMBER_ABSENT, std::string(1, absence_letter(id.number_absence)));
    } else {
        add_field(message, FIELD_NUMBER, cut(id.number, BUILD_NUMBER_MAX));
    }
    if (id.name_absence != CallerIdAbsence::none) {
        add_field(message, FIELD_NAME_ABSENT, std::string(1, absence_letter(id.name_absence)));
    } else if (!id.name.empty()) {
        add_field(message, FIELD_NAME, cut(id.name, BUILD_NAME_MAX));
    }
    message[1] = static_cast<uint8_t>(message.size() - 2);
    return message;
}

std::string caller_id_build_dtmf(const CallerId &id) {
    switch (id.number_absence) {
        case CallerIdAbsence::withheld:
            return "B10C";
        case CallerIdAbsence::unavailable:
            return "B00C";
        case CallerIdAbsence::none:
            break;
    }
    return "A" + cut(id.number, BUILD_DTMF_NUMBER_MAX) + "C";
}

}  // namespace sipline::dsp
