#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtp/context_internal.h"
#include "rtp/members_internal.h"
#include "rtp/rtp.h"
#include "rtp/tests/rtp_test_util.h"

namespace sipline {
namespace {

using rtp_test::loopback;
using rtp_test::make_rtp;
using rtp_test::rtp_packet_fields;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct event {
    int32_t member;
    int32_t code;
    bool operator==(const event &) const = default;
};
std::vector<event> events;
std::vector<std::string> addresses;

class Members : public rtp_test::context_test {
  protected:
    void SetUp() override {
        context_test::SetUp();
        events.clear();
        addresses.clear();
        RTPSetMemberEventCallback(context_,
                                  [](int32_t, int32_t member, int32_t code, const char *) {
                                      events.push_back({member, code});
                                  });
        RTPSessionSetMemberAddressCallback(
            context_,
            [](int32_t, int32_t member, const char *address, const char *port, int32_t rtcp) {
                addresses.push_back(std::to_string(member) + " " + address + ":" + port +
                                    (rtcp ? " rtcp" : " rtp"));
            });
    }
    rtperror rtp_from(uint32_t ssrc, uint16_t port, uint16_t sequence = 1) {
        rtp_packet_fields s;
        s.ssrc = ssrc;
        s.sequence = sequence;
        std::vector<char> p = make_rtp(s);
        sockaddr_in from = loopback(port);
        return RTPPacketReceived(context_, p.data(), static_cast<int32_t>(p.size()), &from,
                                 sizeof from, 0, 0);
    }
    int32_t id_of(uint32_t ssrc) {
        rtp_member_t *m = RTPMemberBySSRC(ctx_, ssrc);
        return m == nullptr ? -1 : m->id;
    }
};

TEST_F(Members, OwnMemberIsConfirmedWithIdZero) {
    int32_t state = -1, sender = -1;
    ASSERT_EQ(RTPMemberInfoGetStatus(context_, 0, &state, &sender), RTP_OK);
    EXPECT_EQ(state, RTP_MEMBER_CONFIRMED);
    EXPECT_EQ(sender, RTP_SENDER_NONE);
    EXPECT_EQ(ctx_->members.confirmed, 1);
    sockaddr_in address{};
    ASSERT_EQ(RTPMemberInfoGetRTPAddr(context_, 0, &address), RTP_OK);
    EXPECT_EQ(address.sin_family, RTP_FAMILY_UNKNOWN);
}

TEST_F(Members, SourceHeardOnceStaysNewAndItsSecondPacketConfirmsIt) {
    ASSERT_EQ(rtp_from(0xAAAA, 5004, 1), RTP_OK);
    int32_t id = id_of(0xAAAA);
    ASSERT_GT(id, 0);
    int32_t state = -1, sender = -1;
    ASSERT_EQ(RTPMemberInfoGetStatus(context_, id, &state, &sender), RTP_OK);
    EXPECT_EQ(state, RTP_MEMBER_NEW);
    EXPECT_EQ(sender, RTP_SENDER_ACTIVE);
    EXPECT_THAT(events, ElementsAre(event{id, RTP_EVENT_NEW_MEMBER}, event{id, RTP_EVENT_ACTIVE}));
    events.clear();
    ASSERT_EQ(rtp_from(0xAAAA, 5004, 2), RTP_OK);
    ASSERT_EQ(RTPMemberInfoGetStatus(context_, id, &state, &sender), RTP_OK);
    EXPECT_EQ(state, RTP_MEMBER_CONFIRMED);
    EXPECT_EQ(sender, RTP_SENDER_SENDING);
    EXPECT_THAT(events,
                ElementsAre(event{id, RTP_EVENT_CONFIRMED}, event{id, RTP_EVENT_NEW_SENDER}));
    EXPECT_EQ(ctx_->members.confirmed, 2);
    EXPECT_EQ(ctx_->active.senders, 1);
}

TEST_F(Members, RtpPortsOfOnePairCountAsOneAddress) {
    ASSERT_EQ(rtp_from(0xBBBB, 5004), RTP_OK);
    ASSERT_EQ(rtp_from(0xBBBB, 5005), RTP_OK);
    EXPECT_EQ(ctx_->members.count, 2) << "own member and one source";
    int32_t id = id_of(0xBBBB);
    EXPECT_THAT(addresses, ElementsAre(std::to_string(id) + " 127.0.0.1:5004 rtp"))
        << "the address is learnt once";
    const char *address = nullptr, *port = nullptr;
    ASSERT_EQ(RTPMemberInfoGetRTPAddrText(context_, id, &address, &port), RTP_OK);
    EXPECT_STREQ(port, "5004");
}

TEST_F(Members, StateChangesRaiseTheirEvents) {
    ASSERT_EQ(rtp_from(0xCCCC, 5004, 1), RTP_OK);
    rtp_member_t *m = RTPMemberBySSRC(ctx_, 0xCCCC);
    events.clear();
    struct row {
        int32_t to;
        std::vector<int32_t> raised;
    } rows[] = {
        {RTP_MEMBER_CONFIRMED, {RTP_EVENT_CONFIRMED}},
        {RTP_MEMBER_EXPIRED, {RTP_EVENT_EXPIRED}},
        {RTP_MEMBER_CONFIRMED, {RTP_EVENT_RECONFIRMED}},
        {RTP_MEMBER_CONFIRMED, {}},
    };
    for (const auto &r : rows) {
        events.clear();
        RTPMemberSetState(ctx_, m, r.to);
        std::vector<int32_t> raised;
        for (const auto &e : events) {
            raised.push_back(e.code);
        }
        EXPECT_EQ(raised, r.raised) << "to state " << r.to;
    }
    EXPECT_EQ(ctx_->members.confirmed, 2);
    RTPMemberSetState(ctx_, m, RTP_MEMBER_EXPIRED);
    EXPECT_EQ(ctx_->members.confirmed, 1);
    events.clear();
    ASSERT_EQ(rtp_from(0xCCCC, 5004, 2), RTP_OK);
    EXPECT_EQ(m->state, RTP_MEMBER_CONFIRMED) << "an expired member is confirmed at once";
    EXPECT_EQ(events.front().code, RTP_EVENT_RECONFIRMED);
}

TEST_F(Members, SenderStatusChangesRaiseTheirEvents) {
    ASSERT_EQ(rtp_from(0xDDDD, 5004, 1), RTP_OK);
    ASSERT_EQ(rtp_from(0xDDDD, 5004, 2), RTP_OK);
    rtp_member_t *m = RTPMemberBySSRC(ctx_, 0xDDDD);
    ASSERT_EQ(m->sender, RTP_SENDER_SENDING);
    events.clear();
    RTPMemberSetSender(ctx_, m, RTP_SENDER_ACTIVE);
    EXPECT_EQ(ctx_->active.senders, 0);
    RTPMemberSetSender(ctx_, m, RTP_SENDER_NONE);
    EXPECT_THAT(events, ElementsAre(event{m->id, RTP_EVENT_SENDER_TO_ACTIVE},
                                    event{m->id, RTP_EVENT_INACTIVE}));
    EXPECT_EQ(ctx_->active.count, 0);
    EXPECT_EQ(m->stats, nullptr) << "statistics go with the activity";
    // A report block mentioning it (no sender flag) puts it back as active, not as sender.
    RTPMemberActivity(ctx_, m, false, rtp_now());
    EXPECT_EQ(m->sender, RTP_SENDER_ACTIVE);
    EXPECT_EQ(ctx_->active.newest, m);
}

TEST_F(Members, OnlyOwnAndContributorInformationMayBeChanged) {
    ASSERT_EQ(rtp_from(0xEEEE, 5004), RTP_OK);
    int32_t id = id_of(0xEEEE);
    EXPECT_EQ(RTPMemberInfoSetSDES(context_, id, RTP_SDES_NAME, "x"), RTP_PERSON_DATA_PROTECTED);
    EXPECT_THAT(RTPLastErrorText(),
                HasSubstr("cannot change person " + std::to_string(id) + " SDES info"));
    EXPECT_EQ(RTPMemberInfoSetPktCount(context_, id, 5), RTP_PERSON_DATA_PROTECTED);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("member info"));
    EXPECT_EQ(RTPMemberInfoSetUserData(context_, id, 5), RTP_OK);
    int32_t word = 0;
    EXPECT_EQ(RTPMemberInfoGetUserData(context_, id, &word), RTP_OK);
    EXPECT_EQ(word, 5);

