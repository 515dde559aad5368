#include "IData.h"

IData::~IData() {
    if (DeleteTempFile(displayFile))
        DeleteTempFile(wavFile);
}
