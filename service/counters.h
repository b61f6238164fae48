// What the gateway has done since it started, as the metrics and the status page show it: SIP
// traffic, calls and their outcomes, security refusals, and the last calls with their quality.
// Filled through the gateway's watch hooks from its threads; read by the HTTP server's.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "gateway/watch.h"

namespace sipline {

inline constexpr size_t SERVICE_LAST_CALLS = 20;
// Distinct methods counted; others count as "other", so that a flood of made-up methods cannot
// grow the tables.
inline constexpr const char *SERVICE_METHODS[] = {
    "INVITE", "ACK",   "BYE",       "CANCEL", "OPTIONS", "REGISTER", "INFO",
    "UPDATE", "PRACK", "SUBSCRIBE", "NOTIFY", "REFER",   "MESSAGE"};

struct service_counts_t {
    std::map<std::string, int64_t> requests;                       // by method
    std::map<std::pair<std::string, int32_t>, int64_t> answers;    // by method and status
    std::map<std::pair<std::string, std::string>, int64_t> calls;  // by direction and outcome
    int64_t auth_failures = 0;
    int64_t refusals = 0;  // other security refusals (source, number)
    int64_t bans = 0;
    std::deque<call_report_t> last_calls;  // the newest first
};

class service_counters {
  public:
    void request(const char *method);
    void answer(const char *method, int32_t status);
    void security_failure(bool authentication);
    void banned();
    void call_ended(const call_report_t &call);
    service_counts_t snapshot();

  private:
    std::mutex mutex_;  // guards counts_
    service_counts_t counts_;
};

// "answered"; "refused" (by the gateway's policy, or by the SIP callee of a call from the line);
// "unanswered" (cancelled, given up, the line unavailable, a number not found).
const char *CallOutcome(const call_report_t &call);
// The method as counted: one of SERVICE_METHODS, or "other".
const char *CountedMethod(const char *method);

}  // namespace sipline
