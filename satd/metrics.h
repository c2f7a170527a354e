// What /metrics serves, in the Prometheus text format 0.0.4: the counters and
// histograms of the calls since satd started, and a small writer of the format
// (HELP and TYPE lines, escaped label values, histogram buckets).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace satd {

using Labels = std::vector<std::pair<std::string, std::string>>;

class Histogram {
  public:
    // Upper bounds in seconds, ascending; "+Inf" is implied.
    static constexpr double kBounds[] = {0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120};
    void observe(double seconds);
    // Cumulative counts per bound, the last one being +Inf (= count()).
    std::vector<std::uint64_t> cumulative() const;
    double sum() const { return sum_; }
    std::uint64_t count() const { return count_; }

  private:
    std::uint64_t counts_[std::size(kBounds) + 1] = {};
    double sum_ = 0;
    std::uint64_t count_ = 0;
};

// Writes one metric family after another. Each family begins with family(); its
// samples follow. The text ends with a newline, as the format asks.
class Exposition {
  public:
    void family(const std::string& name, const char* type, const char* help);
    void sample(const std::string& name, const Labels& labels, double value);
    void histogram(const std::string& name, const Labels& labels, const Histogram& h);
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

// A label value with backslash, double quote and newline escaped.
std::string escape_label(const std::string& value);
// A sample value: integers without exponent or fraction, NaN and infinities by name.
std::string format_value(double value);

// The call counters, shared by the HTTP threads and the device worker.
class Metrics {
  public:
    // A call that reached the device worker: its answer code ("" when none) and its
    // time from the queue to the answer.
    void call(const std::string& funcao, const std::string& code, double seconds);
    // The time a call waited for its turn on the device.
    void waited(double seconds);
    void write(Exposition& out) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::uint64_t> calls_;
    std::map<std::string, Histogram> durations_;
    Histogram wait_;
};

} // namespace satd
