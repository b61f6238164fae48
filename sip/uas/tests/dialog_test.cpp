// The dialog the gateway's answers and requests make with a caller, through the request handler
// and across a loopback socket: To tags, the Contact of a 2xx, the branch of the gateway's BYE,
// the matching of in-dialog requests by tag, and the To addresses an INVITE may name.
#include "sip/uas/dialog.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
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
#include "sip/uas/request.h"
#include "sip/uas/response.h"
#include "sip/uas/status.h"
#include "sip/uas/tests/fake_gateway.h"
#include "sip/uas/transport.h"

namespace sipline {
namespace {

std::vector<request_t *> received;

int capture_starter(thread_t *, void *, void *(*)(void *), void *argument) {
    received.push_back(static_cast<request_t *>(argument));
    return 0;
}

// The caller: a socket on loopback that the requests' Via names.
struct caller_socket {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    caller_socket() {
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    }
    ~caller_socket() { close(fd); }
    int port() const { return ntohs(address.sin_port); }
    std::vector<std::string> receive(int milliseconds = 200) {
        std::vector<std::string> got;
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, milliseconds) > 0) {
            char buffer[UDP_BUFFER_SIZE];
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            got.emplace_back(buffer, static_cast<size_t>(n));
        }
        return got;
    }
};

// The value of the first header line of that name, or "(none)".
std::string header(const std::string &message, const std::string &name) {
    size_t start = message.find("\r\n" + name + ": ");
    if (start == std::string::npos) {
        return "(none)";
    }
    start += name.size() + 4;
    return message.substr(start, message.find("\r\n", start) - start);
}

std::string tag_of(const std::string &address) {
    char *tag = SIP_AddressTag(address.c_str());
    std::string result = tag != nullptr ? tag : "(none)";
    free(tag);
    return result;
}

std::string status_line(const std::string &message) {
    return message.substr(0, message.find("\r\n"));
}

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        StatusTextInit();
        gateway_.install();
        sender_ = socket(AF_INET, SOCK_DGRAM, 0);
        baseline_ = RequestLiveCount();
    }
    void TearDown() override {
        RequestFree(CurrentRequestExchange(nullptr));
        RequestSetThreadStarter(nullptr);
        close(sender_);
        EXPECT_EQ(RequestLiveCount(), baseline_) << "records left behind";
    }
    // Hands the request to the handler as the listener would and returns what came back.
    std::vector<std::string> deliver(const std::string &request) {
        RequestSetThreadStarter(capture_starter);
        std::string text = request;
        DatagramProcess(text.data(), static_cast<int32_t>(text.size()), sender_, &caller_.address);
        std::vector<request_t *> records;
        records.swap(received);
        for (request_t *r : records) {
            RequestProcessThread(r);
        }
        return caller_.receive();
    }
    std::string request(const std::string &method, int cseq, const std::string &branch,
                        const std::string &to_tag = "", const std::string &to_host = "gw") {
        return method + " sip:1234@" + to_host +
               " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(caller_.port()) +
               ";branch=" + branch + "\r\nFrom: <sip:caller@127.0.0.1>;tag=c1\r\nTo: <sip:1234@" +
               to_host + ">" + (to_tag.empty() ? "" : ";tag=" + to_tag) +
               "\r\nCall-ID: dialog-1\r\nCSeq: " + std::to_string(cseq) + " " + method +
               "\r\nContent-Length: 0\r\n\r\n";
    }
    // The gateway's side: the INVITE accepted, then the 200 the state machine sends.
    std::string connect() {
        std::vector<std::string> trying = deliver(request("INVITE", 1, "z9hG4bKinv"));
        EXPECT_EQ(trying.size(), 1u);
        EXPECT_EQ(gateway_.CallState.load(), ST_SIPINV);
        request_t *current = gateway_.CurrentRequest.load();
        ResponseAnswer(current, 200, "v=0\r\n", "application/sdp", -1, 0, 0);
        std::vector<std::string> ok = caller_.receive();
        EXPECT_EQ(ok.size(), 1u);
        gateway_.CallState.store(ST_CLEANUP);
        return ok.empty() ? "" : ok[0];
    }

    testing::fake_gateway gateway_;
    caller_socket caller_;
    int sender_ = -1;
    int32_t baseline_ = 0;
};

