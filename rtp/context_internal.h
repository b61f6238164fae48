// The records behind a context number: the context, its transport (session), its members and
// the tables that find them. Shared by every file of the engine; not part of the API.
//
// Threads: the engine takes no lock of its own on these records. An application that uses one
// context from several threads serialises its calls (the media bridge holds RtpMutex); the two
// busy flags are atomic so that an overlapping or re-entrant call is refused reliably instead
// of by chance.
#pragma once

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rtp/rtp.h"
#include "support/system.h"

namespace sipline {

// The family of a socket address that is not known yet.
inline constexpr sa_family_t RTP_FAMILY_UNKNOWN = 25;
inline constexpr int32_t RTP_PACKET_BUFFER_SIZE = 10000;
inline constexpr int32_t RTP_MAX_CSRC = 15;
inline constexpr int32_t RTP_PAYLOAD_TYPES = 128;
inline constexpr size_t RTP_MERGE_LOG_MAX = 2000;

// A send address or the receive address. Sockets are -1 while closed.
struct rtp_address_t {
    uint32_t address = 0;  // network order; 0 = any local address
    uint16_t port = 0;     // network order, even: the RTP port; RTCP uses port + 1
    uint8_t ttl = 0;       // multicast time-to-live, 0 for unicast
    int rtp_socket = -1;
    int rtcp_socket = -1;
    int32_t removed = 0;  // send list only: marked by RTPSessionRemoveSendAddr
    // Send list only, symmetric sessions: the sockets are copies of the receive sockets, which
    // are not connected, so every datagram names its destination.
    int32_t shared = 0;
    sockaddr_in rtp_to{};
    sockaddr_in rtcp_to{};
};

// Reception statistics of one source (RFC 1889 appendix A.1, A.3, A.8).
struct rtp_stats_t {
    double jitter = -1.0;  // timestamp units; -1 until the second packet
    uint32_t last_timestamp = 0;
    timeval last_arrival{};
    uint32_t since_report = 0;
    uint32_t before_report = 0;
    uint32_t base_sequence = 0;
    uint32_t highest_sequence = 0;  // extended: wrap-arounds counted above bit 15
    uint32_t expected_at_report = 0;
};

struct rtp_member_t {
    int32_t id = 0;
    uint32_t ssrc = 0;
    timeval last_heard{};
    timeval last_rtp{};
    timeval last_rtcp{};
    timeval last_activity{};
    int32_t state = RTP_MEMBER_NEW;
    int32_t sender = RTP_SENDER_NONE;
    timeval last_sr{};  // arrival of its last SR (own member: our last SR sent); 0 = none
    int32_t user_data = 0;

    // Members that share one SSRC; only one of them is in the SSRC hash.
    int32_t collision = 0;
    rtp_member_t *collision_next = nullptr;
    rtp_member_t *collision_prev = nullptr;

    sockaddr_in rtp_address{};   // family RTP_FAMILY_UNKNOWN until known
    sockaddr_in rtcp_address{};  // family RTP_FAMILY_UNKNOWN until known

    // Items 1 to 12 at index item - 1.
    std::array<std::optional<std::string>, RTP_SDES_MAX> sdes;

    // From its last SR.
    uint32_t sr_rtp_timestamp = 0;
    uint32_t sr_ntp_sec = 0;
    uint32_t sr_ntp_frac = 0;
    uint32_t sr_packets = 0;
    uint32_t sr_octets = 0;

    std::unique_ptr<rtp_stats_t> stats;  // from its first RTP packet
    // Reporter unique id -> that reporter's last block about this member.
    std::map<int32_t, rtp_report_t> reports;

    // The last VoIP metrics block of its XR packets (RFC 3611 section 4.7).
    std::optional<rtp_voip_metrics_t> voip_metrics;

    uint32_t ssrc_heard = 0;
    uint32_t csrc_heard = 0;
    uint32_t rtcp_packets = 0;
    int32_t contributor = 0;  // the application may change its information

