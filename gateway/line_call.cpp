// A call from the line: the ring is answered, the caller hears "enter.vox", dials a number
// ended by "#", and either hears "notfound.vox", or calls the SIP URI of a directory entry
// (line_sip.cpp), or gets the media of an entry without one.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gateway/call_internal.h"
#include "gateway/call_report.h"
#include "gateway/directory.h"
#include "gateway/globals.h"
#include "gateway/line_identity.h"
#include "gateway/prompt_files.h"
#include "gateway/watch.h"
#include "media/session.h"

namespace sipline {
namespace {

constexpr size_t DIGIT_BUFFER_SIZE = 96;

// Written by the board while a digit collection runs; read when it reports its end.
char DigitBuffer[DIGIT_BUFFER_SIZE];

const termination_t *digit_list(const call_event_t &e) {
    return e.channel != nullptr ? e.channel->digit_list : nullptr;
}

void play_or_exit(int32_t device, const char *file, const termination_t *list) {
    if (dx_play_prompt(device, file, list, 0) == -1) {
        std::fprintf(stderr, "Can't play the enter greeting\n");
        std::exit(1);
    }
}

// A call that ends before its media: nothing ends its cycle, so its record is closed here.
void report_ended(const char *reason) {
    CallReportEnding(reason, CALL_SIDE_GATEWAY);
    CallReportClose();
}

// The number dialled, without its "#": true when it ended with "#" and fits DialString. A
// collection that ended otherwise (too many digits, stopped) or a longer number is refused
// whole, never cut.
bool take_number() {
    size_t length = strnlen(DigitBuffer, sizeof DigitBuffer - 1);
    DialString[0] = '\0';
    if (length == 0) {
        return true;
    }
    if (DigitBuffer[length - 1] != '#' || length - 1 > DIAL_STRING_SIZE - 1) {
        std::fprintf(stderr, "Number \"%.*s\" refused: not ended by \"#\" or longer than %d\n",
                     static_cast<int>(length), DigitBuffer, DIAL_STRING_SIZE - 1);
        return false;
    }
    std::memcpy(DialString, DigitBuffer, length - 1);
    DialString[length - 1] = '\0';
    return true;
}

int answer_line(int32_t device) {
    LineIdentityStop();
    CallState = ST_RXOFFHK;
    CallReportOpen(CALL_LINE_TO_SIP);
    CallReportParty("line", nullptr);
    if (dx_sethook(device, DX_OFFHOOK, EV_ASYNC) == -1) {
        ReportBoardError("ERROR: dx_sethook DX_OFFHOOK: 0x%x: %s\n", device);
        report_ended("line unavailable");
        CallState = ST_WTRING;
    }
    return 0;
}

}  // namespace

// With caller ID on, the gateway answers once the identity has arrived or after the rings it is
// told to wait; without, at the first ring.
int LineRings(const call_event_t &e) {
    if (e.type == EV_CALLER_ID && LineIdentityListening()) {
        return answer_line(e.device);
    }
    if (e.type != TDX_CST || e.code != CST_RINGS) {
        return Unhandled();
    }
    if (!LineIdentityEnabled()) {
        return answer_line(e.device);
    }
    const int32_t rings = LineIdentityRing();
    if (LineIdentityAnswerDue(rings)) {
        return answer_line(e.device);
    }
    std::printf("Ring %d: waiting for the caller's identity\n", rings);
    return 0;
}

int LineOffHook(const call_event_t &e) {
    if (e.type != EV_HOOK_DONE || e.code != 1) {
        return Unhandled();
    }
    play_or_exit(e.device, PromptPath(PROMPT_ENTER), digit_list(e));
    std::fprintf(stderr, "Enter number to call, ending with \"#\" key\n");
    CallState = ST_RXGETDTMFS;
    if (dx_getdig(e.device, digit_list(e), DigitBuffer, EV_ASYNC) == -1) {
        ReportBoardError("ERROR: dx_getdig 0x%x: %s\n", e.device);
        report_ended("line unavailable");
        CallState = ST_WTRING;
        dx_sethook(e.device, DX_ONHOOK, EV_SYNC);
    }
    return 0;
}

int LineDigits(const call_event_t &e) {
    if (e.type != EV_DIGITS_DONE) {
        return Unhandled();
    }
    bool complete = take_number();
    CallState = ST_TXDIAL;
    CallReportParty(nullptr, DialString);
    if (!complete || LookupNumber(DialString) == -1) {
        report_ended("number not found");
        play_or_exit(e.device, PromptPath(PROMPT_NOT_FOUND),
                     e.channel != nullptr ? e.channel->prompt_list : nullptr);
        CallState = ST_WTRING;
        PutLineOnHook();
        return 0;
    }
    // An entry with a SIP URI is called; one without gets its media alone.
    if (DestinationUri != nullptr) {
        return CallOut(e);
    }
    if (setup_connection() == -1) {
        report_ended("media set-up failed");
        CallState = ST_WTRING;
        PutLineOnHook();
        ForgetDirectoryEntry();
        return 0;
    }
    std::printf("Setting event: setup_connection succeeded\n");
    srl_post_event(Channels[LINE_CHANNEL].device, EV_SETUP_DONE, 0, nullptr, 0);
    return 0;
}

int StartLineCallMedia() {
    std::printf("Resuming InTh\n");
    ResumeThread(AudioThreads[0]);
    std::printf("Resuming OutTh\n");
    ResumeThread(AudioThreads[1]);
    CallProgress.audio_resumed = true;
    bool started = StartPlaying(LINE_CHANNEL) != -1;
    if (!started) {
        std::fprintf(stderr, "DemoStartPlay failed\n");
    } else {
        CallProgress.streams_started = true;
        started = StartRecording(RECORD_CHANNEL) != -1;
        if (!started) {
            std::fprintf(stderr, "DemoStartRecord failed\n");
        }
    }
    if (!started) {
        // Without play and record nothing would report the line's hang-up.
        StopMedia("Local: objects closed\n");
        StopLineIo();
        EndCallCycle("Local hangup finished\n");
        return -1;
    }
    CallReportAnswered(SdpCodecName(CallMedia.send_codec));
    CallState = ST_CLEANUP;
    std::printf("Line call connected\n");
    return 0;
}

}  // namespace sipline
