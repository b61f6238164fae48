#include "sip/message/fields.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "sip/message/tests/message_fixture.h"

namespace sipline {
namespace {

using ::testing::HasSubstr;

std::string text(const char *value) {
    return value == nullptr ? "(null)" : value;
}

std::string dotted(const sockaddr_in &address) {
    char buffer[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &address.sin_addr, buffer, sizeof buffer);
    return buffer;
}

struct ViaRow {
    const char *lines;
    int transport;
    const char *address;
    int port;
    const char *host;
    int branch;
    const char *error;  // empty when none is expected
};

const ViaRow kVias[] = {
    {"Via: SIP/2.0/UDP 10.1.2.3:5070;branch=7\r\n", VIA_UDP, "10.1.2.3", 5070, "10.1.2.3", 7, ""},
    {"Via: SIP/2.0/TCP 10.0.0.1\r\n", VIA_TCP, "10.0.0.1", 5060, "10.0.0.1", -1, ""},
    {"Via: sip/2.0/udp 10.0.0.2\r\n", VIA_UDP, "10.0.0.2", 5060, "10.0.0.2", -1, ""},
    {"Via: SIP / 2.0 / UDP  10.0.0.3 : 6000 ;branch=z9hG4bK77\r\n", VIA_UDP, "10.0.0.3", 6000,
     "10.0.0.3", 0, ""},
    {"Via: SIP/2.0 10.0.0.4\r\n", VIA_UDP, "10.0.0.4", 5060, "10.0.0.4", -1, ""},
    {"v: SIP/2.0/UDP localhost;branch=3\r\n", VIA_UDP, "127.0.0.1", 5060, "localhost", 3, ""},
    {"Via: SIP/2.0/UDP no-such-host.invalid\r\n", VIA_UDP, "255.255.255.255", 5060,
     "no-such-host.invalid", -1, ""},
    {"Via: SIP/3.0/UDP h\r\n", VIA_UDP, "0.0.0.0", 5060, "(null)", -1, "Invalid version 3.0/UDP h"},
    {"Via: HTTP/2.0/UDP h\r\n", VIA_UDP, "0.0.0.0", 5060, "(null)", -1,
     "Invalid protocol HTTP/2.0/UDP h"},
    {"Via: SIP 2.0/UDP h\r\n", VIA_UDP, "0.0.0.0", 5060, "(null)", -1, "Invalid syntax 2.0/UDP h"},
    {"Via: SIP/2.0/SCTP h\r\n", VIA_UDP, "0.0.0.0", 5060, "(null)", -1, "Invalid transport SCTP h"},
    {"Via: SIP/2.0/UDP :5070\r\n", VIA_UDP, "0.0.0.0", 5060, "", -1, "Invalid host :5070"},
    {"To: t\r\n", VIA_UDP, "0.0.0.0", 5060, "(null)", -1, ""},
};

class SipVia : public ::testing::TestWithParam<ViaRow> {};

TEST_P(SipVia, ReadsTheFirstVia) {
    const ViaRow &row = GetParam();
    ParsedMessage parsed(request(row.lines));
    ::testing::internal::CaptureStderr();
    sip_via_t via = SIP_Via(parsed.get(), 1, 1, nullptr);
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(via.transport, row.transport);
    EXPECT_EQ(dotted(via.address), row.address);
    EXPECT_EQ(ntohs(via.address.sin_port), row.port);
    EXPECT_EQ(text(via.host), row.host);
    EXPECT_EQ(via.branch, row.branch);
    EXPECT_EQ(via.ours, 0);
    if (*row.error == '\0') {
        EXPECT_EQ(errors, "");
    } else {
        EXPECT_THAT(errors, HasSubstr(std::string("Error in SIP_Via: ") + row.error));
    }
    SIP_ViaFree(&via);
}

INSTANTIATE_TEST_SUITE_P(Table, SipVia, ::testing::ValuesIn(kVias));

TEST(SipVia, OwnHostAndNoResolving) {
    ParsedMessage parsed(request("Via: SIP/2.0/UDP GW.example.com:5080;branch=1\r\n"));
    sip_via_t via = SIP_Via(parsed.get(), 1, 0, "gw.example.com");
    EXPECT_EQ(via.ours, 1);
    EXPECT_EQ(via.address.sin_family, AF_INET);
    EXPECT_EQ(via.address.sin_addr.s_addr, 0U);
    EXPECT_EQ(ntohs(via.address.sin_port), 5080);
    SIP_ViaFree(&via);
    sip_via_t other = SIP_Via(parsed.get(), 1, 0, "MARVA");
    EXPECT_EQ(other.ours, 0);
    SIP_ViaFree(&other);
}

TEST(SipVia, LongHostIsCutAt255) {
    std::string host(400, 'a');
    ParsedMessage parsed(request("Via: SIP/2.0/UDP " + host + ":5070\r\n"));
    sip_via_t via = SIP_Via(parsed.get(), 1, 0, nullptr);
    EXPECT_EQ(text(via.host), host.substr(0, 255));
    EXPECT_EQ(ntohs(via.address.sin_port), 5070);
    SIP_ViaFree(&via);
}

TEST(SipVia, SecondViaHeaderIsNotFoundBecauseNamesMerge) {
    ParsedMessage parsed(request("Via: SIP/2.0/UDP 1.1.1.1\r\nVia: SIP/2.0/UDP 2.2.2.2\r\n"));
    sip_via_t via = SIP_Via(parsed.get(), 2, 0, nullptr);
    EXPECT_EQ(via.host, nullptr);
    EXPECT_EQ(via.branch, -1);
}

TEST(SipCSeq, NumberAndMethod) {
    struct {
        const char *lines;
        uint32_t number;
        const char *method;
    } rows[] = {
        {"CSeq: 42 INVITE\r\n", 42, "INVITE"},
        {"CSeq: 7\r\n", 7, ""},
        {"CSeq: 1 ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n", 1, "ABCDEFGHIJKLMNOPQRST"},
        {"CSeq: 99999999999 BYE\r\n", 4294967295U, "BYE"},
        {"CSeq: x BYE\r\n", 0, ""},
        {"To: t\r\n", 0, ""},
    };
    for (const auto &row : rows) {
        ParsedMessage parsed(request(row.lines));
        sip_cseq_t cseq = SIP_CSeq(parsed.get());
        EXPECT_EQ(cseq.number, row.number) << row.lines;
        EXPECT_STREQ(cseq.method, row.method) << row.lines;
    }
}

TEST(SipCallId, FullOrCompactNameIsTheMessagesOwnText) {
    ParsedMessage full(request("Call-ID: abc@host\r\n"));
    EXPECT_STREQ(SIP_CallID(full.get()), "abc@host");
    EXPECT_EQ(SIP_CallID(full.get()), full.message.headers->elements->value);
    ParsedMessage compact(request("i: xyz\r\n"));
    EXPECT_STREQ(SIP_CallID(compact.get()), "xyz");
    ParsedMessage none(request("To: t\r\n"));
    EXPECT_EQ(SIP_CallID(none.get()), nullptr);
}

struct AddressRow {
    const char *input;
    const char *display;
    const char *user;
    const char *host;
    const char *parameter;  // first URI parameter as name=value, or empty
};

const AddressRow kAddresses[] = {
    {"\"Alice \\\"A\\\" Smith\" <sip:alice@atlanta.com>;tag=1", "Alice \"A\" Smith", "alice",
     "atlanta.com", ""},
    {"Bob <sip:bob@biloxi.com;transport=udp>;tag=2", "Bob", "bob", "biloxi.com", "transport=udp"},
    {"<sip:1234@gw>", "", "1234", "gw", ""},
    {"sip:1234@gw;tag=abc", "", "1234", "gw", "tag=abc"},
    {"\"unclosed <sip:a@b>", "unclosed <sip:a@b>", "(null)", "(null)", ""},
};

class SipAddress : public ::testing::TestWithParam<AddressRow> {};

TEST_P(SipAddress, SplitsDisplayNameAndUri) {
    const AddressRow &row = GetParam();
    sip_address_t address = SIP_Address(row.input);
    EXPECT_EQ(text(address.display), row.display);
    EXPECT_EQ(text(address.uri.user), row.user);
    EXPECT_EQ(text(address.uri.host), row.host);
    std::string parameter;
    if (address.uri.parameters != nullptr) {
        parameter = std::string(address.uri.parameters[0].name) + "=" +
                    text(address.uri.parameters[0].value);
    }
    EXPECT_EQ(parameter, row.parameter);
    SIP_AddressFree(&address);
}

INSTANTIATE_TEST_SUITE_P(Table, SipAddress, ::testing::ValuesIn(kAddresses));

TEST(SipAddress, NullGivesAnEmptyRecord) {
    sip_address_t address = SIP_Address(nullptr);
    EXPECT_EQ(address.display, nullptr);
    EXPECT_EQ(address.uri.host, nullptr);
}

TEST(SipFromTo, ReadFullAndCompactNames) {
    ParsedMessage parsed(request("f: \"A\" <sip:a@x>;tag=1\r\nTo: <sip:1234@gw>\r\n"));
    sip_address_t from = SIP_From(parsed.get());
    sip_address_t to = SIP_To(parsed.get());
    EXPECT_STREQ(from.display, "A");
    EXPECT_STREQ(from.uri.user, "a");
    EXPECT_STREQ(to.uri.user, "1234");
    EXPECT_STREQ(to.uri.host, "gw");
    SIP_AddressFree(&from);
    SIP_AddressFree(&to);
    ParsedMessage none(request("Via: v\r\n"));
    sip_address_t absent = SIP_To(none.get());
    EXPECT_EQ(absent.uri.host, nullptr);
    EXPECT_EQ(absent.display, nullptr);
}

struct TagRow {
    const char *input;
    const char *tag;  // null when the address has none
};

const TagRow kTags[] = {
    {"<sip:1234@gw>;tag=a6c85cf", "a6c85cf"},
    {"\"Bob\" <sip:bob@biloxi.com>;TAG=1928301774;x=y", "1928301774"},
    {"<sip:bob@biloxi.com> ; tag = 77 ", "77"},
    {"sip:1234@gw;tag=abc", "abc"},
    {"<sip:1234@gw;tag=inside>", nullptr},
    {"\"A;tag=no <\" <sip:a@b>", nullptr},
    {"\"A;tag=no <\" <sip:a@b>;tag=yes", "yes"},
    {"<sip:a@b>;tagx=1;tag=2", "2"},
    {"<sip:a@b>;tag", nullptr},
    {"<sip:a@b>;tag=", nullptr},
    {"<sip:a@b;tag=1", nullptr},
    {"", nullptr},
};

class SipAddressTag : public ::testing::TestWithParam<TagRow> {};

TEST_P(SipAddressTag, ReadsTheAddressParameterNotTheUris) {
    const TagRow &row = GetParam();
    char *tag = SIP_AddressTag(row.input);
    EXPECT_EQ(text(tag), text(row.tag)) << "address " << row.input;
    free(tag);
}

INSTANTIATE_TEST_SUITE_P(Table, SipAddressTag, ::testing::ValuesIn(kTags));

TEST(SipAddressTag, ToHeaderFullOrCompactName) {
    ParsedMessage full(request("To: <sip:1234@gw>;tag=9f\r\n"));
    char *tag = SIP_ToTag(full.get());
    EXPECT_STREQ(tag, "9f");
    free(tag);
    ParsedMessage compact(request("t: <sip:1234@gw>;tag=8e\r\n"));
    tag = SIP_ToTag(compact.get());
    EXPECT_STREQ(tag, "8e");
    free(tag);
    ParsedMessage none(request("To: <sip:1234@gw>\r\n"));
    EXPECT_EQ(SIP_ToTag(none.get()), nullptr);
    EXPECT_EQ(SIP_AddressTag(nullptr), nullptr);
}

TEST(SipContact, OneEntryPerElement) {
    ParsedMessage parsed(
        request("Contact: \"Doe, <J>\" <sip:j@h>;q=0.7;action=Proxy, sip:k@h;expires=60, "
                "<sip:l@h>;action=redirect;expires=0, <sip:unclosed\r\n"));
    int32_t before = static_cast<int32_t>(std::time(nullptr));
    sip_contact_t *contacts = SIP_Contact(parsed.get());
    ASSERT_NE(contacts, nullptr);
    EXPECT_STREQ(contacts[0].address, "sip:j@h");
    EXPECT_FLOAT_EQ(contacts[0].q, 0.7F);
    EXPECT_EQ(contacts[0].action, CONTACT_PROXY);
    EXPECT_EQ(contacts[0].expires, 0);
    EXPECT_STREQ(contacts[1].address, "sip:k@h");
    EXPECT_EQ(contacts[1].q, 0.0F);
    EXPECT_EQ(contacts[1].action, CONTACT_NONE);
    EXPECT_GE(contacts[1].expires, before + 60);
    EXPECT_LE(contacts[1].expires, static_cast<int32_t>(std::time(nullptr)) + 60);
    EXPECT_STREQ(contacts[2].address, "sip:l@h");
    EXPECT_EQ(contacts[2].action, CONTACT_REDIRECT);
    EXPECT_EQ(contacts[2].expires, 1);
    EXPECT_STREQ(contacts[3].address, "");
    EXPECT_EQ(contacts[4].address, nullptr);
    SIP_ContactFree(contacts);
    ParsedMessage none(request("To: t\r\n"));
    EXPECT_EQ(SIP_Contact(none.get()), nullptr);
    SIP_ContactFree(nullptr);
}

struct ContactRow {
    const char *line;
    const char *address;  // of the first entry
    int32_t expires;      // seconds from now of the first entry, or 0 when it has none
    const char *second;   // the second entry's address, or null when there is one entry
};

// The URI's own parameters stay inside its angle brackets; the Contact's follow them.
const ContactRow kContacts[] = {
    {"Contact: <sip:alice@10.0.0.2:5060;transport=udp>;expires=60\r\n",
     "sip:alice@10.0.0.2:5060;transport=udp", 60, nullptr},
    {"Contact: \"Alice\" <sip:alice@10.0.0.2;transport=udp;lr>;q=0.5\r\n",
     "sip:alice@10.0.0.2;transport=udp;lr", 0, nullptr},
    {"m: <sip:a@h;transport=udp>;expires=30, <sip:b@h;maddr=10.0.0.9>\r\n", "sip:a@h;transport=udp",
     30, "sip:b@h;maddr=10.0.0.9"},
    {"Contact: Alice <sip:alice@10.0.0.2:5060;transport=udp> ; expires=60\r\n",
     "sip:alice@10.0.0.2:5060;transport=udp", 60, nullptr},
    {"Contact: <sip:a@h;transport=udp>(why);expires=60\r\nContact: <sip:b@h;lr>\r\n",
     "sip:a@h;transport=udp", 60, "sip:b@h;lr"},
    {"Contact: sip:a@h;expires=60\r\n", "sip:a@h", 60, nullptr},
    {"Contact: <sip:a@h;transport=udp\r\n", "", 0, nullptr},
};

class SipContactUri : public ::testing::TestWithParam<ContactRow> {};

TEST_P(SipContactUri, KeepsTheUrisParametersInsideTheBrackets) {
    const ContactRow &row = GetParam();
    ParsedMessage parsed(request(row.line));
    int32_t before = static_cast<int32_t>(std::time(nullptr));
    sip_contact_t *contacts = SIP_Contact(parsed.get());
    ASSERT_NE(contacts, nullptr) << row.line;
    EXPECT_EQ(text(contacts[0].address), row.address) << row.line;
    if (row.expires == 0) {
        EXPECT_EQ(contacts[0].expires, 0) << row.line;
    } else {
        EXPECT_GE(contacts[0].expires, before + row.expires) << row.line;
        EXPECT_LE(contacts[0].expires, static_cast<int32_t>(std::time(nullptr)) + row.expires)
            << row.line;
    }
    EXPECT_EQ(text(contacts[1].address), text(row.second)) << row.line;
    if (row.second != nullptr) {
        EXPECT_EQ(contacts[2].address, nullptr);
    }
    SIP_ContactFree(contacts);
}

INSTANTIATE_TEST_SUITE_P(Table, SipContactUri, ::testing::ValuesIn(kContacts));

TEST(SipTime, DatesAndSecondsFromNow) {
    EXPECT_EQ(SIP_Time(nullptr), 0);
    EXPECT_EQ(SIP_Time("0"), 1);
    EXPECT_EQ(SIP_Time("-5"), 1);
    EXPECT_EQ(SIP_Time("Tue, 08 Dec 2026 01:24:14 GMT"), 1796693054);
    int32_t before = static_cast<int32_t>(std::time(nullptr));
    int32_t later = SIP_Time("3600");
    EXPECT_GE(later, before + 3600);
    EXPECT_LE(later, static_cast<int32_t>(std::time(nullptr)) + 3600);
    EXPECT_EQ(SIP_Time("99999999999"), 2147483647);
}

TEST(SipExpires, FullNameOnly) {
    ParsedMessage zero(request("Expires: 0\r\n"));
    EXPECT_EQ(SIP_Expires(zero.get()), 1);
    int32_t before = static_cast<int32_t>(std::time(nullptr));
    ParsedMessage hour(request("Expires: 3600\r\n"));
    EXPECT_GE(SIP_Expires(hour.get()), before + 3600);
    ParsedMessage none(request("To: t\r\n"));
    EXPECT_EQ(SIP_Expires(none.get()), 0);
    EXPECT_EQ(SIP_Expires(nullptr), 0);
}

}  // namespace
}  // namespace sipline
