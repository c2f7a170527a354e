#include "metrics.h"

#include "form.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace satd {

void Histogram::observe(double seconds) {
    size_t i = 0;
    while (i < std::size(kBounds) && seconds > kBounds[i])
        ++i;
    ++counts_[i];
    sum_ += seconds;
    ++count_;
}

std::vector<std::uint64_t> Histogram::cumulative() const {
    std::vector<std::uint64_t> out;
    std::uint64_t running = 0;
    for (const std::uint64_t c : counts_)
        out.push_back(running += c);
    return out;
}

std::string escape_label(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        // A scrape with one value that is not UTF-8 is refused whole: such bytes, from
        // the device's answers, become U+FFFD.
        if (const size_t n = utf8_sequence(value, i); n != 1) {
            out += n ? value.substr(i, n) : "\xef\xbf\xbd";
            i += n ? n - 1 : 0;
        } else if (c == '\\' || c == '"')
            out += {'\\', c};
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string format_value(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[32];
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
        return text;
    }
    // The shortest text that reads back as the same number: 0.05, not 0.050000000000000003.
    for (int digits = 6; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

void Exposition::family(const std::string& name, const char* type, const char* help) {
    text_ += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Exposition::sample(const std::string& name, const Labels& labels, double value) {
    text_ += name;
    for (size_t i = 0; i < labels.size(); ++i)
        text_ += (i ? "," : "{") + labels[i].first + "=\"" + escape_label(labels[i].second) + "\"";
    text_ += (labels.empty() ? " " : "} ") + format_value(value) + "\n";
}

void Exposition::histogram(const std::string& name, const Labels& labels, const Histogram& h) {
    const std::vector<std::uint64_t> counts = h.cumulative();
    for (size_t i = 0; i < counts.size(); ++i) {
        Labels with_le = labels;
        with_le.emplace_back(
            "le", i < std::size(Histogram::kBounds) ? format_value(Histogram::kBounds[i]) : "+Inf");
        sample(name + "_bucket", with_le, static_cast<double>(counts[i]));
    }
    sample(name + "_sum", labels, h.sum());
    sample(name + "_count", labels, static_cast<double>(h.count()));
}

void Metrics::call(const std::string& funcao, const std::string& code, double seconds) {
    std::lock_guard<std::mutex> hold(mutex_);
    ++calls_[{funcao, code.empty() ? "none" : code}];
    durations_[funcao].observe(seconds);
}

void Metrics::waited(double seconds) {
    std::lock_guard<std::mutex> hold(mutex_);
    wait_.observe(seconds);
}

void Metrics::write(Exposition& out) const {
    std::lock_guard<std::mutex> hold(mutex_);
    out.family("satd_calls_total", "counter",
               "Calls carried to the device, by SAT function and answer code (none: no answer).");
    for (const auto& [key, n] : calls_)
        out.sample("satd_calls_total", {{"funcao", key.first}, {"codigo", key.second}},
                   static_cast<double>(n));
    out.family("satd_call_duration_seconds", "histogram",
               "Time from a call's arrival at the device queue to its answer, by SAT function.");
    for (const auto& [funcao, h] : durations_)
        out.histogram("satd_call_duration_seconds", {{"funcao", funcao}}, h);
    out.family("satd_device_wait_seconds", "histogram",
               "Time calls waited for their turn on the device.");
    out.histogram("satd_device_wait_seconds", {}, wait_);
}

} // namespace satd