    EXPECT_EQ(RTPMemberInfoSetSDES(context_, 0, RTP_SDES_CNAME, "alice@example.com"), RTP_OK);
    EXPECT_EQ(RTPMemberInfoSetSDES(context_, 0, RTP_SDES_NAME, "sip-marva Gateway"), RTP_OK);
    const char *text = nullptr;
    EXPECT_EQ(RTPMemberInfoGetSDES(context_, 0, RTP_SDES_CNAME, &text), RTP_OK);
    EXPECT_STREQ(text, "alice@example.com");
    EXPECT_EQ(RTPMemberInfoGetSDES(context_, 0, RTP_SDES_EMAIL, &text), RTP_OK);
    EXPECT_STREQ(text, "") << "an item not set reads as empty";
    EXPECT_EQ(RTPMemberByCNAME(ctx_, "alice@example.com"), ctx_->own);
    EXPECT_EQ(RTPMemberInfoSetSDES(context_, 0, 13, "x"), RTP_NO_SUCH_SDES);
    EXPECT_EQ(RTPMemberInfoGetSDES(context_, 0, 0, &text), RTP_NO_SUCH_SDES);
    EXPECT_EQ(RTPMemberInfoGetSDES(context_, 999, 1, &text), RTP_NO_SUCH_PERSON);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("person 999 does not exist"));

