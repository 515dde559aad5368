#pragma once
// The program's media backend: graphs over GStreamer pipelines, capture devices
// through PulseAudio.
//
//   auto factory = CreateGstMediaFactory();   // initialises GStreamer once
//   media::SetMediaFactory(factory);
//
// CoCreateInstance then gives:
//   SystemDeviceEnum      ICreateDevEnum over the PulseAudio capture sources
//   FilterGraph           IGraphBuilder (AddSourceFilter for any file GStreamer
//                         decodes, RenderFile for a WAV file), IMediaControl,
//                         IMediaEventEx, IMediaEventSink, IMediaSeeking, and
//                         once a file is rendered IBasicAudio and IGraphClock
//   CaptureGraphBuilder2  ICaptureGraphBuilder2
//   SampleGrabber         IBaseFilter, ISampleGrabber
//   NullRenderer          IBaseFilter, IMediaFilter
#include <memory>

#include "Media.h"

std::shared_ptr<media::IMediaFactory> CreateGstMediaFactory();
