// Parses a corpus of typical SIP messages with MessageParse and with libosip2, and prints the
// messages per second of each and their ratio.
#include <osipparser2/osip_parser.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// Runs one pass over the corpus repeatedly for about the given time; messages per second.
template <typename Parse>
double throughput(const std::vector<std::string> &messages, double seconds, Parse parse) {
    std::vector<char> buffer;
    size_t parsed = 0;
    auto start = Clock::now();
    auto deadline = start + std::chrono::duration<double>(seconds);
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
    std::chrono::duration<double> elapsed = Clock::now() - start;
    return static_cast<double>(parsed) / elapsed.count();
}

}  // namespace

int main() {
    using namespace sipline;
    parser_init();
    std::vector<std::string> messages = corpus();

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
        if (ours != 0 || osip != 0) {
            std::fprintf(stderr, "corpus message not accepted (MessageParse %d, osip2 %d):\n%s\n",
                         ours, osip, message.c_str());
            return 1;
        }
    }

    auto sipline_parse = [](char *text, size_t) {
        parser_t parsed{};
        MessageParse(text, &parsed);
        MessageFree(&parsed);
    };
    auto osip_parse = [](char *text, size_t length) {
        osip_message_t *parsed = nullptr;
        osip_message_init(&parsed);
        osip_message_parse(parsed, text, length);
        osip_message_free(parsed);
    };

    // Best of three alternating runs, so that neither side is favoured by a busy neighbour.
    double ours = 0;
    double osip = 0;
    for (int run = 0; run < 3; ++run) {
        ours = std::max(ours, throughput(messages, 1.0, sipline_parse));
        osip = std::max(osip, throughput(messages, 1.0, osip_parse));
    }
    std::printf("corpus: %zu messages\n", messages.size());
    std::printf("MessageParse:       %10.0f messages/s\n", ours);
    std::printf("osip_message_parse: %10.0f messages/s\n", osip);
    std::printf("ratio:              %10.2f (goal >= 1.50)\n", ours / osip);
    return 0;
}
