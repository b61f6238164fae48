#include "sip/uas/request.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "sip/uas/invite.h"
#include "sip/uas/outgoing.h"
#include "sip/uas/response.h"
#include "sip/uas/status.h"
#include "sip/uas/tests/fake_gateway.h"
#include "sip/uas/transport.h"

namespace sipline {
namespace {

std::vector<request_t *> started;

int capture_starter(thread_t *, void *, void *(*)(void *), void *argument) {
    started.push_back(static_cast<request_t *>(argument));
    return 0;
}

int failing_starter(thread_t *, void *, void *(*)(void *), void *) {
    return 11;
}

class RequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        StatusTextInit();
        gateway_.install();
        baseline_ = RequestLiveCount();
    }
    void TearDown() override {
        for (request_t *r : started) {
            RequestFree(r);
        }
        started.clear();
        RequestSetThreadStarter(nullptr);
        EXPECT_EQ(RequestLiveCount(), baseline_) << "records left behind";
    }
    // Splits the text as the listener splits one datagram; the records are kept in started.
    void split(std::string text) {
        RequestSetThreadStarter(capture_starter);
        sockaddr_in sender{};
        sender.sin_family = AF_INET;
        DatagramProcess(text.data(), static_cast<int32_t>(text.size()), -1, &sender);
    }

    testing::fake_gateway gateway_;
    int32_t baseline_ = 0;
};

std::string options(int cseq, const char *extra = "") {
    return "OPTIONS sip:1@gw SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1\r\nCall-ID: c\r\nCSeq: " +
           std::to_string(cseq) + " OPTIONS\r\n" + extra + "\r\n";
}

TEST_F(RequestTest, DatagramWithTwoMessagesGivesTwoRecordsWithTheirBodies) {
    split(options(1, "Content-Length: 3\r\n") + "abc" + options(2, "Content-Length: 4\r\n") +
          "defg");
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(SIP_CSeq(&started[0]->message).number, 1u);
    EXPECT_STREQ(started[0]->body, "abc");
    EXPECT_EQ(started[0]->body_length, 3);
    EXPECT_EQ(SIP_CSeq(&started[1]->message).number, 2u);
    EXPECT_STREQ(started[1]->body, "defg");
}

TEST_F(RequestTest, EmptyBodyLeavesTheNextMessageWhole) {
    split(options(1, "Content-Length: 0\r\n") + options(2, "l: 0\r\n"));
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0]->body, nullptr);
    EXPECT_STREQ(started[1]->message.method, "OPTIONS");
    EXPECT_EQ(SIP_CSeq(&started[1]->message).number, 2u);
}

TEST_F(RequestTest, MissingOrOverlongContentLengthTakesTheRest) {
    split(options(1) + "rest of datagram");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_STREQ(started[0]->body, "rest of datagram");
    split(options(2, "Content-Length: 999\r\n") + "short");
    ASSERT_EQ(started.size(), 2u);
    EXPECT_STREQ(started[1]->body, "short");
    EXPECT_EQ(started[1]->body_length, 5);
}

TEST_F(RequestTest, FullSizeDatagramIsTaken) {
    std::string text = options(1);
    text += std::string(UDP_BUFFER_SIZE - text.size(), 'x');
    ASSERT_EQ(text.size(), static_cast<size_t>(UDP_BUFFER_SIZE));
    split(text);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0]->body_length, static_cast<int32_t>(UDP_BUFFER_SIZE - options(1).size()));
}

TEST_F(RequestTest, MalformedRequestIsMarked400AndMalformedResponseDropped) {
    split("OPTIONS sip:1@gw SIP/2.0\r\nno colon here\r\n\r\n");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0]->status, 400);
    split("SIP/2.0 200 OK\r\nno colon here\r\n\r\n");
    EXPECT_EQ(started.size(), 1u);  // released at once, not handed on
}

TEST_F(RequestTest, ThreadThatCannotStartIsReportedAndTheMessageDropped) {
    RequestSetThreadStarter(failing_starter);
    std::string text = options(1);
    sockaddr_in sender{};
    ::testing::internal::CaptureStderr();
    DatagramProcess(text.data(), static_cast<int32_t>(text.size()), -1, &sender);
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Error in RequestProcess: "), std::string::npos) << errors;
    EXPECT_NE(errors.find("couldn't start thread: 11"), std::string::npos) << errors;
}

