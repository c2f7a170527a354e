#include "device.h"

#include <algorithm>

namespace satd {

Device::Device() : worker_([this] { work(); }) {}

Device::~Device() {
    stop();
}

std::optional<std::string> Device::run(int checkout, std::chrono::milliseconds wait,
                                       std::function<std::string()> call) {
    auto job = std::make_shared<Job>();
    job->call = std::move(call);
    std::unique_lock<std::mutex> hold(mutex_);
    if (stopping_) return std::nullopt;
    auto& queue = waiting_[checkout];
    if (queue.empty()) turns_.push_back(checkout);
    queue.push_back(job);
    wake_.notify_one();
    if (!done_.wait_for(hold, wait, [&] { return job->state != Job::Waiting; })) {
        queue.erase(std::find(queue.begin(), queue.end(), job));
        if (queue.empty()) {
            waiting_.erase(checkout);
            turns_.erase(std::find(turns_.begin(), turns_.end(), checkout));
        }
        return std::nullopt;
    }
    // Once on the device a call runs to its end: the library bounds it by its deadline.
    done_.wait(hold, [&] { return job->state == Job::Done || job->state == Job::Refused; });
    if (job->state == Job::Refused) return std::nullopt;
    return job->answer;
}

void Device::work() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        wake_.wait(hold, [&] { return stopping_ || !turns_.empty(); });
        if (stopping_) break;
        const int checkout = turns_.front();
        turns_.pop_front();
        auto& queue = waiting_[checkout];
        auto job = queue.front();
        queue.pop_front();
        if (queue.empty())
            waiting_.erase(checkout);
        else
            turns_.push_back(checkout);
        job->state = Job::Running;
        done_.notify_all();
        hold.unlock();
        std::string answer = job->call();
        hold.lock();
        job->answer = std::move(answer);
        job->state = Job::Done;
        done_.notify_all();
    }
    for (auto& [checkout, queue] : waiting_)
        for (auto& job : queue)
            job->state = Job::Refused;
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
