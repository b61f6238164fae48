#include "service/counters.h"

#include <string_view>

namespace sipline {

const char *CountedMethod(const char *method) {
    const std::string_view given = method != nullptr ? method : "";
    for (const char *known : SERVICE_METHODS) {
        if (given == known) {
            return known;
        }
    }
    return "other";
}

const char *CallOutcome(const call_report_t &call) {
    if (call.answer_ms != 0) {
        return "answered";
    }
    return std::string_view(call.end_reason).starts_with("refused") ? "refused" : "unanswered";
}

void service_counters::request(const char *method) {
    std::lock_guard lock(mutex_);
    ++counts_.requests[CountedMethod(method)];
}

void service_counters::answer(const char *method, int32_t status) {
    std::lock_guard lock(mutex_);
    ++counts_.answers[{CountedMethod(method), status}];
}

void service_counters::security_failure(bool authentication) {
    std::lock_guard lock(mutex_);
    ++(authentication ? counts_.auth_failures : counts_.refusals);
}

void service_counters::banned() {
    std::lock_guard lock(mutex_);
    ++counts_.bans;
}

void service_counters::call_ended(const call_report_t &call) {
    std::lock_guard lock(mutex_);
    ++counts_.calls[{call.direction, CallOutcome(call)}];
    counts_.last_calls.push_front(call);
    if (counts_.last_calls.size() > SERVICE_LAST_CALLS) {
        counts_.last_calls.pop_back();
    }
}

service_counts_t service_counters::snapshot() {
    std::lock_guard lock(mutex_);
    return counts_;
}

}  // namespace sipline
