// RTCP reception at scale: N simulated members each send an SR and an SDES (CNAME, NAME) in
// one compound; prints the cost per RTCP packet once every member is known, and the cost of
// one member time-out pass, for 100, 1,000 and 10,000 members.
#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "rtp/context_internal.h"
#include "rtp/rtcp_internal.h"
#include "rtp/rtcp_interval.h"
#include "rtp/rtp.h"

namespace sipline {
namespace {

timeval now{1700000000, 0};
timeval Clock() {
    return now;
}
void Tick(double micros) {
    now = rtp_time_add(now, micros / 1e6);
}

void Put32(std::vector<uint8_t> &v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) {
        v.push_back(static_cast<uint8_t>(x >> s));
    }
}

std::vector<uint8_t> Compound(uint32_t ssrc, uint32_t n) {
    std::vector<uint8_t> c = {0x80, 200, 0, 6};
    for (uint32_t v : {ssrc, 0xE0000000u + n, 0u, 160 * n, n, 33 * n}) {
        Put32(c, v);
    }
    std::size_t start = c.size();
    c.insert(c.end(), {0x81, 202, 0, 0});
    Put32(c, ssrc);
    std::string cname = "member" + std::to_string(ssrc) + "@10.0.0.1";
    std::string name = "Simulated member " + std::to_string(ssrc);
    for (auto &[type, text] : {std::pair{1, cname}, std::pair{2, name}}) {
        c.push_back(static_cast<uint8_t>(type));
        c.push_back(static_cast<uint8_t>(text.size()));
        c.insert(c.end(), text.begin(), text.end());
    }
    do {
        c.push_back(0);
    } while ((c.size() - start) % 4 != 0);
    uint16_t words = static_cast<uint16_t>((c.size() - start) / 4 - 1);
    c[start + 2] = static_cast<uint8_t>(words >> 8);
    c[start + 3] = static_cast<uint8_t>(words);
    return c;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void Run(int members) {
    int32_t context = -1;
    RTPCreate(&context);
    RTPMemberInfoSetSDES(context, 0, RTP_SDES_CNAME, "bench@127.0.0.1");
    rtperror error = 0;
    rtp_context_t *ctx = RTPContextFind(context, "bench", &error);

    std::vector<std::vector<uint8_t>> compounds;
    std::vector<sockaddr_in> sources;
    for (int i = 0; i < members; i++) {
        compounds.push_back(Compound(0x10000000u + i, 1));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(0x0A000000u + static_cast<uint32_t>(i / 30000));
        a.sin_port = htons(static_cast<uint16_t>(1024 + 2 * (i % 30000)));
        sources.push_back(a);
    }
    std::vector<uint8_t> buffer;
    auto deliver = [&](int i) {
        buffer = compounds[i];
        RTPPacketReceived(context, reinterpret_cast<char *>(buffer.data()),
                          static_cast<int32_t>(buffer.size()), &sources[i], sizeof sources[i], 1,
                          0);
    };
    // First round: every member is created and confirmed.
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < members; i++) {
        Tick(10);
        deliver(i);
    }
    double first = Seconds(std::chrono::steady_clock::now() - t0);

    // Steady state: about 200,000 compounds, round-robin over the members.
    const int rounds = std::max(1, 200000 / members);
    t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; r++) {
        for (int i = 0; i < members; i++) {
            Tick(10);
            deliver(i);
        }
    }
    double steady = Seconds(std::chrono::steady_clock::now() - t0);
    const double packets = 2.0 * rounds * members;

    // One time-out pass with nothing due, then one that expires every member at once.
    const int passes = 1000;
    t0 = std::chrono::steady_clock::now();
    for (int p = 0; p < passes; p++) {
        RTCPMemberTimeouts(ctx);
    }
    double idle_pass = Seconds(std::chrono::steady_clock::now() - t0) / passes;
    // T grows with the membership (RFC 1889 section 6.2): 1,000 members give T = 167 s.
    const double t = RTCPInterval(ctx, false);
    Tick(6 * t * 1e6);  // every member expires
    t0 = std::chrono::steady_clock::now();
    RTCPMemberTimeouts(ctx);
    double expiring_pass = Seconds(std::chrono::steady_clock::now() - t0);
    Tick(10 * t * 1e6);  // 16 T: every member is deleted
    t0 = std::chrono::steady_clock::now();
    RTCPMemberTimeouts(ctx);
    double deleting_pass = Seconds(std::chrono::steady_clock::now() - t0);

    std::printf(
        "%6d members: %7.0f ns per RTCP packet (first compound of each member %7.0f ns per "
        "packet); time-out pass: %8.0f ns with nothing due, %10.0f ns expiring all, %10.0f ns "
        "deleting all (T %.0f s, members left %d)\n",
        members, steady / packets * 1e9, first / (2.0 * members) * 1e9, idle_pass * 1e9,
        expiring_pass * 1e9, deleting_pass * 1e9, t, ctx->members.count);
    RTPDestroy(context);
}

}  // namespace
}  // namespace sipline

int main() {
    using namespace sipline;
    rtp_set_clock(Clock);
    for (int members : {100, 1000, 10000}) {
        Run(members);
    }
    return 0;
}
