// Oscillogram paint time at 1920x600: the waveform under its time axis painted
// from the cached pictures, and with both pictures rebuilt (after a Reset, as
// every scroll, zoom or playing tick does).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>

#include "TimelineDecorator.h"
#include "VisualComponent.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 600;

std::unique_ptr<short[]> Columns(std::mt19937& random) {
    auto columns = std::make_unique<short[]>(kWidth);
    for (int i = 0; i < kWidth; ++i)
        columns[i] = static_cast<short>(random() % (kHeight / 2));
    return columns;
}

template <class F>
double MeanMicroseconds(int runs, F paint) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i)
        paint();
    std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / runs;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    auto wave = std::make_unique<VisualComponent>(0, 0, kWidth - 1, kHeight - 1);
    VisualComponent* waveform = wave.get();
    TimelineDecorator chain(0, 0, kWidth - 1, kHeight - 1, std::move(wave));
    QImage target(kWidth, kHeight, QImage::Format_RGB32);
    std::mt19937 random(1);
    auto paint = [&] {
        QPainter painter(&target);
        chain.Draw(painter);
    };
    auto reset = [&] {
        chain.Reset();
        waveform->SetColumns(Columns(random), kWidth - 2);
        waveform->SetCursorColumn(kWidth / 2);
        waveform->SetSelection(300, 900);
        chain.SetTimeRange(1234.5, 60.0);
    };
    reset();
    paint();
    double cached = MeanMicroseconds(200, paint);
    double rebuilt = MeanMicroseconds(200, [&] {
        reset();
        paint();
    });
    std::printf("paint_1920x600_cached_us=%.0f\n", cached);
    std::printf("paint_1920x600_rebuilt_us=%.0f\n", rebuilt);
    return 0;
}
