// What a capture run saw: the update ratio of every poll and the figures derived from them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace capture_cli {

class Summary {
public:
    // One poll: its update ratio, the frame bytes the library copied to the CPU for it and how long the
    // library's poll took.
    void add_poll(float ratio, uint64_t bytes_copied, double poll_seconds);
    // The changed rectangles of the last poll's new frame, recorded in summary.json.
    void add_changed_rects(int64_t poll, std::string json_array) {
        changed_.emplace_back(poll, std::move(json_array));
    }
    // A poll that handed out a frame no poll had handed out before (changed or not): its number and time, and the
    // generation of the device that captured it.
    void add_frame(int64_t poll, uint64_t number, int64_t system_time, uint32_t device_generation) {
        frames_.push_back({poll, number, system_time});
        if (device_generation > 1) rebuilds_ = std::max<int64_t>(rebuilds_, int64_t(device_generation) - 1);
    }
    void set_seconds(double seconds) { seconds_ = seconds; }

    int64_t polls() const { return int64_t(ratios_.size()); }
    int64_t new_frames() const { return new_frames_; }
    // Polls that brought nothing new: an unchanged frame, skipped without a copy, or no frame at all.
    int64_t skipped() const { return polls() - new_frames_; }

    // The closing report, several lines.
    std::string text() const;
    // summary.json: the figures and the update ratio of every poll in order.
    std::string json() const;

private:
    double mean_ratio() const;
    double per_second(int64_t count) const { return seconds_ > 0 ? double(count) / seconds_ : 0.0; }
    // The poll time at `share` of the sorted poll times (0.5 the median), in milliseconds.
    double poll_ms(double share) const;

    std::vector<float> ratios_;
    std::vector<double> poll_seconds_;
    std::vector<std::pair<int64_t, std::string>> changed_;  // poll index and its rectangles as a JSON array
    struct Frame {
        int64_t poll;
        uint64_t number;
        int64_t system_time;
    };
    std::vector<Frame> frames_;
    int64_t new_frames_ = 0;
    int64_t rebuilds_ = 0;  // of the device after a loss, as the frames tell them
    float min_ratio_ = 0;
    float max_ratio_ = 0;
    double ratio_sum_ = 0;
    uint64_t bytes_copied_ = 0;
    double seconds_ = 0;
};

}  // namespace capture_cli
