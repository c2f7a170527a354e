// Session numbers: every SAT call carries a fresh number that the device
// repeats in its answer, so an answer can be matched to its command.
#pragma once

#include <ctime>
#include <sys/types.h>

namespace satcli {

// The last 100 numbers handed out in this process, used as a ring.
extern int recent_sessions[100];
// The slot written last.
extern int recent_index;

// Empties the ring: all slots 0, index 0.
void clear_sessions();

// Seed for one draw. Mixes the clock with the process id so that two runs
// started in the same second draw different numbers, and with a per-process
// draw count so that a refused candidate is followed by a new one at once.
unsigned session_seed(std::time_t now, pid_t pid, unsigned draw);

// A candidate number from 0 to 999999.
int draw_session();
// True when `candidate` is not in the ring (slots still 0 count, so 0 is
// refused while the ring is not full).
bool session_is_new(int candidate);
// Advances the index (99 wraps to 0) and stores `number` there. Always 1.
int remember_session(int number);
// Draws candidates until one is not in the ring, remembers it and returns it.
int new_session();

} // namespace satcli
