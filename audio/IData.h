#pragma once
// The audio objects' common base: the two temporary files (display and WAV), the
// PCM format of the audio as it arrived, and the playback volume.
//
// Threads: AddSamples runs on a streaming thread; every other operation on the UI
// thread (or the loading thread while a file loads).
#include <cstdint>
#include <string>

#include "TempFile.h"

// A volume trackbar position 0..100 (clamped) as hundredths of a decibel, one
// decibel a step: 100 is full level, 0 is silence (-10000).
std::int32_t VolumeFromPosition(int position);
// The trackbar position of a volume in hundredths of a decibel.
int PositionFromVolume(std::int32_t volume);

class IData {
  public:
    IData() = default;
    IData(const IData&) = delete;
    IData& operator=(const IData&) = delete;
    // Closes and deletes the temporary files.
    virtual ~IData();
    virtual void ReleaseGraph() = 0;
    virtual void AddSamples(const std::uint8_t* buffer, long length, double sampleTime) = 0;
    virtual void Clear() = 0;
    virtual int GetWidth() = 0;
    virtual int GetScrollPos() = 0;
    virtual void ScrollBy(int dx) = 0;
    virtual void SetScrollPos(int x) = 0;
    virtual int SetCursor(int x) = 0;
    virtual int GetCursorPos() = 0;
    virtual int CenterCursor(int viewWidth) = 0;
    virtual void Play(bool start) = 0;
    virtual bool UpdatePlayback() = 0;
    // Volume as a trackbar position 0..100 (100 loudest).
    virtual int GetVolume() = 0;
    virtual void SetVolume(int position) = 0;

    TempFile displayFile;
    TempFile wavFile;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bytesPerSample = 0;
    // Hundredths of a decibel: 0 full level, -10000 silence.
    std::int32_t volume = 0;
};
