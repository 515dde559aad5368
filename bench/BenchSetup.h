#pragma once
// What every benchmark program does first. No one is there to answer a message
// box, so each goes to standard error with the program's name; the audio
// objects run on the GStreamer backend, as in the program.
#include <cstdio>
#include <string>

#include "GstBackend.h"
#include "LastError.h"
#include "MessageBox.h"

inline void SetUpBenchmark(const char* name) {
    SetMessageBoxHandler([name](const std::wstring& text, const std::wstring& caption, unsigned) {
        std::fprintf(stderr, "%s: message box \"%s\": %s\n", name, NarrowUtf8(caption).c_str(),
                     NarrowUtf8(text).c_str());
        return IDOK;
    });
    media::SetMediaFactory(CreateGstMediaFactory());
}
