// Parses a corpus of typical SIP messages with MessageParse, with MessageParse followed by the
// typed readers that the server calls on every request (the eager path), with libosip2 and with
// sofia-sip (whose msg_make parses every header it knows eagerly), and prints the messages per
// second of each and the ratios. With arguments "<parser> <passes>" it runs that many passes of
// one parser and nothing else, for instruction counts under callgrind (repeatable on a busy
// machine): parser is one of lazy, eager, osip, sofia.
#include <osipparser2/osip_parser.h>
#include <sofia-sip/msg.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_header.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "sip/message/fields.h"
#include "sip/message/parser.h"
#include "support/error.h"

namespace {

const char kSdp[] =
    "v=0\r\n"
    "o=alice 2890844526 2890844526 IN IP4 10.0.0.1\r\n"
    "s=-\r\n"
    "c=IN IP4 10.0.0.1\r\n"
    "t=0 0\r\n"
    "m=audio 49170 RTP/AVP 0 3\r\n"
    "a=rtpmap:0 PCMU/8000\r\n"
    "a=rtpmap:3 GSM/8000\r\n";

std::string dialog(const std::string &cseq) {
    return "Via: SIP/2.0/UDP pc33.atlanta.com:5060;branch=z9hG4bK776asdhds;rport\r\n"
           "Max-Forwards: 70\r\n"
           "To: <sip:5551234@gw.example.com>\r\n"
           "From: \"Alice Smith\" <sip:alice@atlanta.com>;tag=1928301774\r\n"
           "Call-ID: a84b4c76e66710@pc33.atlanta.com\r\n"
           "CSeq: " +
           cseq + "\r\n";
}

std::string response_head(const std::string &status, const std::string &cseq) {
    return "SIP/2.0 " + status + "\r\n" +
           "Via: SIP/2.0/UDP pc33.atlanta.com:5060;branch=z9hG4bK776asdhds;received=10.0.0.1\r\n"
           "To: <sip:5551234@gw.example.com>;tag=a6c85cf\r\n"
           "From: \"Alice Smith\" <sip:alice@atlanta.com>;tag=1928301774\r\n"
           "Call-ID: a84b4c76e66710@pc33.atlanta.com\r\n"
           "CSeq: " +
           cseq + "\r\n";
}

std::string with_body(const std::string &head, const std::string &body) {
    return head +
           "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::vector<std::string> corpus() {
    std::vector<std::string> messages;
    messages.push_back(with_body("INVITE sip:5551234@gw.example.com SIP/2.0\r\n" +
                                     dialog("314159 INVITE") +
                                     "Contact: <sip:alice@pc33.atlanta.com>\r\n"
                                     "Allow: INVITE, ACK, CANCEL, BYE, OPTIONS\r\n"
                                     "Supported: replaces, timer\r\n"
                                     "User-Agent: softphone/1.0\r\n",
                                 kSdp));
    messages.push_back(response_head("100 Trying", "314159 INVITE") + "Content-Length: 0\r\n\r\n");
    messages.push_back(response_head("180 Ringing", "314159 INVITE") +
                       "Contact: <sip:5551234@10.0.0.2>\r\nContent-Length: 0\r\n\r\n");
    messages.push_back(with_body(response_head("200 OK", "314159 INVITE") +
                                     "Contact: <sip:5551234@10.0.0.2>\r\n"
                                     "Server: sipline\r\n",
                                 kSdp));
    messages.push_back("ACK sip:5551234@10.0.0.2 SIP/2.0\r\n" + dialog("314159 ACK") +
                       "Content-Length: 0\r\n\r\n");
    messages.push_back("BYE sip:5551234@10.0.0.2 SIP/2.0\r\n" + dialog("314160 BYE") +
                       "Content-Length: 0\r\n\r\n");
    messages.push_back("CANCEL sip:5551234@gw.example.com SIP/2.0\r\n" + dialog("314159 CANCEL") +
                       "Content-Length: 0\r\n\r\n");
    messages.push_back("OPTIONS sip:gw.example.com SIP/2.0\r\n" + dialog("63104 OPTIONS") +
                       "Accept: application/sdp\r\nContent-Length: 0\r\n\r\n");
    messages.push_back(
        "REGISTER sip:registrar.example.com SIP/2.0\r\n" + dialog("1826 REGISTER") +
        "Contact: <sip:alice@10.0.0.1>;expires=3600\r\n"
        "Authorization: Digest username=\"alice\", realm=\"example.com\", "
        "nonce=\"84a4cc6f3082121f32b42a2187831a9e\", uri=\"sip:registrar.example.com\", "
        "response=\"7587245234b3434cc3412213e5f113a5\", algorithm=MD5\r\n"
        "Content-Length: 0\r\n\r\n");
    std::string vias;
    for (int i = 0; i < 10; ++i) {
        vias += "Via: SIP/2.0/UDP proxy" + std::to_string(i) + ".example.com:5060;branch=z9hG4bK" +
                std::to_string(1000 + i) + ";received=10.0.1." + std::to_string(i) + "\r\n";
    }
    messages.push_back("SIP/2.0 200 OK\r\n" + vias +
                       "To: <sip:bob@biloxi.com>;tag=a6c85cf\r\n"
                       "From: <sip:alice@atlanta.com>;tag=1928301774\r\n"
                       "Call-ID: a84b4c76e66710\r\nCSeq: 2 BYE\r\nContent-Length: 0\r\n\r\n");
    messages.push_back(
        "INVITE sip:5551234@gw.example.com SIP/2.0\r\n"
        "v: SIP/2.0/UDP 10.0.0.1:5060;branch=z9hG4bKcompact\r\n"
        "t: <sip:5551234@gw.example.com>\r\n"
        "f: <sip:alice@atlanta.com>;tag=77\r\n"
        "i: compact-form-call@10.0.0.1\r\n"
        "CSeq: 1 INVITE\r\n"
        "m: <sip:alice@10.0.0.1>\r\n"
        "c: application/sdp\r\n"
        "l: " +
        std::to_string(std::strlen(kSdp)) + "\r\n\r\n" + kSdp);
    return messages;
}

using Clock = std::chrono::steady_clock;

double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs one pass over the corpus repeatedly for about the given time; messages per second of
// this thread's own CPU time, so that neighbours competing for the cores (the machine is
// shared) lower no parser's figure.
template <typename Parse>
double throughput(const std::vector<std::string> &messages, double seconds, Parse parse) {
    std::vector<char> buffer;
    size_t parsed = 0;
    auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    double start = thread_seconds();
    while (Clock::now() < deadline) {
        for (int round = 0; round < 100; ++round) {
            for (const std::string &message : messages) {
                buffer.assign(message.begin(), message.end());
                buffer.push_back('\0');
                parse(buffer.data(), message.size());
                ++parsed;
            }
        }
    }
    return static_cast<double>(parsed) / (thread_seconds() - start);
}

using namespace sipline;

void lazy_parse(char *text, size_t) {
    parser_t parsed{};
    MessageParse(text, &parsed);
    MessageFree(&parsed);
}

// What the server reads of every request before it dispatches it: each Via (as SIP_Via counts
// them: equal names are merged, so the first of "Via" or "v"), From, To, Contact, CSeq and
// Call-ID, every result released. The Via host is not resolved (no DNS in a bench).
void eager_parse(char *text, size_t) {
    parser_t parsed{};
    MessageParse(text, &parsed);
    for (int n = 1;; ++n) {
        sipline::sip_via_t via = SIP_Via(&parsed, n, 0, "gw.example.com");
        bool found = via.host != nullptr;
        SIP_ViaFree(&via);
        if (!found) {
            break;
        }
    }
    sipline::sip_address_t from = SIP_From(&parsed);
    sipline::sip_address_t to = SIP_To(&parsed);
    sipline::sip_contact_t *contacts = SIP_Contact(&parsed);
    sipline::sip_cseq_t cseq = SIP_CSeq(&parsed);
    const char *call_id = SIP_CallID(&parsed);
    // Keep the compiler from dropping reads whose results are not used.
    asm volatile("" : : "r"(&cseq), "r"(call_id) : "memory");
    SIP_ContactFree(contacts);
    SIP_AddressFree(&to);
    SIP_AddressFree(&from);
    MessageFree(&parsed);
}

void osip_parse(char *text, size_t length) {
    osip_message_t *parsed = nullptr;
    osip_message_init(&parsed);
    osip_message_parse(parsed, text, length);
    osip_message_free(parsed);
}

void sofia_parse(char *text, size_t length) {
    msg_t *parsed = msg_make(sip_default_mclass(), 0, text, static_cast<isize_t>(length));
    msg_destroy(parsed);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    parser_init();
    std::vector<std::string> messages = corpus();

    if (argc == 3) {
        std::string which = argv[1];
        long passes = std::strtol(argv[2], nullptr, 10);
        void (*parse)(char *, size_t) = which == "lazy"    ? lazy_parse
                                        : which == "eager" ? eager_parse
                                        : which == "osip"  ? osip_parse
                                        : which == "sofia" ? sofia_parse
                                                           : nullptr;
        if (parse == nullptr || passes <= 0) {
            std::fprintf(stderr, "usage: %s [lazy|eager|osip|sofia passes]\n", argv[0]);
            return 2;
        }
        std::vector<char> buffer;
        for (long pass = 0; pass < passes; ++pass) {
            for (const std::string &message : messages) {
                buffer.assign(message.begin(), message.end());
                buffer.push_back('\0');
                parse(buffer.data(), message.size());
            }
        }
        std::printf("%s: %ld passes of %zu messages\n", which.c_str(), passes, messages.size());
        return 0;
    }

    // Both parsers must accept every message of the corpus, or the comparison means nothing.
    for (const std::string &message : messages) {
        std::vector<char> text(message.begin(), message.end());
        text.push_back('\0');
        parser_t parsed{};
        int ours = MessageParse(text.data(), &parsed);
        MessageFree(&parsed);
        osip_message_t *theirs = nullptr;
        osip_message_init(&theirs);
        int osip = osip_message_parse(theirs, message.data(), message.size());
        osip_message_free(theirs);
        msg_t *sofia =
            msg_make(sip_default_mclass(), 0, message.data(), static_cast<isize_t>(message.size()));
        bool sofia_ok = sofia != nullptr && sip_object(sofia) != nullptr &&
                        sip_object(sofia)->sip_error == nullptr;
        msg_destroy(sofia);
        if (ours != 0 || osip != 0 || !sofia_ok) {
            std::fprintf(stderr,
                         "corpus message not accepted (MessageParse %d, osip2 %d, sofia-sip %s):"
                         "\n%s\n",
                         ours, osip, sofia_ok ? "ok" : "failed", message.c_str());
            return 1;
        }
    }

    // Five interleaved runs of one second each, medians of the rates per CPU second, so that no
    // parser is favoured by a neighbour's burst of load.
    constexpr int runs = 5;
    std::vector<double> lazy, eager, osip, sofia;
    for (int run = 0; run < runs; ++run) {
        lazy.push_back(throughput(messages, 1.0, lazy_parse));
        eager.push_back(throughput(messages, 1.0, eager_parse));
        osip.push_back(throughput(messages, 1.0, osip_parse));
        sofia.push_back(throughput(messages, 1.0, sofia_parse));
    }
    double ours = median(lazy);
    double ours_eager = median(eager);
    double theirs_osip = median(osip);
    double theirs_sofia = median(sofia);
    std::printf("corpus: %zu messages; medians of %d interleaved runs of 1 s, per CPU second\n",
                messages.size(), runs);
    std::printf("MessageParse:                 %10.0f messages/s\n", ours);
    std::printf("MessageParse + readers:       %10.0f messages/s\n", ours_eager);
    std::printf("osip_message_parse:           %10.0f messages/s\n", theirs_osip);
    std::printf("sofia-sip msg_make:           %10.0f messages/s\n", theirs_sofia);
    std::printf("ratio lazy / osip2:           %10.2f (goal >= 1.50)\n", ours / theirs_osip);
    std::printf("ratio lazy / sofia-sip:       %10.2f\n", ours / theirs_sofia);
    std::printf("ratio eager / osip2:          %10.2f\n", ours_eager / theirs_osip);
    std::printf("ratio eager / sofia-sip:      %10.2f (goal >= 1.30)\n", ours_eager / theirs_sofia);
    return 0;
}
