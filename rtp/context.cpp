#include "rtp/context.h"

#include <arpa/inet.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>

#include "rtp/context_internal.h"
#include "rtp/members_internal.h"

namespace sipline {

namespace {

constexpr size_t initial_slots = 256;
constexpr size_t slot_growth = 10;

// The process-wide context table. Slots are created, filled and emptied by RTPCreate and
// RTPDestroy on any thread while other threads look contexts up; the mutex orders the two.
// It guards the table only, never a context's record.
struct context_table {
    std::mutex mutex;
    std::vector<std::unique_ptr<rtp_context_t>> slots;
    int32_t in_use = 0;
    uint64_t last_serial = 0;
    // The first slots again, for look-ups without the mutex (every RTPSend and RTPReceive
    // makes one): written under the mutex by RTPLowLevelCreate once the record is complete
    // (release) and by RTPLowLevelDestroy before the record goes; read by RTPContextFind
    // (acquire). A null entry sends the look-up to the slots, which report the error.
    std::array<std::atomic<rtp_context_t *>, initial_slots> published{};
};

context_table &table() {
    static context_table instance;
    return instance;
}

struct stamp_rate_row {
    int32_t rate;
    std::initializer_list<int> payload_types;
};

// Microseconds per timestamp unit of the static payload types (RFC 1890 clock rates).
const stamp_rate_row default_stamp_rates[] = {
    {125, {0, 1, 2, 3, 4, 5, 7, 8, 12, 13, 15, 18}}, {63, {6, 9}}, {23, {10, 11}},
    {11, {14, 25, 26, 28, 31, 32, 33, 34}},          {91, {16}},   {45, {17}},
};

void set_default_stamp_rates(rtp_context_t *ctx) {
    ctx->stamp_rate.fill(0);
    for (const auto &row : default_stamp_rates) {
        for (int pt : row.payload_types) {
            ctx->stamp_rate[pt] = row.rate;
        }
    }
}

// The session's member address callback wants text: dotted address and "%hu" port.
void member_address_relay(int32_t context, int32_t member, const sockaddr_in *address,
                          int32_t rtcp) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "member_address_relay", &error);
    if (ctx == nullptr || ctx->session == nullptr || ctx->session->member_address == nullptr) {
        return;
    }
    char host[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address->sin_addr, host, sizeof host);
    char port[8];
    std::snprintf(port, sizeof port, "%hu", ntohs(address->sin_port));
    ctx->session->member_address(context, member, host, port, rtcp);
}

}  // namespace

rtp_context_t *RTPContextFind(int32_t context, const char *caller, rtperror *error) {
    context_table &t = table();
    if (context >= 0 && static_cast<size_t>(context) < t.published.size()) {
        if (rtp_context_t *ctx = t.published[context].load(std::memory_order_acquire)) {
            return ctx;
        }
    }
    std::lock_guard lock(t.mutex);
    if (context < 0 || static_cast<size_t>(context) >= t.slots.size()) {
        *error = RTPReportError(RTP_UNKNOWN_CONTEXT, caller, "unknown context %d", context);
        return nullptr;
    }
    rtp_context_t *ctx = t.slots[context].get();
    if (ctx == nullptr) {
        *error =
            RTPReportError(RTP_UNKNOWN_CONTEXT, caller, "context %d currently not in use", context);
    }
    return ctx;
}

rtp_context_t *RTPContextWithSession(int32_t context, const char *caller, rtperror *error) {
    rtp_context_t *ctx = RTPContextFind(context, caller, error);
    if (ctx != nullptr && ctx->session == nullptr) {
        *error = RTPReportError(RTP_UNKNOWN_CONTEXT, caller, "context %d has no session", context);
        return nullptr;
    }
    return ctx;
}

rtp_session_t *RTPSessionFind(int32_t context, const char *caller, rtperror *error) {
    rtp_context_t *ctx = RTPContextWithSession(context, caller, error);
    return ctx == nullptr ? nullptr : ctx->session.get();
}

rtp_session_call::rtp_session_call(int32_t context, const char *caller) {
    rtp_context_t *ctx = RTPContextWithSession(context, caller, &error_);
    if (ctx == nullptr) {
        return;
    }
    busy_.emplace(ctx->session->busy);
    if (!busy_->taken()) {
        error_ = RTPBusyError(ctx, caller);
        return;
    }
    ctx_ = ctx;
}

