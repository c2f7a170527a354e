// Small helpers shared by satcli's test files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace satcli_test {

// A FILE* whose output ends up in a string.
class Captura {
  public:
    Captura() : f_(open_memstream(&buf_, &n_)) {}
    ~Captura() {
        if (f_) std::fclose(f_);
        std::free(buf_);
    }
    Captura(const Captura&) = delete;
    Captura& operator=(const Captura&) = delete;
    std::FILE* file() { return f_; }
    std::string texto() {
        std::fflush(f_);
        return std::string(buf_, n_);
    }

  private:
    char* buf_ = nullptr;
    std::size_t n_ = 0;
    std::FILE* f_;
};

inline const std::string kSeparador(72, '=');
inline const std::string kTracos = "\n" + std::string(70, '-');

} // namespace satcli_test
