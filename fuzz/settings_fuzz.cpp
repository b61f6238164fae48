// SettingsParse over any text: a settings file is refused with an error or read whole.
#include <cstdint>
#include <cstdio>

#include "config/settings.h"

using namespace sipline;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    gateway_settings_t settings;
    settings_error_t error;
    if (SettingsParse(reinterpret_cast<const char *>(data), size, "fuzz.toml", &settings, &error) ==
        0) {
        FILE *sink = std::fopen("/dev/null", "w");
        if (sink != nullptr) {
            SettingsPrint(settings, sink);
            std::fclose(sink);
        }
    } else {
        SettingsErrorText(error);
    }
    return 0;
}
