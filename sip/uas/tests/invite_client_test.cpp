// The INVITE the gateway sends for a call from the line, across loopback to a callee socket: its
// headers, the responses queued on its branch, its ACKs and CANCEL, the BYE of the dialog it
// made, and the callee's requests in that dialog.
#include "sip/uas/invite_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "board/board.h"
#include "sip/uas/dispatch.h"
#include "sip/uas/outgoing.h"
#include "sip/uas/response.h"
#include "sip/uas/status.h"
#include "sip/uas/tests/fake_gateway.h"
#include "sip/uas/transport.h"

namespace sipline {
namespace {

struct udp_socket {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    udp_socket() {
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    }
    ~udp_socket() { close(fd); }
    int port() const { return ntohs(address.sin_port); }
    std::string receive(int ms = 1000) const {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) {
            return "";
        }
        char buffer[8192];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
    }
};

std::string line_of(const std::string &text, const std::string &name) {
    size_t at = text.find("\r\n" + name + ": ");
    if (at == std::string::npos) {
        return "";
    }
    at += name.size() + 4;
    return text.substr(at, text.find("\r\n", at) - at);
}

std::vector<request_t *> started;

int capture_starter(thread_t *, void *, void *(*)(void *), void *argument) {
    started.push_back(static_cast<request_t *>(argument));
    return 0;
}

class InviteClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        StatusTextInit();
        gateway_.install();
        RequestSetThreadStarter(capture_starter);
        uri_ = "sip:100@127.0.0.1:" + std::to_string(callee_.port());
        r_ = RequestCreate(TRANSPORT_UDP, -1, nullptr);
        ASSERT_EQ(RequestInviteCreate(r_, uri_.c_str(), "sipline", kOffer, gw_.fd), 0);
        ASSERT_EQ(RequestRegister(r_), 1);
        ASSERT_EQ(RequestSend(r_, 0, 0), 0);
        invite_ = callee_.receive();
    }
    void TearDown() override {
        RequestFree(r_);
        for (request_t *s : started) {
            RequestFree(s);
        }
        started.clear();
        RequestSetThreadStarter(nullptr);
    }
    // The callee's message as the listener hands it on, run to its end.
    void from_callee(const std::string &message) {
        std::string text = message;
        DatagramProcess(text.data(), static_cast<int32_t>(text.size()), gw_.fd, &callee_.address);
        std::vector<request_t *> records = started;
        started.clear();
        for (request_t *s : records) {
            if (s->message.type == MESSAGE_RESPONSE) {
                ResponseProcessThread(s);
            } else {
                RequestProcessThread(s);
            }
        }
    }
    std::string response(int status, const char *reason, const std::string &extra = "") {
        return "SIP/2.0 " + std::to_string(status) + " " + reason +
               "\r\nVia: " + line_of(invite_, "Via") + "\r\nFrom: " + line_of(invite_, "From") +
               "\r\nTo: " + line_of(invite_, "To") + (status > 100 ? ";tag=callee1" : "") +
               "\r\nCall-ID: " + line_of(invite_, "Call-ID") + "\r\nCSeq: 1 INVITE\r\n" + extra +
               "Content-Length: 0\r\n\r\n";
    }

    static constexpr const char *kOffer = "v=0\r\nm=audio 8188 RTP/AVP 0 3\r\n";
    testing::fake_gateway gateway_;
    udp_socket callee_;
    udp_socket gw_;
    std::string uri_;
    request_t *r_ = nullptr;
    std::string invite_;
};

TEST_F(InviteClientTest, TheInviteCarriesTheHeadersOfANewDialogAndTheOffer) {
    ASSERT_EQ(invite_.rfind("INVITE " + uri_ + " SIP/2.0\r\n", 0), 0u) << invite_;
    EXPECT_EQ(line_of(invite_, "Via").rfind("SIP/2.0/UDP 127.0.0.1:5060;branch=z9hG4bK", 0), 0u);
    EXPECT_EQ(line_of(invite_, "Max-Forwards"), "70");
    EXPECT_EQ(line_of(invite_, "From").rfind("<sip:sipline@127.0.0.1>;tag=", 0), 0u) << invite_;
    EXPECT_EQ(line_of(invite_, "To"), "<" + uri_ + ">");
    EXPECT_NE(line_of(invite_, "Call-ID").find("@127.0.0.1"), std::string::npos);
    EXPECT_EQ(line_of(invite_, "CSeq"), "1 INVITE");
    EXPECT_EQ(line_of(invite_, "Contact"), "<sip:sipline@127.0.0.1:5060>");
    EXPECT_EQ(line_of(invite_, "Content-Type"), "application/sdp");
    EXPECT_EQ(line_of(invite_, "Content-Length"), std::to_string(strlen(kOffer)));
    EXPECT_EQ(invite_.substr(invite_.find("\r\n\r\n") + 4), kOffer);
}

