#include "IData.h"

#include <algorithm>

std::int32_t VolumeFromPosition(int position) {
    return (std::clamp(position, 0, 100) - 100) * 100;
}

int PositionFromVolume(std::int32_t volume) {
    return volume / 100 + 100;
}

IData::~IData() {
    if (DeleteTempFile(displayFile))
        DeleteTempFile(wavFile);
}
