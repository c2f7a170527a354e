#include "session.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <unistd.h>

namespace satcli {

int recent_sessions[100];
int recent_index;

namespace {
unsigned draws = 0;
}

void clear_sessions() {
    std::fill(std::begin(recent_sessions), std::end(recent_sessions), 0);
    recent_index = 0;
}

unsigned session_seed(std::time_t now, pid_t pid, unsigned draw) {
    // 64-bit mix (splitmix finaliser) so that neighbouring seconds, process
    // ids and draw counts land far apart in the generator's seed space.
    unsigned long long x = static_cast<unsigned long long>(now);
    x ^= static_cast<unsigned long long>(static_cast<unsigned>(pid)) << 32;
    x += 0x9E3779B97F4A7C15ULL * (draw + 1ULL);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return static_cast<unsigned>(x ^ (x >> 32));
}

int draw_session() {
    std::srand(session_seed(std::time(nullptr), getpid(), draws++));
    int r = std::rand();
    return r <= 999999 ? r : r % 1000000;
}

bool session_is_new(int candidate) {
    return std::find(std::begin(recent_sessions), std::end(recent_sessions), candidate) ==
           std::end(recent_sessions);
}

int remember_session(int number) {
    recent_index = recent_index >= 99 ? 0 : recent_index + 1;
    recent_sessions[recent_index] = number;
    return 1;
}

int new_session() {
    int candidate;
    do {
        candidate = draw_session();
    } while (!session_is_new(candidate));
    remember_session(candidate);
    return candidate;
}

} // namespace satcli