    int32_t found = -1;
    EXPECT_EQ(RTPFindMember(context_, RTP_SDES_NAME, "sip-marva Gateway", &found), RTP_OK);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(RTPFindMember(context_, RTP_SDES_NAME, "sip-marva", &found), RTP_NO_SUCH_PERSON);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("no person with SDES field 2 of sip-marva"));
}

TEST_F(Members, SetAndGetSenderReportFields) {
    uint32_t a = 0, b = 0;
    ASSERT_EQ(RTPMemberInfoSetNTP(context_, 0, 1, 2), RTP_OK);
    ASSERT_EQ(RTPMemberInfoGetNTP(context_, 0, &a, &b), RTP_OK);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    ASSERT_EQ(RTPMemberInfoSetRTP(context_, 0, 3), RTP_OK);
    ASSERT_EQ(RTPMemberInfoGetRTP(context_, 0, &a), RTP_OK);
    EXPECT_EQ(a, 3u);
    ASSERT_EQ(RTPMemberInfoSetOctCount(context_, 0, 4), RTP_OK);
    ASSERT_EQ(RTPMemberInfoGetOctCount(context_, 0, &a), RTP_OK);
    EXPECT_EQ(a, 4u);
    ASSERT_EQ(RTPMemberInfoSetRTCPPktCount(context_, 0, 5), RTP_OK);
    ASSERT_EQ(RTPMemberInfoGetRTCPPktCount(context_, 0, &a), RTP_OK);
    EXPECT_EQ(a, 5u);
}

TEST_F(Members, IterationRunsFromTheLeastRecentlyHeard) {
    ASSERT_EQ(rtp_from(0x1, 5004), RTP_OK);
    ASSERT_EQ(rtp_from(0x2, 5006), RTP_OK);
    ASSERT_EQ(rtp_from(0x1, 5004, 2), RTP_OK);  // 0x1 is now the most recently heard
    rtp_member_iterator_t it{};
    int32_t id = -1;
    std::vector<int32_t> order;
    for (rtperror r = RTPFirstMember(context_, &it, &id); r == RTP_OK;
         r = RTPNextMember(context_, &it, &id)) {
        order.push_back(id);
    }
    EXPECT_THAT(order, ElementsAre(0, id_of(0x2), id_of(0x1)));
    EXPECT_EQ(RTPNextMember(context_, &it, &id), RTP_END_OF_LIST);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("end of list"));
    ASSERT_EQ(RTPCurrentMember(context_, &it, &id), RTP_OK);
    EXPECT_EQ(id, id_of(0x1));
}