TEST_F(InviteClientTest, TheLinesCallerIsTheFromQuotedOrAnonymous) {
    const std::string tag = line_of(invite_, "From").substr(line_of(invite_, "From").find(";tag="));
    ASSERT_EQ(RequestInviteSetCaller(r_, "Ada \"The Countess\" \\ L", "5551234", false), 0);
    ASSERT_EQ(RequestSend(r_, 0, 0), 0);
    std::string text = callee_.receive();
    EXPECT_EQ(line_of(text, "From"),
              "\"Ada \\\"The Countess\\\" \\\\ L\" <sip:5551234@127.0.0.1>" + tag);
    EXPECT_EQ(line_of(text, "Contact"), "<sip:sipline@127.0.0.1:5060>") << "the gateway's own";

    EXPECT_EQ(RequestInviteSetCaller(r_, "Eve", "555@evil", false), -1) << "no SIP user";
    EXPECT_EQ(RequestInviteSetCaller(r_, "Eve", "", false), -1);
    ASSERT_EQ(RequestInviteSetCaller(r_, nullptr, nullptr, true), 0);
    ASSERT_EQ(RequestSend(r_, 0, 0), 0);
    text = callee_.receive();
    EXPECT_EQ(line_of(text, "From"), "\"Anonymous\" <sip:anonymous@anonymous.invalid>" + tag);
}

TEST_F(InviteClientTest, ARefusalIsQueuedOnTheBranchAndAckedInTheInvitesTransaction) {
    EXPECT_EQ(RequestResponsesTake(r_, 0), nullptr);
    from_callee(response(180, "Ringing"));
    from_callee(response(486, "Busy Here"));
    sip_response_t *got = RequestResponsesTake(r_, 0);
    ASSERT_NE(got, nullptr);
    ASSERT_NE(got->next, nullptr);
    EXPECT_EQ(got->message.status, 180);
    EXPECT_EQ(got->next->message.status, 486);

    char *ack = RequestAckText(r_, &got->next->message);
    std::string text = ack;
    free(ack);
    EXPECT_EQ(text.rfind("ACK " + uri_ + " SIP/2.0\r\n", 0), 0u) << text;
    EXPECT_EQ(line_of(text, "Via"), line_of(invite_, "Via")) << "the INVITE's branch";
    EXPECT_EQ(line_of(text, "To"), line_of(invite_, "To") + ";tag=callee1");
    EXPECT_EQ(line_of(text, "CSeq"), "1 ACK");
    char *cancel = RequestCancelText(r_);
    text = cancel;
    free(cancel);
    EXPECT_EQ(text.rfind("CANCEL " + uri_ + " SIP/2.0\r\n", 0), 0u) << text;
    EXPECT_EQ(line_of(text, "Via"), line_of(invite_, "Via"));
    EXPECT_EQ(line_of(text, "To"), line_of(invite_, "To")) << "no tag: no dialog yet";
    EXPECT_EQ(line_of(text, "CSeq"), "1 CANCEL");
    RequestResponsesFree(got);
}

TEST_F(InviteClientTest, A2xxMakesTheDialogItsAckAndByeGoToTheContactThroughTheRoutesReversed) {
    from_callee(response(
        200, "OK",
        "Record-Route: <sip:p2.test;lr>, <sip:127.0.0.1:" + std::to_string(callee_.port()) +
            ";lr>\r\nContact: <sip:100@127.0.0.1:6062>\r\n"));
    sip_response_t *got = RequestResponsesTake(r_, 0);
    ASSERT_NE(got, nullptr);
    RequestInviteAnswered(r_, &got->message);
    char *ack = RequestAckText(r_, &got->message);
    std::string text = ack;
    free(ack);
    RequestResponsesFree(got);
    EXPECT_EQ(text.rfind("ACK sip:100@127.0.0.1:6062 SIP/2.0\r\n", 0), 0u) << text;
    EXPECT_NE(line_of(text, "Via"), line_of(invite_, "Via")) << "a transaction of its own";
    EXPECT_EQ(line_of(text, "Route"), "<sip:127.0.0.1:" + std::to_string(callee_.port()) + ";lr>")
        << text;
    EXPECT_NE(text.find("Route: <sip:p2.test;lr>\r\n"), std::string::npos) << text;
    EXPECT_LT(text.find(std::to_string(callee_.port()) + ";lr>"), text.find("p2.test")) << text;

    RequestUnregister(r_);
    r_->cseq.number++;
    snprintf(r_->cseq.method, sizeof r_->cseq.method, "%s", "BYE");
    RequestDialogHeaders(r_);
    ASSERT_EQ(RequestSend(r_, 1, 0), 0);
    std::string bye = callee_.receive();
    ASSERT_EQ(bye.rfind("BYE sip:100@127.0.0.1:6062 SIP/2.0\r\n", 0), 0u) << bye;
    EXPECT_EQ(line_of(bye, "From"), line_of(invite_, "From"));
    EXPECT_EQ(line_of(bye, "To"), line_of(invite_, "To") + ";tag=callee1");
    EXPECT_EQ(line_of(bye, "CSeq"), "2 BYE");
    EXPECT_EQ(line_of(bye, "Content-Length"), "0");
    EXPECT_EQ(bye.substr(bye.find("\r\n\r\n") + 4), "") << "the offer stays with the INVITE";
}

