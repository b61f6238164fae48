// The RTP engine (RFC 1889): everything an application calls.
#pragma once

#include "rtp/connection.h"
#include "rtp/context.h"
#include "rtp/errors.h"
#include "rtp/members.h"
#include "rtp/receive.h"
#include "rtp/rtcp_timing.h"
#include "rtp/rtcp_xr.h"
#include "rtp/send.h"