rtperror RTPBusyError(const rtp_context_t *ctx, const char *caller) {
    return RTPReportError(RTP_CANT_CALL_FUNCTION, caller, "context %d, cannot be called now",
                          ctx->number);
}

rtperror RTPLowLevelCreate(int32_t *context) {
    timeval now = rtp_now();
    std::srand(static_cast<unsigned>(now.tv_usec));

    std::unique_ptr<rtp_context_t> ctx(new (std::nothrow) rtp_context_t);
    context_table &t = table();
    std::unique_lock lock(t.mutex);
    if (ctx == nullptr) {
        return RTPReportError(RTP_CANT_ALLOC_MEM, "RTPLowLevelCreate", "%ld contexts in use",
                              static_cast<long>(t.in_use));
    }
    size_t slot = 0;
    if (static_cast<size_t>(t.in_use) < t.slots.size()) {
        while (t.slots[slot] != nullptr) {
            ++slot;
        }
    } else {
        slot = t.slots.size();
        t.slots.resize(t.slots.empty() ? initial_slots : t.slots.size() + slot_growth);
    }
    rtp_context_t *record = ctx.get();
    record->number = static_cast<int32_t>(slot);
    record->serial = ++t.last_serial;
    set_default_stamp_rates(record);
    record->timestamp_base = random32();
    record->first_sequence = random32() % 65536;
    record->next_sequence = record->first_sequence;
    record->recent_address.sin_family = RTP_FAMILY_UNKNOWN;
    RTPMembersInit(record);
    record->last_rtcp = now;
    t.slots[slot] = std::move(ctx);
    if (slot < t.published.size()) {
        t.published[slot].store(record, std::memory_order_release);
    }
    ++t.in_use;
    *context = record->number;
    return RTP_OK;
}

rtperror RTPLowLevelDestroy(int32_t context) {
    rtperror error = RTP_OK;
    if (RTPContextFind(context, "RTPLowLevelDestroy", &error) == nullptr) {
        return error;
    }
    std::unique_ptr<rtp_context_t> record;
    {
        context_table &t = table();
        std::lock_guard lock(t.mutex);
        if (static_cast<size_t>(context) < t.published.size()) {
            t.published[context].store(nullptr, std::memory_order_release);
        }
        record = std::move(t.slots[context]);
        --t.in_use;
    }
    RTPMembersClear(record.get());
    return RTP_OK;
}

rtperror RTPCreate(int32_t *context) {
    std::unique_ptr<rtp_session_t> session(new (std::nothrow) rtp_session_t);
    if (session == nullptr) {
        return RTPReportError(RTP_CANT_ALLOC_MEM, "RTPCreate", "Cannot allocate memory");
    }
    int32_t number = 0;
    rtperror error = RTPLowLevelCreate(&number);
    if (error != RTP_OK) {
        return error;
    }
    rtp_context_t *ctx = RTPContextFind(number, "RTPCreate", &error);
    ctx->session = std::move(session);
    ctx->new_address = member_address_relay;
    *context = number;
    return RTP_OK;
}

rtperror RTPDestroy(int32_t context) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPDestroy", &error);
    if (ctx == nullptr) {
        return error;
    }
    if (ctx->session != nullptr && ctx->session->open) {
        error = RTPCloseConnection(context, nullptr);
        if (error != RTP_OK) {
            return error;
        }
    }
    ctx->session.reset();
    return RTPLowLevelDestroy(context);
}

rtperror RTPSessionSetRTPStampRate(int32_t context, int32_t payload_type, int32_t rate) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPSessionSetRTPStampRate", &error);
    if (ctx == nullptr) {
        return error;
    }
    if (payload_type < 0 || payload_type >= RTP_PAYLOAD_TYPES) {
        return RTPReportError(RTP_BAD_PROFILE, "RTPSessionSetRTPStampRate",
                              "Payload type %ld not allowed", static_cast<long>(payload_type));
    }
    ctx->stamp_rate[payload_type] = rate;
    return RTP_OK;
}

