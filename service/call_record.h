// A call's record as written to the call records file: the fields of the gateway's call report
// and the quality estimated from them, one line of CSV (RFC 4180) or of JSON Lines.
#pragma once

#include <string>

#include "gateway/watch.h"

namespace sipline {

inline constexpr int32_t CDR_CSV = 0;
inline constexpr int32_t CDR_JSONL = 1;

struct call_quality_t {
    double loss_percent;  // of the caller's packets (what the line heard)
    double delay_ms;      // mouth-to-ear estimate: the jitter buffer and a frame
    double rating;        // E-model R
    double mos;
};

// For a call without media (none received, not answered) R and MOS are 0.
call_quality_t CallQuality(const call_report_t &call);
// CDR_CSV or CDR_JSONL for "csv" or "jsonl"; -1 for another name.
int32_t CallRecordFormatByName(const char *name);
// The CSV header line, with its newline.
const char *CallRecordCsvHeader();
// The record as one line, with its newline.
std::string CallRecordLine(const call_report_t &call, int32_t format);
// "2026-12-09T21:40:01.250Z" for a Unix time in ms; "" for 0.
std::string CallRecordTime(int64_t ms);

}  // namespace sipline
