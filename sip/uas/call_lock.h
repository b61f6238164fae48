// The lock under which request threads read and fill the call record, so that the gateway
// never releases CurrentRequest under them (see CurrentRequestExchange).
#pragma once

#include <mutex>

namespace sipline {

std::unique_lock<std::mutex> CallLock();

}  // namespace sipline