rtperror RTPSessionGetRTPStampRate(int32_t context, int32_t payload_type, int32_t *rate) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPSessionGetRTPStampRate", &error);
    if (ctx == nullptr) {
        return error;
    }
    if (payload_type < 0 || payload_type >= RTP_PAYLOAD_TYPES) {
        return RTPReportError(RTP_BAD_PROFILE, "RTPSessionGetRTPStampRate",
                              "Payload type %ld not allowed", static_cast<long>(payload_type));
    }
    *rate = ctx->stamp_rate[payload_type];
    return RTP_OK;
}

rtperror RTPSessionSetBandwidth(int32_t context, float bandwidth, float rtcp_fraction) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPSessionSetBandwidth", &error);
    if (ctx == nullptr) {
        return error;
    }
    // Written as a negation so that NaN is refused too.
    if (!(bandwidth > 0) || !(rtcp_fraction > 0)) {
        return RTPReportError(RTP_BAD_VALUE, "RTPSessionSetBandwidth",
                              "context %d, invalid bandwidth and/or fraction %f / %f", context,
                              static_cast<double>(bandwidth), static_cast<double>(rtcp_fraction));
    }
    ctx->bandwidth = bandwidth;
    ctx->rtcp_fraction = rtcp_fraction;
    return RTP_OK;
}

rtperror RTPSessionGetBandwidth(int32_t context, float *bandwidth, float *rtcp_fraction) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPSessionGetBandwidth", &error);
    if (ctx == nullptr) {
        return error;
    }
    *bandwidth = ctx->bandwidth;
    *rtcp_fraction = ctx->rtcp_fraction;
    return RTP_OK;
}

rtperror RTPSessionSetSSRCBits(int32_t context, uint32_t fixed, uint32_t mask) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPSessionSetSSRCBits", &error);
    if (ctx == nullptr) {
        return error;
    }
    if (ctx->own == nullptr) {
        return RTPReportError(RTP_NO_SUCH_PERSON, "RTPSessionSetSSRCBits",
                              "context %d person %ld does not exist", context, 0L);
    }
    ctx->ssrc_fixed = fixed;
    ctx->ssrc_mask = mask;
    return RTP_OK;
}

namespace {

// The plain getters and setters: check the context (and its session), then one field.
template <typename Field>
rtperror set_field(int32_t context, const char *caller, Field rtp_context_t::*field, Field value) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    ctx->*field = value;
    return RTP_OK;
}

template <typename Field>
rtperror get_field(int32_t context, const char *caller, Field rtp_context_t::*field, Field *value) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    *value = ctx->*field;
    return RTP_OK;
}

template <typename Field>
rtperror set_session_field(int32_t context, const char *caller, Field rtp_session_t::*field,
                           Field value) {
    rtperror error = RTP_OK;
    rtp_session_t *session = RTPSessionFind(context, caller, &error);
    if (session == nullptr) {
        return error;
    }
    session->*field = value;
    return RTP_OK;
}

template <typename Field>
rtperror get_session_field(int32_t context, const char *caller, Field rtp_session_t::*field,
                           Field *value) {
    rtperror error = RTP_OK;
    rtp_session_t *session = RTPSessionFind(context, caller, &error);
    if (session == nullptr) {
        return error;
    }
    *value = session->*field;
    return RTP_OK;
}

}  // namespace

