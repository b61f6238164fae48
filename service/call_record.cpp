#include "service/call_record.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "media/codecs.h"
#include "service/emodel.h"

namespace sipline {
namespace {

constexpr double FRAME_MS = FRAME_SAMPLES / 8.0;

// The columns, in the order both formats write them.
constexpr const char *CSV_HEADER =
    "start,answer,end,direction,caller,number,codec,end_reason,end_side,packets_sent,"
    "packets_received,packets_lost,remote_lost,jitter_ms,concealed_ms,r_factor,mos\n";

// RFC 4180: a field with a comma, quote or line break is quoted, its quotes doubled.
void csv_field(std::string &out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
}

// RFC 8259 section 7: quote, backslash and control characters escaped; other bytes as they are
// (the gateway's texts come from SIP headers, which are UTF-8).
void json_string(std::string &out, std::string_view text) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string number(int64_t value) {
    return std::to_string(value);
}

}  // namespace

call_quality_t CallQuality(const call_report_t &call) {
    const media_figures_t &m = call.media;
    const int64_t expected = m.received + m.lost;
    if (call.answer_ms == 0 || expected <= 0) {
        return {0, 0, 0, 0};
    }
    call_quality_t q{};
    q.loss_percent = 100.0 * static_cast<double>(m.lost) / static_cast<double>(expected);
    q.delay_ms = m.delay_ms + FRAME_MS;
    q.rating = EModelRating(EModelCodec(call.codec), q.loss_percent, q.delay_ms);
    q.mos = EModelMos(q.rating);
    return q;
}

int32_t CallRecordFormatByName(const char *name) {
    const std::string_view format = name != nullptr ? name : "";
    return format == "csv" ? CDR_CSV : format == "jsonl" ? CDR_JSONL : -1;
}

const char *CallRecordCsvHeader() {
    return CSV_HEADER;
}

std::string CallRecordTime(int64_t ms) {
    if (ms <= 0) {
        return "";
    }
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

std::string CallRecordLine(const call_report_t &call, int32_t format) {
    const call_quality_t q = CallQuality(call);
    const media_figures_t &m = call.media;
    // Name, value, whether the value is text; in CSV_HEADER's order.
    const struct {
        const char *name;
        std::string value;
        bool text;
    } fields[] = {
        {"start", CallRecordTime(call.start_ms), true},
        {"answer", CallRecordTime(call.answer_ms), true},
        {"end", CallRecordTime(call.end_ms), true},
        {"direction", call.direction, true},
        {"caller", call.caller, true},
        {"number", call.number, true},
        {"codec", call.codec, true},
        {"end_reason", call.end_reason, true},
        {"end_side", call.end_side, true},
        {"packets_sent", number(m.sent), false},
        {"packets_received", number(m.received), false},
        {"packets_lost", number(m.lost), false},
        {"remote_lost", number(m.remote_lost), false},
        {"jitter_ms", number(m.jitter_ms), false},
        {"concealed_ms", number(static_cast<int64_t>(m.concealed * FRAME_MS)), false},
        {"r_factor", number(q.rating), false},
        {"mos", number(q.mos), false},
    };
    std::string line;
    bool first = true;
    line += format == CDR_JSONL ? "{" : "";
    for (const auto &f : fields) {
        line += first ? "" : ",";
        first = false;
        if (format == CDR_JSONL) {
            json_string(line, f.name);
            line += ':';
            if (f.text) {
                json_string(line, f.value);
            } else {
                line += f.value;
            }
        } else {
            csv_field(line, f.value);
        }
    }
    line += format == CDR_JSONL ? "}\n" : "\n";
    return line;
}

}  // namespace sipline
