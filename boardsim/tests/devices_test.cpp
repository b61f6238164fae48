#include <thread>

#include "boardsim/tests/board_fixture.h"

namespace sipline::testing {
namespace {

using DevicesTest = BoardTest;

TEST_F(DevicesTest, OnlyTheBoardAndItsFourChannelsOpen) {
    struct Case {
        const char *name;
        bool opens;
    };
    const Case cases[] = {
        {"dxxxB1", true},     {"dxxxB1C1", true},  {"dxxxB1C2", true},  {"dxxxB1C3", true},
        {"dxxxB1C4", true},   {"dxxxB1C0", false}, {"dxxxB1C5", false}, {"dxxxB2", false},
        {"dxxxB1C1x", false}, {"", false},         {"DXXXB1C1", false},
    };
    for (const Case &c : cases) {
        int32_t device = dx_open_device(c.name, 0);
        if (c.opens) {
            EXPECT_GE(device, 0) << c.name;
            EXPECT_STREQ(srl_device_name(device), c.name);
            EXPECT_EQ(dx_close_device(device), 0) << c.name;
        } else {
            EXPECT_EQ(device, -1) << c.name;
            EXPECT_EQ(srl_last_error_code(-1), EDX_BADDEV) << c.name;
            EXPECT_NE(std::string(srl_last_error_text(-1)).find(c.name), std::string::npos)
                << srl_last_error_text(-1);
        }
    }
    EXPECT_EQ(dx_open_device(nullptr, 0), -1);
}

TEST_F(DevicesTest, AnOpenDeviceCannotBeOpenedTwice) {
    int32_t device = dx_open_device("dxxxB1C1", 0);
    ASSERT_GE(device, 0);
    EXPECT_EQ(dx_open_device("dxxxB1C1", 0), -1);
    EXPECT_EQ(srl_last_error_code(-1), EDX_BUSY);
    EXPECT_EQ(dx_close_device(device), 0);
    EXPECT_EQ(dx_open_device("dxxxB1C1", 0), device);
}

TEST_F(DevicesTest, StatusListsTheDevicesOpened) {
    dx_open_device("dxxxB1", 0);
    dx_open_device("dxxxB1C3", 0);
    dx_open_device("dxxxB1C9", 0);
    EXPECT_EQ(status_of("opened"), "dxxxB1,dxxxB1C3");
}

TEST_F(DevicesTest, FirmwareBufferFollowsTheBlockSetting) {
    struct Case {
        const char *setting;  // null: unset
        int read_result;
        int32_t value;
        bool complaint;
    };
    const Case cases[] = {
        {nullptr, 0, 160, false}, {"320", 0, 320, false}, {"768", 0, 768, false},
        {"fail", -1, 0, false},   {"abc", 0, 160, true},  {"770", 0, 160, true},
        {"100", 0, 160, true},    {"0", 0, 160, true},    {"", 0, 160, true},
    };
    for (const Case &c : cases) {
        boardsim_shutdown();
        if (c.setting != nullptr) {
            setenv("BOARDSIM_BLOCK", c.setting, 1);
        } else {
            unsetenv("BOARDSIM_BLOCK");
        }
        ::testing::internal::CaptureStderr();
        int32_t board = dx_open_device("dxxxB1", 0);
        std::string complaint = ::testing::internal::GetCapturedStderr();
        ASSERT_GE(board, 0);
        int32_t value = 0;
        EXPECT_EQ(dx_get_board_parameter(board, BOARD_FIRMWARE_BUFFER, &value), c.read_result)
            << (c.setting ? c.setting : "unset");
        EXPECT_EQ(value, c.value) << (c.setting ? c.setting : "unset");
        EXPECT_EQ(!complaint.empty(), c.complaint) << complaint;
        dx_close_device(board);
    }
}

TEST_F(DevicesTest, UnknownParametersAndSettingsFail) {
    int32_t board = dx_open_device("dxxxB1", 0);
    int32_t value = 0;
    EXPECT_EQ(dx_get_board_parameter(board, 0x1234, &value), -1);
    EXPECT_EQ(srl_last_error_code(board), EDX_BADPARM);
    int32_t channel = dx_open_device("dxxxB1C1", 0);
    int32_t one = 1;
    EXPECT_EQ(dx_set_channel_parameter(channel, CHANNEL_PARAMETER_1, &one), 0);
    EXPECT_EQ(dx_set_channel_parameter(channel, 0x42, &one), -1);
    EXPECT_EQ(dx_channel_setting(channel, 0x20), -1);
    EXPECT_EQ(dx_after_onhook(channel), 0);
    EXPECT_EQ(dx_sethook(channel, 7, EV_SYNC), -1);
    EXPECT_EQ(dx_sethook(999, DX_OFFHOOK, EV_SYNC), -1);
}

TEST_F(DevicesTest, ClearingATerminationListZeroesEveryEntry) {
    termination_t list[2] = {{1, 2, 3, 4, 5, 6, nullptr}, {7, 8, 9, 10, 11, 12, nullptr}};
    list[0].link = &list[1];
    EXPECT_EQ(dx_clear_termination_list(list, 2), 0);
    for (const termination_t &t : list) {
        EXPECT_EQ(t.type + t.condition + t.length + t.flags + t.data + t.reserved, 0);
        EXPECT_EQ(t.link, nullptr);
    }
    EXPECT_EQ(dx_clear_termination_list(nullptr, 1), -1);
}

TEST_F(DevicesTest, EachChannelHasItsNamedStreamEvent) {
    dx_open_device("dxxxB1C3", 0);
    HANDLE event = OpenEvent("dxxxB1C3TUVOEvent");
    ASSERT_NE(event, nullptr);
    CloseHandle(event);
}

}  // namespace
}  // namespace sipline::testing
