#include "gateway/prompt_files.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace sipline {
namespace {

// Written by PromptsLocate at start-up, read by the main thread afterwards.
std::string enter_path = PROMPT_ENTER;
std::string not_found_path = PROMPT_NOT_FOUND;

void locate(const char *name, const char *data_dir, std::string &path) {
    path = name;
    if (access(name, R_OK) == 0) {
        return;
    }
    std::string installed = std::string(data_dir) + "/" + name;
    if (access(installed.c_str(), R_OK) == 0) {
        path = installed;
        return;
    }
    std::fprintf(stderr,
                 "sipline: warning: the prompt %s is neither in the working directory nor in %s: "
                 "a call from the line will fail\n",
                 name, data_dir);
}

}  // namespace

void PromptsLocate(const char *data_dir) {
    locate(PROMPT_ENTER, data_dir, enter_path);
    locate(PROMPT_NOT_FOUND, data_dir, not_found_path);
}

const char *PromptPath(const char *name) {
    return std::string(name) == PROMPT_NOT_FOUND ? not_found_path.c_str() : enter_path.c_str();
}

}  // namespace sipline