rtperror RTPSessionSetSendErrorCallback(int32_t context, rtp_send_error_callback_t callback) {
    return set_session_field(context, "RTPSessionSetSendErrorCallback", &rtp_session_t::send_error,
                             callback);
}
rtperror RTPSessionGetSendErrorCallback(int32_t context, rtp_send_error_callback_t *callback) {
    return get_session_field(context, "RTPSessionGetSendErrorCallback", &rtp_session_t::send_error,
                             callback);
}
rtperror RTPSessionSetMemberAddressCallback(int32_t context,
                                            rtp_member_address_callback_t callback) {
    return set_session_field(context, "RTPSessionSetMemberAddressCallback",
                             &rtp_session_t::member_address, callback);
}
rtperror RTPSessionSetReconsideration(int32_t context, int32_t mode) {
    return set_field(context, "RTPSessionSetReconsideration", &rtp_context_t::reconsideration,
                     mode);
}
rtperror RTPSessionGetReconsideration(int32_t context, int32_t *mode) {
    return get_field(context, "RTPSessionGetReconsideration", &rtp_context_t::reconsideration,
                     mode);
}
rtperror RTPSessionSetUserData(int32_t context, int32_t value) {
    return set_field(context, "RTPSessionSetUserData", &rtp_context_t::user_data, value);
}
rtperror RTPSessionGetUserData(int32_t context, int32_t *value) {
    return get_field(context, "RTPSessionGetUserData", &rtp_context_t::user_data, value);
}
rtperror RTPSessionSetMode(int32_t context, int32_t mode) {
    return set_session_field(context, "RTPSessionSetMode", &rtp_session_t::mode, mode);
}
rtperror RTPSessionGetMode(int32_t context, int32_t *mode) {
    return get_session_field(context, "RTPSessionGetMode", &rtp_session_t::mode, mode);
}
rtperror RTPSessionSetEncryptionKey(int32_t context, int32_t key) {
    rtperror error = RTP_OK;
    rtp_session_t *session = RTPSessionFind(context, "RTPSessionSetEncryptionKey", &error);
    if (session == nullptr) {
        return error;
    }
    session->key = key;
    if (session->key_setup != nullptr) {
        session->key_setup(context, key);
    }
    return RTP_OK;
}
rtperror RTPSessionGetEncryptionKey(int32_t context, int32_t *key) {
    return get_session_field(context, "RTPSessionGetEncryptionKey", &rtp_session_t::key, key);
}
rtperror RTPSessionSetEncryptionFuncs(int32_t context, rtp_key_callback_t key_setup,
                                      rtp_crypt_callback_t encrypt, rtp_crypt_callback_t decrypt) {
    rtperror error = RTP_OK;
    rtp_session_t *session = RTPSessionFind(context, "RTPSessionSetEncryptionFuncs", &error);
    if (session == nullptr) {
        return error;
    }
    session->key_setup = key_setup;
    session->encrypt = encrypt;
    session->decrypt = decrypt;
    return RTP_OK;
}

rtperror RTPSetMemberEventCallback(int32_t context, rtp_member_event_callback_t callback) {
    return set_field(context, "RTPSetMemberEventCallback", &rtp_context_t::member_event, callback);
}
rtperror RTPGetMemberEventCallback(int32_t context, rtp_member_event_callback_t *callback) {
    return get_field(context, "RTPGetMemberEventCallback", &rtp_context_t::member_event, callback);
}
rtperror RTPSetSDESChangeCallback(int32_t context, rtp_sdes_change_callback_t callback) {
    return set_field(context, "RTPSetSDESChangeCallback", &rtp_context_t::sdes_change, callback);
}
rtperror RTPGetSDESChangeCallback(int32_t context, rtp_sdes_change_callback_t *callback) {
    return get_field(context, "RTPGetSDESChangeCallback", &rtp_context_t::sdes_change, callback);
}
rtperror RTPSetNewAddressCallback(int32_t context, rtp_new_address_callback_t callback) {
    return set_field(context, "RTPSetNewAddressCallback", &rtp_context_t::new_address, callback);
}
rtperror RTPGetNewAddressCallback(int32_t context, rtp_new_address_callback_t *callback) {
    return get_field(context, "RTPGetNewAddressCallback", &rtp_context_t::new_address, callback);
}
rtperror RTPSetCollisionCallback(int32_t context, rtp_collision_callback_t callback) {
    return set_field(context, "RTPSetCollisionCallback", &rtp_context_t::collision, callback);
}
rtperror RTPGetCollisionCallback(int32_t context, rtp_collision_callback_t *callback) {
    return get_field(context, "RTPGetCollisionCallback", &rtp_context_t::collision, callback);
}
rtperror RTPSetMergeCallback(int32_t context, rtp_merge_callback_t callback) {
    return set_field(context, "RTPSetMergeCallback", &rtp_context_t::merge, callback);
}
rtperror RTPGetMergeCallback(int32_t context, rtp_merge_callback_t *callback) {
    return get_field(context, "RTPGetMergeCallback", &rtp_context_t::merge, callback);
}

}  // namespace sipline
