#include "device.h"

#include <algorithm>

namespace satd {

namespace {
// The poll's stand-in checkout in wait_turn: it is not in any queue.
constexpr int kIdle = -1;
} // namespace

Device::Device() : worker_([this] { work(); }) {}

Device::~Device() {
    stop();
}

bool Device::wait_turn(std::unique_lock<std::mutex>& hold, const std::shared_ptr<Job>& job,
                       int checkout, std::chrono::milliseconds wait) {
    if (done_.wait_for(hold, wait, [&] { return job->state != Job::Waiting; })) return true;
    if (checkout == kIdle) {
        idle_ = nullptr;
        return false;
    }
    auto& queue = waiting_[checkout];
    queue.erase(std::find(queue.begin(), queue.end(), job));
    if (queue.empty()) {
        waiting_.erase(checkout);
        turns_.erase(std::find(turns_.begin(), turns_.end(), checkout));
    }
    return false;
}

std::optional<std::string> Device::run(int checkout, std::chrono::milliseconds wait,
                                       std::function<std::string()> call,
                                       std::chrono::duration<double>* waited) {
    const auto queued = std::chrono::steady_clock::now();
    auto job = std::make_shared<Job>();
    job->call = std::move(call);
    std::unique_lock<std::mutex> hold(mutex_);
    if (stopping_) return std::nullopt;
    auto& queue = waiting_[checkout];
    if (queue.empty()) turns_.push_back(checkout);
    queue.push_back(job);
    wake_.notify_one();
    const bool turn = wait_turn(hold, job, checkout, wait);
    if (waited) *waited = std::chrono::steady_clock::now() - queued;
    if (!turn) return std::nullopt;
    // Once on the device a call runs to its end: the library bounds it by its deadline.
    done_.wait(hold, [&] { return job->state == Job::Done || job->state == Job::Refused; });
    if (job->state == Job::Refused) return std::nullopt;
    return job->answer;
}

std::optional<std::string> Device::run_idle(std::chrono::milliseconds quiet,
                                            std::chrono::milliseconds wait,
                                            std::function<std::string()> call) {
    auto job = std::make_shared<Job>();
    job->call = std::move(call);
    std::unique_lock<std::mutex> hold(mutex_);
    if (stopping_ || idle_) return std::nullopt;
    idle_ = job;
    quiet_ = quiet;
    wake_.notify_one();
    if (!wait_turn(hold, job, kIdle, wait)) return std::nullopt;
    done_.wait(hold, [&] { return job->state == Job::Done || job->state == Job::Refused; });
    if (job->state == Job::Refused) return std::nullopt;
    return job->answer;
}

int Device::waiting() {
    std::lock_guard<std::mutex> hold(mutex_);
    size_t n = 0;
    for (const auto& [checkout, queue] : waiting_)
        n += queue.size();
    return static_cast<int>(n);
}

void Device::work() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        wake_.wait(hold, [&] { return stopping_ || !turns_.empty() || idle_; });
        if (stopping_) break;
        std::shared_ptr<Job> job;
        if (turns_.empty()) {
            // Only the poll waits: it goes once the device has rested, unless a
            // checkout comes first.
            const auto rested = last_end_ + quiet_;
            if (std::chrono::steady_clock::now() < rested) {
                wake_.wait_until(hold, rested, [&] { return stopping_ || !turns_.empty(); });
                continue;
            }
            job = std::move(idle_);
        } else {
            const int checkout = turns_.front();
            turns_.pop_front();
            auto& queue = waiting_[checkout];
            job = queue.front();
            queue.pop_front();
            if (queue.empty())
                waiting_.erase(checkout);
            else
                turns_.push_back(checkout);
        }
        job->state = Job::Running;
        done_.notify_all();
        hold.unlock();
        std::string answer = job->call();
        hold.lock();
        job->answer = std::move(answer);
        job->state = Job::Done;
        last_end_ = std::chrono::steady_clock::now();
        done_.notify_all();
    }
    for (auto& [checkout, queue] : waiting_)
        for (auto& job : queue)
            job->state = Job::Refused;
    if (idle_) idle_->state = Job::Refused;
    idle_ = nullptr;
    waiting_.clear();
    turns_.clear();
    done_.notify_all();
}

void Device::stop() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

} // namespace satd
