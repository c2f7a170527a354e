// Session numbers: every SAT call carries a fresh number that the device
// repeats in its answer, so an answer can be matched to its command.
#pragma once

#include <ctime>
#include <sys/types.h>

namespace satcli {

// The last 100 numbers handed out in this process, used as a ring.
extern int n100Sessoes[100];
// The slot written last.
extern int idx_100sessoes;

// Empties the ring: all slots 0, index 0.
void limpa_sessoes();

// Seed for one draw. Mixes the clock with the process id so that two runs
// started in the same second draw different numbers, and with a per-process
// draw count so that a refused candidate is followed by a new one at once.
unsigned semente_sessao(std::time_t agora, pid_t pid, unsigned sorteio);

// A candidate number from 0 to 999999.
int _100sessao();
// True when `candidato` is not in the ring (slots still 0 count, so 0 is
// refused while the ring is not full).
bool Valida100Sessoes(int candidato);
// Advances the index (99 wraps to 0) and stores `numero` there. Always 1.
int Salva100Sessoes(int numero);
// Draws candidates until one is not in the ring, remembers it and returns it.
int _sessao();

} // namespace satcli