TEST_F(InviteClientTest, TheCalleesByeIsTheCallsWhateverItsNumberAndItsCancelIsNot) {
    gateway_.CurrentRequest = r_;
    gateway_.CallState = ST_CLEANUP;
    auto request = [this](const char *method, int cseq) {
        return std::string(method) +
               " sip:sipline@127.0.0.1:5060 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" +
               std::to_string(callee_.port()) + ";branch=z9hG4bKcallee" + std::to_string(cseq) +
               "\r\nFrom: " + line_of(invite_, "To") +
               ";tag=callee1\r\nTo: " + line_of(invite_, "From") +
               "\r\nCall-ID: " + line_of(invite_, "Call-ID") + "\r\nCSeq: " + std::to_string(cseq) +
               " " + method + "\r\nContent-Length: 0\r\n\r\n";
    };
    from_callee(request("CANCEL", 1));
    EXPECT_EQ(callee_.receive().rfind("SIP/2.0 481", 0), 0u);
    from_callee(request("BYE", 1));
    EXPECT_EQ(callee_.receive().rfind("SIP/2.0 200 OK", 0), 0u);
    from_callee(request("BYE", 1));
    EXPECT_EQ(callee_.receive(300), "") << "a retransmission is not answered again";
    std::vector<int32_t> want = {EV_REMOTE_HANGUP};
    EXPECT_EQ(gateway_.events, want);
    EXPECT_EQ(gateway_.CallState, ST_CLEANUP);
    gateway_.CurrentRequest = nullptr;
}

TEST(InviteClient, ThroughAProxyTheInviteGoesThereWithARoute) {
    testing::fake_gateway gateway;
    gateway.install();
    request_t *r = RequestCreate(TRANSPORT_UDP, -1, nullptr);
    ASSERT_EQ(RequestInviteCreate(r, "sip:555@192.0.2.9", "line", "", 3), 0);
    EXPECT_EQ(RequestInviteThrough(r, "sip:proxy.invalid"), -1);
    EXPECT_EQ(ntohs(r->destination.sin_port), 5060) << "a refused proxy changed the aim";
    ASSERT_EQ(RequestInviteThrough(r, "sip:127.0.0.1:5070"), 0);
    EXPECT_EQ(ntohs(r->destination.sin_port), 5070);
    EXPECT_EQ(ntohs(r->via.address.sin_port), 5070);
    char *text = RequestText(r);
    const std::string sent(text);
    free(text);
    EXPECT_EQ(sent.rfind("INVITE sip:555@192.0.2.9 SIP/2.0\r\n", 0), 0u) << sent;
    EXPECT_EQ(line_of(sent, "Route"), "<sip:127.0.0.1:5070;lr>") << sent;
    RequestFree(r);
}

TEST(InviteClient, AUriWithoutAHostThatResolvesOrNoSocketIsRefused) {
    testing::fake_gateway gateway;
    gateway.install();
    for (const char *uri : {"sip:100@nowhere.invalid", "sip:100@", ""}) {
        request_t *r = RequestCreate(TRANSPORT_UDP, -1, nullptr);
        EXPECT_EQ(RequestInviteCreate(r, uri, "sipline", "", 3), -1) << uri;
        RequestFree(r);
    }
    request_t *r = RequestCreate(TRANSPORT_UDP, -1, nullptr);
    EXPECT_EQ(RequestInviteCreate(r, "sip:100@127.0.0.1:5062", "sipline", "", -1), -1);
    RequestFree(r);
}

}  // namespace
}  // namespace sipline
