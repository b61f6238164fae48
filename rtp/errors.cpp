#include "rtp/errors.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "rtp/context_internal.h"

namespace sipline {

namespace {

struct error_text {
    rtperror code;
    const char *text;
};

constexpr error_text error_texts[] = {
    {RTP_OK, "No error"},
    {RTP_BAD_VALUE, "Parameter out of range"},
    {RTP_CANT_ALLOC_MEM, "Memory allocation failed"},
    {RTP_INSUFFICIENT_BUFFER, "Allocated buffer too small"},
    {RTP_MAXCONTEXTS_EXCEEDED, "Maximum number of contexts exceeded"},
    {RTP_UNKNOWN_CONTEXT, "Context destroyed or never created"},
    {RTP_SOCKET_NOT_OPEN, "Socket not open for reading or writing"},
    {RTP_CANT_GET_SOCKET, "Can't obtain a new socket"},
    {RTP_CANT_BIND_SOCKET, "Can't bind socket"},
    {RTP_CANT_SET_SOCKOPT, "Unable to set socket option"},
    {RTP_SOCKET_WRITE_FAILURE, "Unable to write to socket"},
    {RTP_SOCKET_READ_FAILURE, "Unable to read from socket"},
    {RTP_SOCKET_MISMATCH, "Socket does not belong to session"},
    {RTP_FIXED_WHEN_OPEN, "Change not allowed during open session"},
    {RTP_BAD_ADDR, "Invalid address specified"},
    {RTP_BAD_PORT, "Invalid port specified"},
    {RTP_CANT_CLOSE_SESSION, "Unable to close session"},
    {RTP_BAD_MI, "No such membership info"},
    {RTP_BAD_PROFILE, "Invalid rtpprofile specified"},
    {RTP_SOCKET_EMPTY, "no data to receive at socket"},
    {RTP_PACKET_LOOPBACK, "Packet looped back"},
    {RTP_CSRC_LIST_NOT_SET, "CSRC list not yet set"},
    {RTP_CSRC_APPEARS_TWICE, "2 CSRCs on list have same SSRC"},
    {RTP_BAD_PACKET_FORMAT, "Packet has incorrect format"},
    {RTP_NO_SUCH_PERSON, "Person not session member"},
    {RTP_PERSON_DATA_PROTECTED, "Person data protected"},
    {RTP_NO_SUCH_SENDER, "No such sender in current session"},
    {RTP_NO_SUCH_SDES, "No such SDES field"},
    {RTP_CANT_USE_ENCRYPTION, "Encryption / decryption function not set"},
    {RTP_DECRYPTION_FAILURE, "Packet was unsuccessfully decrypted"},
    {RTP_END_OF_LIST, "End of iterating list"},
    {RTP_CANT_CALL_FUNCTION, "Not allowed to recurse"},
    {RTP_SSRC_IN_USE, "SSRC in use"},
    {RTP_CANT_GETSOCKNAME, "Couldn't get socket name"},
    {RTP_NO_SUCH_CONTRIBUTOR, "No such contributor"},
    {RTP_CSRC_LIST_FULL, "CSRC list full"},
    {RTP_DONT_SEND_NOW, "Don't send this packet now"},
};

// Failures whose cause is a system error: their text carries the C library's text too.
bool from_system(rtperror code) {
    return code == RTP_CANT_ALLOC_MEM ||
           (code >= RTP_CANT_GET_SOCKET && code <= RTP_SOCKET_READ_FAILURE) ||
           code == RTP_BAD_ADDR || code == RTP_BAD_PORT || code == RTP_CANT_CLOSE_SESSION ||
           code == RTP_SOCKET_EMPTY || code == RTP_CANT_GETSOCKNAME;
}

// Per thread, as errno is: the engine serves several threads (audio, RTCP schedule) and each
// must read the failure of its own last call.
struct last_error {
    rtperror code = RTP_OK;
    int system_error = 0;
    std::string message;
    std::string text;
};

thread_local last_error last;
thread_local char unknown_text[48];

}  // namespace

const char *RTPStrError(rtperror code) {
    for (const auto &entry : error_texts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    std::snprintf(unknown_text, sizeof unknown_text, "Unknown RTP Error %d", code);
    return unknown_text;
}

const char *RTPLastErrorText() {
    last.text = last.message + "\n";
    if (from_system(last.code) && last.system_error > 0) {
        last.text += "\n";
        last.text += std::strerror(last.system_error);
        last.text += "\n";
    }
    return last.text.c_str();
}

rtperror RTPReportError(rtperror code, const char *caller, const char *format, ...) {
    last.system_error = errno;
    last.code = code;
    char message[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    last.message = "Call from ";
    last.message += caller;
    last.message += "(): ";
    last.message += message;
    return code;
}

}  // namespace sipline
