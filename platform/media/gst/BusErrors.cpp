#include "BusErrors.h"

#include <string>

#include "GstHandles.h"
#include "LastError.h"

namespace media::gst {

namespace {

// "Internal data stream error." says little on its own; GStreamer puts the
// reason on the last line of the debug text.
std::string ErrorText(const GError* error, const gchar* debug) {
    std::string text = error && error->message ? error->message : "Unknown streaming error";
    if (!debug)
        return text;
    std::string detail = debug;
    auto lastLine = detail.find_last_of('\n');
    if (lastLine != std::string::npos)
        detail = detail.substr(lastLine + 1);
    if (detail.find("reason") != std::string::npos || detail.find(':') == std::string::npos) {
        if (!detail.empty() && text.find(detail) == std::string::npos)
            text += " (" + detail + ")";
    }
    return text;
}

}  // namespace

GraphError ErrorOfMessage(GstMessage* message) {
    GError* rawError = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &rawError, &rawDebug);
    ErrorPtr error(rawError);
    GCharPtr debug(rawDebug);
    auto code = static_cast<std::uint32_t>(error ? error->code : 0);
    return {code, WidenUtf8(ErrorText(error.get(), debug.get()))};
}

}  // namespace media::gst
