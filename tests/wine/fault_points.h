// A test module's fault points: the tests choose the HRESULT the next call of a point fails with, once.
#pragma once

#include <windows.h>

#include <atomic>

namespace wine_wgc {

template <int Count>
class FaultPoints {
public:
    void arm(int point, HRESULT hr) {
        if (point >= 0 && point < Count) points_[point] = hr;
    }
    // The HRESULT to fail `point` with this time, or S_OK; taking it clears it.
    HRESULT take(int point) { return points_[point].exchange(S_OK); }
    // Armed points no call has taken yet.
    long pending() const {
        long armed = 0;
        for (const auto &point : points_) armed += FAILED(point.load());
        return armed;
    }

private:
    std::atomic<HRESULT> points_[Count];  // S_OK (0) at first
};

}  // namespace wine_wgc
