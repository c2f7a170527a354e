#include "session.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <unistd.h>

namespace satcli {

int n100Sessoes[100];
int idx_100sessoes;

namespace {
unsigned sorteios = 0;
}

void limpa_sessoes() {
    std::fill(std::begin(n100Sessoes), std::end(n100Sessoes), 0);
    idx_100sessoes = 0;
}

unsigned semente_sessao(std::time_t agora, pid_t pid, unsigned sorteio) {
    // 64-bit mix (splitmix finaliser) so that neighbouring seconds, process
    // ids and draw counts land far apart in the generator's seed space.
    unsigned long long x = static_cast<unsigned long long>(agora);
    x ^= static_cast<unsigned long long>(static_cast<unsigned>(pid)) << 32;
    x += 0x9E3779B97F4A7C15ULL * (sorteio + 1ULL);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return static_cast<unsigned>(x ^ (x >> 32));
}

int _100sessao() {
    std::srand(semente_sessao(std::time(nullptr), getpid(), sorteios++));
    int r = std::rand();
    return r <= 999999 ? r : r % 1000000;
}

bool Valida100Sessoes(int candidato) {
    return std::find(std::begin(n100Sessoes), std::end(n100Sessoes), candidato) ==
           std::end(n100Sessoes);
}

int Salva100Sessoes(int numero) {
    idx_100sessoes = idx_100sessoes >= 99 ? 0 : idx_100sessoes + 1;
    n100Sessoes[idx_100sessoes] = numero;
    return 1;
}

int _sessao() {
    int candidato;
    do {
        candidato = _100sessao();
    } while (!Valida100Sessoes(candidato));
    Salva100Sessoes(candidato);
    return candidato;
}

} // namespace satcli
