#include "sip/uas/credentials.h"

#include <cstdlib>
#include <string>

#include "sip/message/digest.h"
#include "sip/uas/dialog.h"

namespace sipline {

int RequestCredentials(const parser_t *response, const char *user, const char *password,
                       const char *method, const char *uri, const char **header,
                       char **credentials) {
    const bool proxy = response->status == 407;
    if (user == nullptr || user[0] == '\0' || (response->status != 401 && !proxy)) {
        return -1;
    }
    digest_challenge_t challenge{};
    if (DigestChallengeRead(
            RFC822_Find(response->headers, proxy ? "Proxy-Authenticate" : "WWW-Authenticate"),
            &challenge) != 0) {
        return -1;
    }
    // A fresh cnonce for every answer: 16 hex digits drawn as a branch is.
    char *branch = DialogNewBranch();
    std::string cnonce(branch + std::char_traits<char>::length(BRANCH_COOKIE));
    std::free(branch);
    *credentials = DigestCredentials(&challenge, user, password != nullptr ? password : "", method,
                                     uri != nullptr ? uri : "", cnonce.c_str());
    *header = proxy ? "Proxy-Authorization" : "Authorization";
    return 0;
}

}  // namespace sipline