TEST_F(RequestTest, CopiedRecordKeepsTheSharedConditionAfterTheOriginalIsFreed) {
    request_t *invite = RequestCreate(TRANSPORT_UDP, -1, nullptr);
    request_t *current = RequestCreate(TRANSPORT_UDP, -1, nullptr);
    RequestCopy(current, invite);
    EXPECT_EQ(current->cond.object, invite->cond.object);
    RequestFree(invite);
    // The copy's condition object still works: the stored signal, then a time-out.
    timeval past{};
    WaitForSingleObject(current->mutex, INFINITE);
    EXPECT_EQ(cond_timedwait(&current->cond, &current->mutex, &past), 0);
    EXPECT_EQ(cond_timedwait(&current->cond, &current->mutex, &past), COND_TIMEDOUT);
    cond_broadcast(&current->cond);
    ReleaseMutex(current->mutex);
    RequestFree(current);
}

TEST_F(RequestTest, InvalidStatusIsRefusedAndNothingSent) {
    request_t *r = RequestCreate(TRANSPORT_UDP, -1, nullptr);
    for (int status : {499, 607, -1}) {
        RequestSetStatus(r, status, nullptr);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(ResponseSend(r, 0, 0), -1);
        std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(errors.find("invalid status " + std::to_string(status)), std::string::npos)
            << errors;
    }
    RequestFree(r);
}

TEST_F(RequestTest, RecordWithoutViaIsNotSent) {
    request_t *idle = RequestCreate(TRANSPORT_UDP, -1, nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ResponseSendSocket(idle, "x", 1), -1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("Missing Via"), std::string::npos);
    RequestFree(idle);
}

// A socket on loopback that plays the peer.
struct peer_socket {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    peer_socket() {
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    }
    ~peer_socket() { close(fd); }
    // The datagrams that arrive within the time.
    std::vector<std::string> receive(int milliseconds) {
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

TEST_F(RequestTest, AnswerCarriesItsOwnReasonAndVersionAndGoesOutOnce) {
    peer_socket peer;
    int sender = socket(AF_INET, SOCK_DGRAM, 0);
    request_t *r = RequestCreate(TRANSPORT_UDP, sender, &peer.address);
    std::string text = "BYE sip:1@gw SIP/2.0\r\nCall-ID: c\r\nCSeq: 2 BYE\r\n\r\n";
    MessageParse(text.data(), &r->message);
    r->via.address = peer.address;
    r->version = strdup("2.1");
    RequestSetStatus(r, 200, "Fine");
    ResponseCopyHeaders(r);
    WaitForSingleObject(r->mutex, INFINITE);
    EXPECT_EQ(ResponseSend(r, 1, 0), 0);
    ReleaseMutex(r->mutex);
    std::vector<std::string> got = peer.receive(1500);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].rfind("SIP/2.1 200 Fine\r\n", 0), 0u) << got[0];
    EXPECT_NE(got[0].find("\r\nContent-Length: 0\r\n\r\n"), std::string::npos) << got[0];
    RequestFree(r);
    close(sender);
}

TEST_F(RequestTest, ResponseIsQueuedOnTheBranchOfItsRegisteredRequest) {
    request_t *sent = RequestCreate(TRANSPORT_UDP, -1, nullptr);
    sent->call_id = strdup("call-1");
    sent->cseq.number = 5;
    sent->branches = new sip_branch_t[1]{};
    sent->branch_count = 1;
    sent->branches[0].text = strdup("z9hG4bK0123456789abcdef");
    cond_init(&sent->branches[0].cond);
    ASSERT_EQ(RequestRegister(sent), 1);

    auto response = [](const char *call_id, int cseq,
                       const char *branch = "z9hG4bK0123456789abcdef") {
        sockaddr_in from{};
        request_t *r = RequestCreate(TRANSPORT_UDP, -1, &from);
        std::string text = std::string("SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 127.0.0.1;branch=") +
                           branch + "\r\nCall-ID: " + call_id +
                           "\r\nCSeq: " + std::to_string(cseq) + " BYE\r\n\r\n";
        MessageParse(text.data(), &r->message);
        return r;
    };
    ResponseProcessThread(response("other", 5));
    ResponseProcessThread(response("call-1", 6));
    ResponseProcessThread(response("call-1", 5, "z9hG4bK0000000000000000"));
    ResponseProcessThread(response("call-1", 5, "0"));
    EXPECT_EQ(sent->branches[0].responses, nullptr) << "another Call-ID, CSeq or branch";
    ResponseProcessThread(response("call-1", 5));
    ASSERT_NE(sent->branches[0].responses, nullptr);
    EXPECT_EQ(sent->branches[0].responses->message.status, 200);
    EXPECT_EQ(sent->branches[0].responses->branch, &sent->branches[0]);
    RequestFree(sent);  // also unlinks it from the open-request list
    ResponseProcessThread(response("call-1", 5));
}

}  // namespace
}  // namespace sipline
