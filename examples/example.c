/* example.c - a point-of-sale program's first calls into the SAT driver library.
 *
 * Build against an installed library (x86-64; use -m32 and the i386 pkg-config
 * folder for libtorvane_sat_x86):
 *     cc example.c $(pkg-config --cflags --libs torvane-sat) -o example
 * Run:
 *     ./example DEVICE ACTIVATION_CODE [SALE_XML]
 * for example against "satemu --preset active":
 *     ./example /dev/pts/3 12345678 venda.xml
 *
 * It points the library at DEVICE with SetDriver, asks whether the device is in
 * operation, reads its operational status and, given a sale document, sends the
 * sale and prints the receipt's access key. Exit status 0 when every answer is
 * a success code.
 */
#include <sat.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* Copies field n of a '|'-separated answer into out (empty when missing). */
static void field(const char* answer, int n, char* out, size_t size) {
    const char* p = answer;
    for (int i = 0; i < n && p; ++i) {
        p = strchr(p, '|');
        if (p) ++p;
    }
    size_t len = 0;
    if (p) {
        const char* end = strchr(p, '|');
        len = end ? (size_t)(end - p) : strlen(p);
    }
    if (len >= size) len = size - 1;
    if (p) memcpy(out, p, len);
    out[len] = '\0';
}

/* The library only lends its answer: the next call overwrites it. Keep a copy. */
static char* keep(const char* answer) {
    char* copy = strdup(answer);
    if (!copy) {
        perror("strdup");
        exit(2);
    }
    return copy;
}

static char* read_file(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) return NULL;
    char* text = NULL;
    long len = -1;
    if (fseek(f, 0, SEEK_END) == 0 && (len = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0 &&
        (text = malloc((size_t)len + 1)) != NULL) {
        size_t got = fread(text, 1, (size_t)len, f);
        text[got] = '\0';
    }
    fclose(f);
    return text;
}

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: %s DEVICE ACTIVATION_CODE [SALE_XML]\n", argv[0]);
        return 2;
    }
    char* code = argv[2];
    /* Every call needs a session number the device has not seen lately. */
    int session = (int)((time(NULL) ^ getpid()) % 900000) + 100000;
    char result[16];
    int ok = 1;

    /* Settings normally come from /var/torvane_halvex/sat.ini; SetDriver
     * overrides them for this process. */
    printf("SetDriver SERIAL: %s\n", SetDriver("SERIAL", argv[1]));
    printf("SetDriver N_TENT: %s\n", SetDriver("N_TENT", "03"));

    char* answer = keep(ConsultarSAT(session++));
    printf("ConsultarSAT: %s\n", answer);
    field(answer, 1, result, sizeof result);
    ok = ok && strcmp(result, "08000") == 0;
    free(answer);

    answer = keep(ConsultarStatusOperacional(session++, code));
    field(answer, 1, result, sizeof result);
    char serial[32];
    field(answer, 5, serial, sizeof serial);
    printf("ConsultarStatusOperacional: %s, serial %s\n", result, serial);
    ok = ok && strcmp(result, "10000") == 0;
    free(answer);

    if (argc == 4) {
        char* sale = read_file(argv[3]);
        if (!sale) {
            perror(argv[3]);
            return 2;
        }
        /* The document must be writable: with CORRECAO=true the library corrects
         * it in place. A lost answer is retried by the library itself. */
        answer = keep(EnviarDadosVenda(session++, code, sale));
        free(sale);
        char key[64], total[32];
        field(answer, 1, result, sizeof result);
        field(answer, 8, key, sizeof key);
        field(answer, 9, total, sizeof total);
        printf("EnviarDadosVenda: %s, key %s, total %s\n", result, key, total);
        ok = ok && strcmp(result, "06000") == 0;
        free(answer);
    }
    return ok ? 0 : 1;
}
