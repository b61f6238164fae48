// What makes the gateway's answers and requests one dialog with the caller (RFC 3261 sections
// 8.2.6.2, 12.1.1 and 8.1.1.7): the tag the gateway gives the To of its answers, the Contact of
// a 2xx to an INVITE, and a new Via branch for each request it sends.
#pragma once

namespace sipline {

// The methods a call's dialog takes, for Allow (RFC 3261 section 20.5).
inline constexpr const char *SIP_ALLOWED_METHODS =
    "INVITE, ACK, BYE, CANCEL, OPTIONS, INFO, UPDATE";

struct request_t;

// RFC 3261 section 8.1.1.7: a branch that begins so was made unique for its transaction.
inline constexpr const char *BRANCH_COOKIE = "z9hG4bK";

// Fills to_tag and to_tag_received from the received request: the To tag it carries, or else
// the tag the gateway gives every answer of the request's transaction. That tag is drawn from
// the transaction's identifiers (Call-ID, From tag, CSeq number, top Via and its branch, RFC 3261
// section 17.2.3) under a secret drawn once per process, so a retransmission and the CANCEL of an
// INVITE meet the INVITE's tag without any table.
void DialogTakeTag(request_t *r);
// Run on the answer about to be sent: every answer but 100 gets the To tag, and a 2xx to an
// INVITE gets "Contact: <sip:USER@HostAddress:5060>" before its body lines.
void DialogAnswerHeaders(request_t *r);
// A new branch for a request the gateway sends, BRANCH_COOKIE then 16 hex digits; release with
// free().
char *DialogNewBranch();

}  // namespace sipline