TEST_F(DialogTest, EveryAnswerButTryingCarriesOneTagPerTransaction) {
    std::vector<std::string> first = deliver(request("OPTIONS", 1, "z9hG4bKa"));
    std::vector<std::string> again = deliver(request("OPTIONS", 1, "z9hG4bKa"));
    std::vector<std::string> other = deliver(request("OPTIONS", 2, "z9hG4bKb"));
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(again.size(), 1u);
    ASSERT_EQ(other.size(), 1u);
    std::string tag = tag_of(header(first[0], "To"));
    EXPECT_THAT(tag, ::testing::MatchesRegex("[0-9a-f]{16}")) << first[0];
    EXPECT_EQ(tag_of(header(again[0], "To")), tag) << "a retransmission met another tag";
    EXPECT_NE(tag_of(header(other[0], "To")), tag) << "two transactions share a tag";
    EXPECT_EQ(header(first[0], "To"), "<sip:1234@gw>;tag=" + tag);
}

TEST_F(DialogTest, TheCallsAnswersAndByeShareTheDialogsTag) {
    std::string ok = connect();
    EXPECT_EQ(status_line(ok), "SIP/2.0 200 OK");
    std::string tag = tag_of(header(ok, "To"));
    ASSERT_NE(tag, "(none)") << ok;
    // Header order stays, the Contact stands before the body's lines.
    EXPECT_THAT(ok, ::testing::ContainsRegex(
                        "\r\nTo: <sip:1234@gw>;tag=[0-9a-f]+\r\nCall-ID: dialog-1\r\nCseq: 1 "
                        "INVITE\r\nDate: [^\r]+\r\nAllow: INVITE, ACK, BYE, CANCEL, OPTIONS, INFO, UPDATE\r\nSupported: timer\r\nContact: <sip:1234@127\\.0\\.0\\.1:5060>\r\n"
                        "Content-Length: 5\r\nContent-Type: application/sdp\r\n\r\nv=0\r\n$"));

    request_t *current = gateway_.CurrentRequest.load();
    std::vector<std::string> branches;
    for (int i = 0; i < 2; i++) {
        snprintf(current->cseq.method, sizeof current->cseq.method, "%s", "BYE");
        RequestDialogHeaders(current);
        RequestSend(current, 0, 0);
        std::vector<std::string> bye = caller_.receive();
        ASSERT_EQ(bye.size(), 1u);
        EXPECT_EQ(header(bye[0], "From"), "<sip:1234@gw>;tag=" + tag);
        EXPECT_EQ(header(bye[0], "To"), "<sip:caller@127.0.0.1>;tag=c1");
        std::string via = header(bye[0], "Via");
        EXPECT_THAT(via, ::testing::MatchesRegex(
                             "SIP/2\\.0/UDP 127\\.0\\.0\\.1:5060;branch=z9hG4bK[0-9a-f]{16}"));
        EXPECT_EQ(header(bye[0], "Max-Forwards"), "70");
        branches.push_back(via.substr(via.find("branch=")));
    }
    EXPECT_NE(branches[0], branches[1]) << "two BYEs share a branch";
}

TEST_F(DialogTest, TheGatewaysByeFollowsTheRecordRouteSetToTheCallersContact) {
    caller_socket proxy;
    std::string invite = request("INVITE", 1, "z9hG4bKrr");
    std::string record_routes = "Record-Route: <sip:127.0.0.1:" + std::to_string(proxy.port()) +
                                ";lr>\r\nRecord-Route: <sip:192.0.2.9;lr>\r\nContact: "
                                "\"Caller\" <sip:caller@192.0.2.7:5077;transport=udp>\r\n";
    invite.insert(invite.find("Content-Length"), record_routes);
    std::vector<std::string> trying = deliver(invite);
    ASSERT_EQ(trying.size(), 1u) << "the 100 went to the Via, not to the route";
    request_t *current = gateway_.CurrentRequest.load();
    ResponseAnswer(current, 200, "v=0\r\n", "application/sdp", -1, 0, 0);
    ASSERT_EQ(caller_.receive().size(), 1u);
    gateway_.CallState.store(ST_CLEANUP);

    snprintf(current->cseq.method, sizeof current->cseq.method, "%s", "BYE");
    RequestDialogHeaders(current);
    RequestSend(current, 0, 0);
    EXPECT_TRUE(caller_.receive().empty()) << "the BYE went past the proxy";
    std::vector<std::string> bye = proxy.receive();
    ASSERT_EQ(bye.size(), 1u) << "the BYE did not reach the first route";
    EXPECT_EQ(status_line(bye[0]), "BYE sip:caller@192.0.2.7:5077;transport=udp SIP/2.0");
    std::string routes = "\r\nRoute: <sip:127.0.0.1:" + std::to_string(proxy.port()) +
                         ";lr>\r\nRoute: <sip:192.0.2.9;lr>\r\n";
    EXPECT_NE(bye[0].find(routes), std::string::npos)
        << "the route set is not in the Record-Route order:\n"
        << bye[0];
    EXPECT_EQ(header(bye[0], "Record-Route"), "(none)") << bye[0];
}