    // Member list (most recently heard first) and activity list (most recently active first).
    bool listed = false;         // on the member list
    bool active_listed = false;  // on the activity list (sender status 1 or 2)
    rtp_member_t *heard_newer = nullptr;
    rtp_member_t *heard_older = nullptr;
    rtp_member_t *active_newer = nullptr;
    rtp_member_t *active_older = nullptr;
};

// Every member, most recently heard first. expiry_cursor is for the time-out pass: the most
// recently heard member that the expiry step has already handled (null: none); every member
// older than it was handled too. Unlinking the cursor's member moves the cursor to the next
// older one.
struct rtp_member_list_t {
    rtp_member_t *newest = nullptr;
    rtp_member_t *oldest = nullptr;
    rtp_member_t *expiry_cursor = nullptr;
    int32_t confirmed = 0;  // members in state 1, the own member included
    int32_t count = 0;
};

// Members heard in the recent past (sender status 1 or 2), most recently active first.
// sender_cursor plays the part of expiry_cursor for the step that lowers senders to active.
struct rtp_activity_list_t {
    rtp_member_t *newest = nullptr;
    rtp_member_t *oldest = nullptr;
    rtp_member_t *sender_cursor = nullptr;
    int32_t senders = 0;  // members with status 2
    int32_t count = 0;
};

struct rtp_string_hash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// The transport of a context.
struct rtp_session_t {
    int32_t open = 0;
    // RTP and RTCP leave from the ports they are received on (RTPSessionSetSymmetric).
    int32_t symmetric = 0;
    std::list<rtp_address_t> send_addresses;  // newest first
    std::unique_ptr<rtp_address_t> receive_address;
    sockaddr_in own_rtp_source{};   // family 0 = unknown
    sockaddr_in own_rtcp_source{};  // family 0 = unknown
    int32_t mode = 2;
    int32_t key = 0;
    rtp_key_callback_t key_setup = nullptr;
    rtp_crypt_callback_t encrypt = nullptr;
    rtp_crypt_callback_t decrypt = nullptr;
    // Set while RTPSendVector, RTPReceive or RTPExecute runs.
    std::atomic<int32_t> busy{0};
    rtp_send_error_callback_t send_error = nullptr;
    rtp_member_address_callback_t member_address = nullptr;
    // RTP headers and RTCP compounds are built here.
    alignas(8) std::array<char, RTP_PACKET_BUFFER_SIZE> buffer{};
};

struct rtp_context_t {
    int32_t number = 0;
    // Unique among every context this process ever made: context numbers are reused, so an
    // RTP event names its context by number and serial. Set before the record is published.
    uint64_t serial = 0;
    // Counts the openings of the connection: a regular report belongs to the opening that
    // scheduled it, and one of an earlier opening must not run a second chain of reports.
    // Written by the opening, read by RTPExecute on the application's scheduling thread:
    // atomic, as the two need not be serialised by the application.
    std::atomic<uint64_t> rtcp_run{0};
    int32_t reconsideration = 0;
    int32_t reconsideration_members = 0;
    uint32_t ssrc_fixed = 0;
    uint32_t ssrc_mask = 0;
    uint32_t ssrc = 0;
    uint32_t packets_sent = 0;                            // since opening, for SR
    uint32_t octets_sent = 0;                             // payload octets since opening, for SR
    std::array<int32_t, RTP_PAYLOAD_TYPES> stamp_rate{};  // microseconds per timestamp unit

    bool csrc_list_set = false;
    int32_t csrc_count = 0;
    std::array<uint32_t, RTP_MAX_CSRC> csrc{};
    std::deque<uint32_t> contributors;  // most recently added first

    float bandwidth = 120.0f;  // kbit/s
    float rtcp_fraction = 0.05f;
    float sender_share = 0.25f;
    int32_t user_data = 0;
    std::unique_ptr<rtp_session_t> session;  // null for a low-level context

