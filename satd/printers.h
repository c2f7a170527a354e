// The checkouts' receipt printers ([printers] of satd.ini): the extrato of every
// sale and cancellation that satd carries for a checkout with a printer goes to
// that printer, from a thread of its own, so that a slow or absent printer never
// delays an answer or another checkout.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace satd {

struct Printer {
    std::string target; // a file, a device node or tcp://HOST[:PORT]
    int paper_mm = 80;
};

class Printers {
  public:
    explicit Printers(std::map<int, Printer> printers);
    // Prints what is still queued, then stops.
    ~Printers();
    Printers(const Printers&) = delete;
    Printers& operator=(const Printers&) = delete;

    const Printer* of(int caixa) const;
    // Queues `bytes` (ESC/POS) for the printer of `caixa`.
    void print(int caixa, std::string bytes);

  private:
    void run();

    const std::map<int, Printer> printers_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::pair<int, std::string>> queue_;
    bool stop_ = false;
    std::thread worker_;
};

} // namespace satd
