#include "tools/capture_cli/summary.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>

namespace capture_cli {
namespace {

std::string format(const char *pattern, auto... values) {
    char line[256];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

}  // namespace

void Summary::add_poll(float ratio, uint64_t bytes_copied, double poll_seconds) {
    ratios_.push_back(ratio);
    poll_seconds_.push_back(poll_seconds);
    bytes_copied_ += bytes_copied;
    if (ratio <= 0) return;
    min_ratio_ = new_frames_ == 0 || ratio < min_ratio_ ? ratio : min_ratio_;
    max_ratio_ = ratio > max_ratio_ ? ratio : max_ratio_;
    ratio_sum_ += ratio;
    ++new_frames_;
}

double Summary::mean_ratio() const { return new_frames_ ? ratio_sum_ / double(new_frames_) : 0.0; }

double Summary::poll_ms(double share) const {
    if (poll_seconds_.empty()) return 0.0;
    // The nearest rank: the smallest time that at least `share` of the polls took no longer than.
    std::vector<double> sorted = poll_seconds_;
    const size_t rank = size_t(std::ceil(share * double(sorted.size())));
    const size_t at = rank > 0 ? rank - 1 : 0;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(at), sorted.end());
    return sorted[at] * 1e3;
}

std::string Summary::text() const {
    return format("frames polled        %lld\n", (long long)polls()) +
           format("new frames           %lld\n", (long long)new_frames_) +
           format("update ratio         mean %.4f, min %.4f, max %.4f (of new frames)\n", mean_ratio(),
                  double(min_ratio_), double(max_ratio_)) +
           format("skipped as unchanged %lld\n", (long long)skipped()) +
           format("bytes copied to CPU  %llu\n", (unsigned long long)bytes_copied_) +
           format("polls per second     %.1f\n", per_second(polls())) +
           format("new frames/second    %.1f\n", per_second(new_frames_)) +
           format("poll time            median %.2f ms, 99th percentile %.2f ms\n", poll_ms(0.5), poll_ms(0.99)) +
           format("device rebuilds      %lld\n", (long long)rebuilds_);
}

std::string Summary::json() const {
    std::string out = "{\n";
    out += format("  \"frames_polled\": %lld,\n", (long long)polls());
    out += format("  \"new_frames\": %lld,\n", (long long)new_frames_);
    out += format("  \"skipped_unchanged\": %lld,\n", (long long)skipped());
    out += format("  \"update_ratio\": {\"mean\": %.9g, \"min\": %.9g, \"max\": %.9g},\n", mean_ratio(),
                  double(min_ratio_), double(max_ratio_));
    out += format("  \"bytes_copied\": %llu,\n", (unsigned long long)bytes_copied_);
    out += format("  \"device_rebuilds\": %lld,\n", (long long)rebuilds_);
    out += format("  \"seconds\": %.3f,\n", seconds_);
    out += format("  \"polls_per_second\": %.1f,\n", per_second(polls()));
    out += format("  \"new_frames_per_second\": %.1f,\n", per_second(new_frames_));
    out += format("  \"poll_ms\": {\"median\": %.3f, \"p99\": %.3f},\n", poll_ms(0.5), poll_ms(0.99));
    out += "  \"ratios\": [";
    for (size_t i = 0; i < ratios_.size(); ++i) out += format(i ? ", %.9g" : "%.9g", double(ratios_[i]));
    out += "]";
    // Per frame first handed out: its poll, its number since the start (gaps are frames never handed out) and
    // the system's time for it in 100 ns units.
    out += ",\n  \"frames\": [";
    for (size_t i = 0; i < frames_.size(); ++i)
        out += format(i ? ",\n    {\"poll\": %lld, \"number\": %llu, \"system_time\": %lld}"
                        : "\n    {\"poll\": %lld, \"number\": %llu, \"system_time\": %lld}",
                      (long long)frames_[i].poll, (unsigned long long)frames_[i].number,
                      (long long)frames_[i].system_time);
    out += frames_.empty() ? "]" : "\n  ]";
    if (!changed_.empty()) {
        // Per new frame: its poll and its rectangles [left, top, right, bottom], or null for the whole frame.
        out += ",\n  \"changed_rects\": [";
        for (size_t i = 0; i < changed_.size(); ++i)
            out += format(i ? ",\n    {\"poll\": %lld, \"rects\": " : "\n    {\"poll\": %lld, \"rects\": ",
                          (long long)changed_[i].first) +
                   changed_[i].second + "}";
        out += "\n  ]";
    }
    return out + "\n}\n";
}

}  // namespace capture_cli