    uint32_t start_ssrc = 0;  // own SSRC when the first packet after opening was built
    uint32_t timestamp_base = 0;
    uint32_t timestamp_advance = 0;
    uint32_t first_sequence = 0;
    uint32_t next_sequence = 0;
    const rtp_hdr_ext_t *extension = nullptr;  // the application's
    // Set while a header is built or a received packet is processed.
    std::atomic<int32_t> busy{0};

    timeval last_rtcp{};
    int32_t initial = 1;  // until the first RTCP packet is built
    int32_t last_rtcp_size = 0;
    double average_rtcp_size = 0.0;
    double random_factor = 1.0;

    rtp_member_event_callback_t member_event = nullptr;
    rtp_sdes_change_callback_t sdes_change = nullptr;
    rtp_new_address_callback_t new_address = nullptr;
    rtp_collision_callback_t collision = nullptr;
    rtp_merge_callback_t merge = nullptr;

    rtp_member_t *own = nullptr;
    int32_t next_member_id = 0;
    // by_id owns every member; the others point into it.
    std::unordered_map<int32_t, std::unique_ptr<rtp_member_t>> by_id;
    std::unordered_map<uint32_t, rtp_member_t *> by_ssrc;
    std::unordered_map<std::string, rtp_member_t *, rtp_string_hash, std::equal_to<>> by_cname;
    rtp_member_list_t members;
    rtp_activity_list_t active;
    // (merged id, kept id), oldest first.
    std::vector<std::pair<int32_t, int32_t>> merge_log;
    std::array<char, 256> bye_reason{};

    rtp_member_t *recent_rtp_sender = nullptr;
    rtp_member_t *recent_rtcp_sender = nullptr;
    sockaddr_in recent_address{};  // family RTP_FAMILY_UNKNOWN until a datagram arrived

    // Written by RTPSetVoIPMetrics on the application's thread, read by the report builder on
    // whichever thread runs the report: under voip_mutex.
    std::mutex voip_mutex;
    std::optional<rtp_voip_metrics_t> voip_metrics;
};

// Holds a busy flag for one call: taken() is false when it was already set (the caller then
// fails with RTPBusyError); a taken flag is cleared when the guard ends.
class rtp_busy_guard {
  public:
    explicit rtp_busy_guard(std::atomic<int32_t> &flag)
        : flag_(flag), taken_(flag.exchange(1, std::memory_order_acquire) == 0) {}
    ~rtp_busy_guard() {
        if (taken_) {
            flag_.store(0, std::memory_order_release);
        }
    }
    rtp_busy_guard(const rtp_busy_guard &) = delete;
    rtp_busy_guard &operator=(const rtp_busy_guard &) = delete;
    bool taken() const { return taken_; }

  private:
    std::atomic<int32_t> &flag_;
    bool taken_;
};

// A call on the transport of a context (RTPSendVector, RTPReceive): finds the context with its
// session and holds the session's busy flag until the call ends. context() is null when the
// context is unknown, has no session or is busy; error() then holds the reported failure.
class rtp_session_call {
  public:
    rtp_session_call(int32_t context, const char *caller);
    rtp_session_call(const rtp_session_call &) = delete;
    rtp_session_call &operator=(const rtp_session_call &) = delete;
    rtp_context_t *context() const { return ctx_; }
    rtperror error() const { return error_; }

