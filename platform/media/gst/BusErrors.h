#pragma once
// Readable text for the errors GStreamer elements post on a bus, for the last
// error the caller reports ("Resource not found. (No such file ...)").
#include <gst/gst.h>

#include "EventQueue.h"

namespace media::gst {

// The code and text of an ERROR message.
GraphError ErrorOfMessage(GstMessage* message);

}  // namespace media::gst
