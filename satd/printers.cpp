#include "printers.h"

#include "output.h"

#include <cstdio>

namespace satd {

Printers::Printers(std::map<int, Printer> printers) : printers_(std::move(printers)) {
    if (!printers_.empty()) worker_ = std::thread([this] { run(); });
}

Printers::~Printers() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stop_ = true;
    }
    ready_.notify_all();
    if (worker_.joinable()) worker_.join();
}

const Printer* Printers::of(int caixa) const {
    const auto it = printers_.find(caixa);
    return it == printers_.end() ? nullptr : &it->second;
}

void Printers::print(int caixa, std::string bytes) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        queue_.emplace_back(caixa, std::move(bytes));
    }
    ready_.notify_one();
}

void Printers::run() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        ready_.wait(hold, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        auto [caixa, bytes] = std::move(queue_.front());
        queue_.pop_front();
        hold.unlock();
        const Printer& p = printers_.at(caixa);
        std::string error;
        if (!extrato::send(p.target, bytes, error))
            std::fprintf(stderr, "satd: caixa %03d impressora %s: %s\n", caixa, p.target.c_str(),
                         error.c_str());
        hold.lock();
    }
}

} // namespace satd