TEST_F(Members, MergedIdsLeadToTheKeptRecord) {
    ASSERT_EQ(rtp_from(0x10, 5004), RTP_OK);
    int32_t kept = id_of(0x10);
    RTPMergeLogAdd(ctx_, 50, 40);
    RTPMergeLogAdd(ctx_, 40, kept);
    uint32_t ssrc = 0;
    ASSERT_EQ(RTPMemberInfoGetSSRC(context_, 50, &ssrc), RTP_OK) << "through two merges";
    EXPECT_EQ(ssrc, 0x10u);
    for (int32_t i = 0; i < 2000; ++i) {
        RTPMergeLogAdd(ctx_, 100000 + i, kept);
    }
    EXPECT_EQ(ctx_->merge_log.size(), 1002u) << "at 2000 pairs the newest 1000 stay, then two more";
    EXPECT_EQ(RTPMemberById(ctx_, 50), nullptr) << "the oldest pairs are gone";
    EXPECT_EQ(RTPMemberById(ctx_, 101999), RTPMemberById(ctx_, kept));
}

TEST_F(Members, DeletionUnlinksTheMemberEverywhere) {
    ASSERT_EQ(rtp_from(0x20, 5004, 1), RTP_OK);
    ASSERT_EQ(rtp_from(0x20, 5004, 2), RTP_OK);
    ASSERT_EQ(rtp_from(0x30, 5008, 1), RTP_OK);
    rtp_member_t *gone = RTPMemberBySSRC(ctx_, 0x20);
    rtp_member_t *other = RTPMemberBySSRC(ctx_, 0x30);
    int32_t gone_id = gone->id;
    gone->sdes[0] = "gone@host";
    RTPCnameHashInsert(ctx_, gone);
    other->reports[gone_id] = rtp_report_t{gone_id, 1, 2, 3, 4, 5, 6};
    other->reports[0] = rtp_report_t{0, 1, 2, 3, 4, 5, 6};
    ctx_->recent_rtcp_sender = gone;
    events.clear();
    RTPMemberDelete(ctx_, gone);
    EXPECT_THAT(events, ElementsAre(event{gone_id, RTP_EVENT_INACTIVE}));
    EXPECT_EQ(RTPMemberBySSRC(ctx_, 0x20), nullptr);
    EXPECT_EQ(RTPMemberByCNAME(ctx_, "gone@host"), nullptr);
    EXPECT_EQ(RTPMemberById(ctx_, gone_id), nullptr);
    EXPECT_EQ(other->reports.count(gone_id), 0u);
    EXPECT_EQ(other->reports.size(), 1u);
    int32_t member = -1;
    EXPECT_EQ(RTPMostRecentRTCPPerson(context_, &member), RTP_NO_SUCH_PERSON);
    EXPECT_EQ(RTPMostRecentRTPPerson(context_, &member), RTP_OK);
    EXPECT_EQ(member, other->id);
    EXPECT_EQ(ctx_->members.count, 2);
    EXPECT_EQ(ctx_->members.confirmed, 1);
    EXPECT_EQ(ctx_->active.senders, 0);
    RTPMemberDelete(ctx_, ctx_->own);
    EXPECT_EQ(RTPMemberById(ctx_, 0), ctx_->own) << "the own member is never deleted";
}

