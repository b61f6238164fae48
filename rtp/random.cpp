#include <md5.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "rtp/context_internal.h"
#include "rtp/members_internal.h"

namespace sipline {

namespace {
constexpr int ssrc_attempts = 50;
// Calls within one millisecond of one process would otherwise hash the same block whenever
// the processor clock has not moved; the count keeps every block distinct.
std::atomic<uint32_t> calls{0};
}  // namespace

uint32_t random32() {
    timeval now = rtp_now();
    uint32_t block[4] = {static_cast<uint32_t>(now.tv_sec), static_cast<uint32_t>(now.tv_usec),
                         static_cast<uint32_t>(std::clock()) + calls.fetch_add(1),
                         static_cast<uint32_t>(getpid())};
    MD5_CTX md5;
    MD5Init(&md5);
    MD5Update(&md5, reinterpret_cast<const uint8_t *>(block), sizeof block);
    uint8_t digest[MD5_DIGEST_LENGTH];
    MD5Final(digest, &md5);
    uint32_t words[4];
    std::memcpy(words, digest, sizeof words);
    return words[0] ^ words[1] ^ words[2];
}

// The C library's generator spans 0 to RAND_MAX here, not 0 to 32767.
double random_uniform() {
    return static_cast<double>(std::rand()) / RAND_MAX;
}

void RTPChooseSSRC(rtp_context_t *ctx) {
    for (int attempt = 0; attempt < ssrc_attempts; ++attempt) {
        uint32_t candidate = (ctx->ssrc_fixed & ctx->ssrc_mask) | (random32() & ~ctx->ssrc_mask);
        if (RTPMemberBySSRC(ctx, candidate) == nullptr) {
            RTPMemberChangeSSRC(ctx, ctx->own, candidate);
            ctx->ssrc = candidate;
            break;
        }
    }
    ctx->start_ssrc = ctx->ssrc;
}

}  // namespace sipline