  private:
    rtperror error_ = RTP_OK;
    rtp_context_t *ctx_ = nullptr;
    std::optional<rtp_busy_guard> busy_;
};

// ---- context.cpp
// The record of a context in use, or null after reporting "unknown context %d" or "context %d
// currently not in use" under the caller's name into *error.
rtp_context_t *RTPContextFind(int32_t context, const char *caller, rtperror *error);
// The same for operations on the transport: also fails for a context made by
// RTPLowLevelCreate, which has no session.
rtp_context_t *RTPContextWithSession(int32_t context, const char *caller, rtperror *error);
// The session of RTPContextWithSession's context.
rtp_session_t *RTPSessionFind(int32_t context, const char *caller, rtperror *error);
// ---- addresses.cpp
// Makes the two sockets of a send address and connects them to its RTP and RTCP ports (with
// the TTL and the session's own source addresses for a group). Nothing changes on failure.
rtperror RTPConnectSendAddress(rtp_session_t *session, rtp_address_t *record, int32_t context,
                               const char *caller);

// ---- context.cpp
// Reports "context %d, cannot be called now" (RTP_CANT_CALL_FUNCTION) under caller's name.
rtperror RTPBusyError(const rtp_context_t *ctx, const char *caller);

// ---- errors.cpp
// Stores the code and "Call from caller(): " plus the message as the thread's last failure;
// returns code.
rtperror RTPReportError(rtperror code, const char *caller, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// ---- contributors.cpp
// Is ssrc on the context's contributor list?
bool RTPIsContributor(const rtp_context_t *ctx, uint32_t ssrc);
// The member that stands for a contributor: the one with the contributor flag among those
// sharing its SSRC (the collision chain, from its head), or null.
rtp_member_t *RTPContributorMember(rtp_context_t *ctx, uint32_t ssrc);

// ---- random.cpp
// RFC 1889 appendix A.6: MD5 over time, clock and process id, three digest words XORed.
uint32_t random32();
// Uniform in 0 to 1.
double random_uniform();
// Picks a free SSRC under the fixed bits and makes it the own SSRC and the start SSRC.
void RTPChooseSSRC(rtp_context_t *ctx);

// ---- time
timeval rtp_now();
// Tests drive the engine's time with their own clock; null restores the system clock.
void rtp_set_clock(timeval (*clock)());
// a - b in seconds.
double rtp_seconds_between(const timeval &a, const timeval &b);
timeval rtp_time_add(const timeval &t, double seconds);
// true when a is at or after b.
bool rtp_time_reached(const timeval &a, const timeval &b);
bool rtp_time_set(const timeval &t);

// ---- statistics.cpp
// The NTP timestamp of a local time (RFC 1889 section 4).
void RTPNtpTime(const timeval &time, uint32_t *seconds, uint32_t *fraction);
// Counts an RTP packet from the member in its statistics (sequence, jitter, packets).
void RTPUpdateStats(rtp_context_t *ctx, rtp_member_t *member, uint16_t sequence, uint32_t timestamp,
                    uint8_t payload_type, const timeval &arrival);
// The report block about the member (RFC 1889 appendix A.3); new_interval starts a new
// reporting interval as a report that is sent does. The member must have statistics.
void RTPReportBlock(rtp_context_t *ctx, rtp_member_t *member, bool new_interval,
                    rtp_report_t *report);

// ---- packet.cpp: wire order <-> host form, bounded by the packet's own length.
// Converts the fixed header, and the extension's first word, in place. RTP_BAD_PACKET_FORMAT
// (nothing changed) when the header, CSRC list or extension do not fit.
rtperror RTPHeaderToHost(char *packet, int32_t length);
void RTPHeaderToWire(char *packet, int32_t length);
// The common header of one RTCP packet in place; the rest with RTCPBodyToHost.
void RTCPCommonToHost(char *packet);
void RTCPCommonToWire(char *packet);
// SR sender information and the SR/RR report blocks, within bytes of the packet (bytes counts
// from the packet start, common header included).
void RTCPBodyToHost(char *packet, int32_t bytes);
void RTCPBodyToWire(char *packet, int32_t bytes);
// Unaligned network-order loads and stores.
uint32_t rtp_load32(const void *p);
uint16_t rtp_load16(const void *p);
void rtp_store32(void *p, uint32_t value);
void rtp_store16(void *p, uint16_t value);
uint32_t rtp_host32(const void *p);  // a host-order 32-bit word
void rtp_host_store32(void *p, uint32_t value);

}  // namespace sipline