TEST_F(DialogTest, InDialogRequestsAreTheCallsOnlyWithItsTag) {
    std::string tag = tag_of(header(connect(), "To"));
    request_t *current = gateway_.CurrentRequest.load();

    EXPECT_TRUE(deliver(request("ACK", 1, "z9hG4bKack1", "wrong")).empty());
    EXPECT_EQ(current->acked.load(), 0) << "an ACK of another dialog acknowledged the call";
    EXPECT_TRUE(deliver(request("ACK", 1, "z9hG4bKack2", tag)).empty());
    EXPECT_EQ(current->acked.load(), 1);

    std::vector<std::string> stranger = deliver(request("BYE", 2, "z9hG4bKbye1", "wrong"));
    ASSERT_EQ(stranger.size(), 1u);
    EXPECT_EQ(status_line(stranger[0]), "SIP/2.0 481 Invalid Call-ID");
    EXPECT_TRUE(gateway_.events.size() == 1u) << "a BYE of another dialog posted an event";
    std::vector<std::string> bye = deliver(request("BYE", 3, "z9hG4bKbye2", tag));
    ASSERT_EQ(bye.size(), 1u);
    EXPECT_EQ(status_line(bye[0]), "SIP/2.0 200 OK");
    EXPECT_EQ(header(bye[0], "To"), "<sip:1234@gw>;tag=" + tag) << "the tag was added twice";
    ASSERT_EQ(gateway_.events.size(), 2u);
    EXPECT_EQ(gateway_.events[1], EV_REMOTE_HANGUP);
}

TEST_F(DialogTest, CancelIsTheCallsWhenItNamesTheInvitesTransaction) {
    std::vector<std::string> trying = deliver(request("INVITE", 1, "z9hG4bKinv"));
    ASSERT_EQ(trying.size(), 1u);
    EXPECT_EQ(tag_of(header(trying[0], "To")), "(none)") << "100 carries a tag";
    gateway_.CallState.store(ST_TXDIAL);
    std::vector<std::string> foreign = deliver(request("CANCEL", 1, "z9hG4bKother"));
    ASSERT_EQ(foreign.size(), 1u);
    EXPECT_EQ(status_line(foreign[0]), "SIP/2.0 481 Invalid Call-ID");
    EXPECT_EQ(gateway_.CallState.load(), ST_TXDIAL);
    std::vector<std::string> cancel = deliver(request("CANCEL", 1, "z9hG4bKinv"));
    ASSERT_EQ(cancel.size(), 1u);
    EXPECT_EQ(status_line(cancel[0]), "SIP/2.0 200 OK");
    EXPECT_EQ(gateway_.CallState.load(), ST_CLEANUP);
    // RFC 3261 section 9.2: the CANCEL's answer and the INVITE's final answer share the To tag.
    request_t *current = gateway_.CurrentRequest.load();
    ResponseAnswer(current, 480, nullptr, nullptr, 0, 0, 0);
    std::vector<std::string> terminated = caller_.receive();
    ASSERT_EQ(terminated.size(), 1u);
    EXPECT_EQ(tag_of(header(terminated[0], "To")), tag_of(header(cancel[0], "To")));
}

struct HostRow {
    const char *host_address;  // the address the host's name resolves to
    const char *to_host;
    bool accepted;
};

const HostRow kHosts[] = {
    {"127.0.0.1", "gw", true},               // the short name
    {"127.0.0.1", "gw.sipline.test", true},  // the full name
    {"192.0.2.5", "192.0.2.5", true},        // the address the name resolves to
    {"192.0.2.5", "127.0.0.1", true},        // an address of an interface (loopback)
    {"192.0.2.5", "198.51.100.7", false},    // an address of another host
    {"192.0.2.5", "other.example", false},   // another name
    {"192.0.2.5", "192.0.2.5.example", false},
};

class DialogToHost : public DialogTest, public ::testing::WithParamInterface<HostRow> {};

TEST_P(DialogToHost, InviteIsTakenOnlyWhenToNamesThisHost) {
    const HostRow &row = GetParam();
    sip_gateway_t g = gateway_.record();
    g.HostAddress = row.host_address;
    g.PostEvent = [](void *context, int32_t type) {
        static_cast<testing::fake_gateway *>(context)->events.push_back(type);
    };
    g.context = &gateway_;
    SipGatewayRegister(&g);
    std::vector<std::string> got = deliver(request("INVITE", 1, "z9hG4bKhost", "", row.to_host));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(status_line(got[0]), row.accepted ? "SIP/2.0 100 Trying" : "SIP/2.0 400 Bad Request")
        << "To host " << row.to_host;
    EXPECT_EQ(gateway_.events.size(), row.accepted ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, DialogToHost, ::testing::ValuesIn(kHosts));

}  // namespace
}  // namespace sipline
