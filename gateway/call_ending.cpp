#include <cstdio>

#include "gateway/call_internal.h"
#include "gateway/call_report.h"
#include "gateway/directory.h"
#include "gateway/globals.h"
#include "gateway/line_tones.h"
#include "gateway/session_refresh.h"
#include "gateway/sip_side.h"
#include "media/line_digits.h"
#include "media/session.h"
#include "sip/uas/request.h"
#include "sip/uas/response.h"

namespace sipline {

call_progress_t CallProgress{};

bool AdvanceCallState(int32_t from, int32_t to) {
    return CallState.compare_exchange_strong(from, to);
}

int Unhandled() {
    std::fprintf(stderr, "Unhandled\n");
    return 0;
}

void ReportBoardError(const char *format, int32_t device) {
    std::fprintf(stderr, format, srl_last_error_code(device), srl_last_error_text(device));
}

void PutLineOnHook() {
    dx_sethook(Channels[LINE_CHANNEL].device, DX_ONHOOK, EV_SYNC);
}

void EndCallCycle(const char *message) {
    LineToneStop();
    SessionTimerArm(0, false);
    MediaClearDigits();
    LineSipCallEnd();
    sip_side::NewCurrentRequest();
    CallState = ST_CYCLEEND;
    CallLoopRunning = 0;
    CallProgress = {};
    ForgetDirectoryEntry();
    CallReportClose();
    std::printf("%s", message);
}

void StopMedia(const char *closed) {
    PulseEvent(shdwnhandle);
    MediaStop = 1;
    // A pair that was never resumed cannot end; the cycle's end disposes of it.
    if (CallProgress.audio_resumed) {
        WaitForMultipleObjects(2, AudioThreads, false, INFINITE);
    }
    std::printf("%s", closed);
    if (MediaSessionOpen()) {
        WaitForSingleObject(RtpMutex, INFINITE);
        CloseMediaSession("hangup");
        ReleaseMutex(RtpMutex);
    }
}

void StopLineIo() {
    for (int32_t i = LINE_CHANNEL; i <= RECORD_CHANNEL; i += 2) {
        if (Channels[i].io_done != 1) {
            dx_stop_io(Channels[i].device, 0);
        }
    }
}

bool SipCallAccepted() {
    request_t *r = CurrentRequest.load();
    return r != nullptr && r->call_id != nullptr;
}

void AnswerInviteFinally(int32_t status) {
    request_t *r = CurrentRequest.load();
    std::printf("Sending %d response\n", status);
    WaitForSingleObject(r->mutex, INFINITE);
    ResponseAnswer(r, status, nullptr, nullptr, 0, 1, 0);
    ReleaseMutex(r->mutex);
}

}  // namespace sipline
