// A fresh simulated board for each gateway test, and the events the gateway's threads wait on.
#pragma once

#include "boardsim/tests/board_fixture.h"
#include "gateway/globals.h"

namespace sipline::testing {

class GatewayTest : public BoardTest {
  protected:
    void SetUp() override {
        BoardTest::SetUp();
        // Made once: the gateway's threads keep them for the life of the process.
        if (shdwnhandle == nullptr) {
            shdwnhandle = CreateEvent(false, nullptr);
            RescheduleEvent = CreateEvent(false, nullptr);
        }
    }
};

}  // namespace sipline::testing
