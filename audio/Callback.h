#pragma once
// The sample-grabber callback: forwards every media sample, on the streaming
// thread, to AddSamples of the audio object it was made for.
#include "IData.h"
#include "Media.h"

class CCallback : public media::ISampleGrabberCB {
  public:
    explicit CCallback(IData* data) : data_(data) {}
    HRESULT SampleCB(double sampleTime, const std::uint8_t* buffer, long length) override {
        data_->AddSamples(buffer, length, sampleTime);
        return S_OK;
    }

  private:
    IData* data_;
};
