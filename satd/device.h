// The one worker that talks to the device. Calls wait in one queue per checkout and
// are taken in turn, one from each waiting checkout, so a checkout that sends many
// calls cannot starve the others. A call whose turn has not come by its deadline
// leaves the queue and is answered busy by its caller. satd's own status poll
// runs only when no checkout is waiting and the device has rested a while.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace satd {

class Device {
  public:
    Device();
    ~Device(); // stop()
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Runs `call` on the worker when `checkout`'s turn comes and returns its answer;
    // nullopt when the turn did not come within `wait` or satd is stopping.
    // `waited`, when given, receives the time the call waited for its turn.
    std::optional<std::string> run(int checkout, std::chrono::milliseconds wait,
                                   std::function<std::string()> call,
                                   std::chrono::duration<double>* waited = nullptr);
    // Runs `call` once no checkout's call is waiting and none has ended within
    // `quiet`; a checkout that comes meanwhile goes first. nullopt when that did not
    // happen within `wait`, or satd is stopping.
    std::optional<std::string> run_idle(std::chrono::milliseconds quiet,
                                        std::chrono::milliseconds wait,
                                        std::function<std::string()> call);
    // The checkouts' calls waiting for their turn now.
    int waiting();
    // Lets the call on the device finish, refuses the waiting ones, ends the worker.
    void stop();

  private:
    struct Job {
        std::function<std::string()> call;
        std::string answer;
        enum { Waiting, Running, Done, Refused } state = Waiting;
    };
    void work();
    // Waits for `job` to leave the queue; false (and out of the queue) after `wait`.
    bool wait_turn(std::unique_lock<std::mutex>& hold, const std::shared_ptr<Job>& job,
                   int checkout, std::chrono::milliseconds wait);

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::map<int, std::deque<std::shared_ptr<Job>>> waiting_;
    std::deque<int> turns_;     // checkouts with waiting calls, in the order they are served
    std::shared_ptr<Job> idle_; // the status poll, when it waits
    std::chrono::milliseconds quiet_{0};
    std::chrono::steady_clock::time_point last_end_{};
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace satd