TEST_F(Members, ListCursorsStepAsideForUnlinkedMembers) {
    ASSERT_EQ(rtp_from(0x41, 5004), RTP_OK);
    ASSERT_EQ(rtp_from(0x42, 5008), RTP_OK);
    rtp_member_t *a = RTPMemberBySSRC(ctx_, 0x41);
    rtp_member_t *b = RTPMemberBySSRC(ctx_, 0x42);
    ctx_->members.expiry_cursor = a;
    ctx_->active.sender_cursor = b;
    RTPMemberHeard(ctx_, a, rtp_now());  // to the head: the cursor goes to its older neighbour
    EXPECT_EQ(ctx_->members.expiry_cursor, ctx_->own);
    RTPMemberDelete(ctx_, b);
    EXPECT_EQ(ctx_->active.sender_cursor, a) << "a was the next older on the activity list";
}

TEST_F(Members, ReceiverReportsAreWalkedInReporterOrder) {
    ASSERT_EQ(rtp_from(0x50, 5004, 1), RTP_OK);
    rtp_member_t *m = RTPMemberBySSRC(ctx_, 0x50);
    m->reports[7] = rtp_report_t{7, 10, 0, 0, 0, 0, 0};
    m->reports[3] = rtp_report_t{3, 30, 0, 0, 0, 0, 0};
    rtp_report_iterator_t it{};
    rtp_report_t report{};
    ASSERT_EQ(RTPSenderInfoGetFirstReceiverReport(context_, m->id, &it, &report), RTP_OK);
    EXPECT_EQ(report.reporter, 3);
    ASSERT_EQ(RTPSenderInfoGetNextReceiverReport(context_, m->id, &it, &report), RTP_OK);
    EXPECT_EQ(report.reporter, 7);
    EXPECT_EQ(RTPSenderInfoGetNextReceiverReport(context_, m->id, &it, &report), RTP_END_OF_LIST);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("Last hash entry reached"));
    RTPMemberSetSender(ctx_, m, RTP_SENDER_NONE);
    EXPECT_EQ(RTPSenderInfoGetFirstReceiverReport(context_, m->id, &it, &report),
              RTP_NO_SUCH_SENDER);
    EXPECT_EQ(RTPSenderInfoGetFracLost(context_, m->id, &report), RTP_NO_SUCH_SENDER);
}

TEST_F(Members, CollisionChainsKeepOneHolderInTheSsrcHash) {
    ASSERT_EQ(rtp_from(0x60, 5004), RTP_OK);
    rtp_member_t *holder = RTPMemberBySSRC(ctx_, 0x60);
    sockaddr_in elsewhere = loopback(6000);
    rtp_member_t *second =
        RTPMemberCreate(ctx_, 0x60, &elsewhere, false, RTP_MEMBER_CONFIRMED, rtp_now());
    RTPChainAppend(ctx_, holder, second);
    EXPECT_EQ(RTPMemberBySSRC(ctx_, 0x60), holder);
    EXPECT_TRUE(holder->collision && second->collision);
    // A packet from the second participant's address reaches the second record.
    ASSERT_EQ(rtp_from(0x60, 6000), RTP_OK);
    int32_t recent = -1;
    ASSERT_EQ(RTPMostRecentRTPPerson(context_, &recent), RTP_OK);
    EXPECT_EQ(recent, second->id);
    RTPMemberDelete(ctx_, holder);
    EXPECT_EQ(RTPMemberBySSRC(ctx_, 0x60), second) << "the one left holds the SSRC again";
    EXPECT_FALSE(second->collision);
}

TEST_F(Members, TenThousandSourcesAreFoundBySsrcAndId) {
    for (uint32_t ssrc = 1; ssrc <= 10000; ++ssrc) {
        ASSERT_EQ(rtp_from(ssrc, static_cast<uint16_t>(20000 + 2 * (ssrc % 1000))), RTP_OK);
    }
    EXPECT_EQ(ctx_->members.count, 10001);
    for (uint32_t ssrc : {1u, 5000u, 10000u}) {
        rtp_member_t *m = RTPMemberBySSRC(ctx_, ssrc);
        ASSERT_NE(m, nullptr);
        uint32_t back = 0;
        ASSERT_EQ(RTPMemberInfoGetSSRC(context_, m->id, &back), RTP_OK);
        EXPECT_EQ(back, ssrc);
    }
}

}  // namespace
}  // namespace sipline
