// Where the line's prompts are played from: the working directory when it holds them (a build
// tree, a test, an administrator's own recordings in the service's state directory), else the
// data directory the gateway was built for (/usr/share/sipline when installed).
#pragma once

namespace sipline {

// The prompt files the gateway plays.
inline constexpr const char *PROMPT_ENTER = "enter.vox";
inline constexpr const char *PROMPT_NOT_FOUND = "notfound.vox";

// Finds each prompt; one warning line on err for a prompt found nowhere (a call from the line
// would then end at it). At start-up.
void PromptsLocate(const char *data_dir);
// The path to play a prompt by: the name itself or the data directory's file. Main thread.
const char *PromptPath(const char *name);

}  // namespace sipline
