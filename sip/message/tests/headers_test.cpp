#include "sip/message/headers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sip/message/tests/message_fixture.h"

namespace sipline {
namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

Lines lines(const header_list_t &list) {
    Lines result;
    for (const header_t *line = list.first; line != nullptr; line = line->next) {
        result.emplace_back(line->name, line->value);
    }
    return result;
}

struct HeaderList : ::testing::Test {
    header_list_t list{};
    void TearDown() override {
        headers_free(&list);
        EXPECT_EQ(list.first, nullptr);
        EXPECT_EQ(list.last, nullptr);
    }
    void expect_last_is_tail() {
        header_t *tail = list.first;
        while (tail != nullptr && tail->next != nullptr) {
            tail = tail->next;
        }
        EXPECT_EQ(list.last, tail);
    }
};

TEST_F(HeaderList, AddCopiesTheValueAndIgnoresNulls) {
    char value[] = "1";
    headers_add(&list, "Via", value);
    value[0] = '2';
    headers_add(&list, nullptr, "x");
    headers_add(&list, "To", nullptr);
    EXPECT_EQ(lines(list), (Lines{{"Via", "1"}}));
    expect_last_is_tail();
}

TEST_F(HeaderList, SetReplacesTheFirstAndRemovesTheOthers) {
    headers_add(&list, "Via", "1");
    headers_add(&list, "Max-Forwards", "70");
    headers_add(&list, "Via", "2");
    headers_set(&list, "via", "3");
    EXPECT_EQ(lines(list), (Lines{{"Via", "3"}, {"Max-Forwards", "70"}}));
    expect_last_is_tail();
    headers_set(&list, "To", "t");
    EXPECT_EQ(lines(list), (Lines{{"Via", "3"}, {"Max-Forwards", "70"}, {"To", "t"}}));
    expect_last_is_tail();
}

TEST_F(HeaderList, RemoveByIndexCorrectsLast) {
    headers_add(&list, "X", "a");
    headers_add(&list, "Y", "b");
    headers_add(&list, "X", "c");
    headers_remove(&list, "x", nullptr, 1);
    EXPECT_EQ(lines(list), (Lines{{"X", "a"}, {"Y", "b"}}));
    expect_last_is_tail();
    headers_remove_first(&list, "X");
    EXPECT_EQ(lines(list), (Lines{{"Y", "b"}}));
    expect_last_is_tail();
    headers_remove_all(&list, "Y");
    EXPECT_EQ(list.first, nullptr);
    EXPECT_EQ(list.last, nullptr);
}

TEST_F(HeaderList, RemoveFromAStartLineCountsAfterIt) {
    headers_add(&list, "X", "a");
    headers_add(&list, "X", "b");
    headers_add(&list, "X", "c");
    headers_remove(&list, "X", list.first, 0);
    EXPECT_EQ(lines(list), (Lines{{"X", "a"}, {"X", "c"}}));
    headers_remove(&list, "X", nullptr, -1);
    EXPECT_EQ(lines(list), Lines{});
}

TEST_F(HeaderList, PrintfFormatsAndCutsLongValues) {
    headers_printf(&list, 0, "CSeq", "%lu %s", 7UL, "INVITE");
    headers_printf(&list, 0, "Via", "SIP/2.0/UDP %s:%d", "h", 5060);
    headers_printf(&list, 1, "CSeq", "%lu %s", 8UL, "BYE");
    EXPECT_EQ(lines(list), (Lines{{"CSeq", "8 BYE"}, {"Via", "SIP/2.0/UDP h:5060"}}));
    std::string huge(2000, 'x');
    headers_printf(&list, 0, "Long", "%s", huge.c_str());
    EXPECT_EQ(std::string(list.last->value), huge.substr(0, PRINTF_MAX - 1));
}

TEST_F(HeaderList, AddTimeFormatsTheGivenTime) {
    headers_add_time(&list, "Date", "%a, %d %b %Y %T GMT", 1796693054, 0);
    EXPECT_EQ(lines(list), (Lines{{"Date", "Tue, 08 Dec 2026 01:24:14 GMT"}}));
    headers_add_time(&list, "Now", "%Y", 0, 0);
    EXPECT_EQ(std::string(list.last->value).size(), 4U);
}

TEST_F(HeaderList, PushFrontInsertsBeforeAll) {
    header_t *line = headers_push_front(&list, "A", "1");
    EXPECT_EQ(list.last, line);
    headers_add(&list, "B", "2");
    headers_push_front(&list, "C", "3");
    EXPECT_EQ(lines(list), (Lines{{"C", "3"}, {"A", "1"}, {"B", "2"}}));
    expect_last_is_tail();
}

TEST_F(HeaderList, GetIteratesOverEqualNames) {
    headers_add(&list, "X", "first");
    headers_add(&list, "Y", "other");
    headers_add(&list, "x", "second");
    header_t *iterator = nullptr;
    EXPECT_STREQ(headers_get(&list, "X", 1, &iterator), "first");
    EXPECT_STREQ(headers_get(&list, "X", 1, &iterator), "second");
    EXPECT_STREQ(headers_get(&list, "X", 1, &iterator), "");
    EXPECT_EQ(iterator, nullptr);
    EXPECT_STREQ(headers_get(&list, "X", 2, &iterator), "second");
    EXPECT_STREQ(headers_get(&list, "Z", 1, &iterator), "");
}

TEST_F(HeaderList, CopyExceptSkipsOneName) {
    header_list_t source{};
    headers_add(&source, "Via", "v");
    headers_add(&source, "Content-Length", "10");
    headers_add(&source, "To", "t");
    headers_copy_except(&list, &source, "content-length");
    EXPECT_EQ(lines(list), (Lines{{"Via", "v"}, {"To", "t"}}));
    headers_free(&list);
    headers_copy_except(&list, &source, nullptr);
    EXPECT_EQ(lines(list), lines(source));
    headers_free(&source);
}

TEST_F(HeaderList, AddMessageRestoresTheOrderOfFirstAppearance) {
    ParsedMessage parsed(
        request("Via: SIP/2.0/UDP a;branch=1, SIP/2.0/UDP b\r\nTo: <sip:t@h>\r\nFrom: f\r\n"
                "Via: SIP/2.0/UDP c\r\n"));
    headers_add_message(&list, parsed.message.headers);
    EXPECT_EQ(lines(list), (Lines{{"Via", "SIP/2.0/UDP a;branch=1"},
                                  {"Via", "SIP/2.0/UDP b"},
                                  {"Via", "SIP/2.0/UDP c"},
                                  {"To", "<sip:t@h>"},
                                  {"From", "f"}}));
    expect_last_is_tail();
    headers_free(&list);
}

TEST_F(HeaderList, PrintWritesOneLinePerHeader) {
    dstring_t ds;
    dstring_init(&ds);
    headers_print(&ds, &list);
    EXPECT_EQ(dstring_length(&ds), 0);
    headers_add(&list, "Via", "v");
    std::string long_value(3000, 'y');
    headers_add(&list, "X", long_value.c_str());
    headers_print(&ds, &list);
    EXPECT_EQ(std::string(dstring_value(&ds)), "Via: v\r\nX: " + long_value + "\r\n");
    dstring_free(&ds);
}

}  // namespace
}  // namespace sipline
