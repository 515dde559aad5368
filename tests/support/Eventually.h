#pragma once
// Checks `done` every 10 ms, as the window's timer would, until it holds; false
// once `bound` has passed. A bound that only keeps a broken build from hanging
// the run is the default; a short one checks that something does not happen.
#include <chrono>
#include <functional>
#include <thread>

inline bool Eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    for (auto giveUp = std::chrono::steady_clock::now() + bound; !done();
         std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
    }
    return true;
}
