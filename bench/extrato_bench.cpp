// extrato_bench: the time to render the extrato of a 50-item sale to ESC/POS
// and to PNG (extrato/), one line per figure in satbench's format.
//   E1  ESC/POS, goal under 5 ms;  E2  PNG at 203 dpi, goal under 50 ms.
// The ratio is the median wall time over the goal; the CPU time is beside it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cfe_documents.h"
#include "extrato.h"

namespace {

struct Timing {
    double wall = 0, cpu = 0; // medians, seconds
    std::size_t bytes = 0;
};

Timing measure(const std::string& sale, extrato::Format format, int runs) {
    std::vector<double> wall, cpu;
    const extrato::Options options;
    Timing t;
    for (int i = 0; i < runs; ++i) {
        const double w0 = bench::now(), c0 = bench::cpu_self();
        const extrato::Result r = extrato::render(sale, "", format, options);
        wall.push_back(bench::now() - w0);
        cpu.push_back(bench::cpu_self() - c0);
        if (r.error != extrato::Error::None) {
            std::fprintf(stderr, "extrato_bench: %s\n", r.message.c_str());
            std::exit(2);
        }
        t.bytes = r.bytes.size();
    }
    t.wall = bench::median(wall);
    t.cpu = bench::median(cpu);
    return t;
}

void report(const char* figure, const char* what, const Timing& t, double goal, int runs) {
    char goal_text[16];
    std::snprintf(goal_text, sizeof goal_text, "<%gms", goal * 1000);
    std::printf("%-3s %-30s ratio %8.3f  goal %-10s %-6s | median %.2f ms wall, %.2f ms CPU of %d "
                "renders; %zu bytes; 50-item sale, 80 mm\n",
                figure, what, t.wall / goal, goal_text, t.wall < goal ? "met" : "MISSED",
                t.wall * 1000, t.cpu * 1000, runs, t.bytes);
    std::fflush(stdout);
}

} // namespace

int main() {
    cfe_documents::SaleInput in;
    for (int n = 3; n <= 50; ++n)
        in.items += cfe_documents::item(
            n, "Produto de teste número " + std::to_string(n) + " com descrição", "1.0000", "3.10");
    in.payments = "<MP><cMP>01</cMP><vMP>500.00</vMP></MP>";
    const satemu::Issued sale = cfe_documents::sale(in);
    if (!sale.code.empty()) {
        std::fprintf(stderr, "extrato_bench: the sale was refused (%s)\n", sale.rejection.c_str());
        return 2;
    }
    measure(sale.xml, extrato::Format::Png, 2); // fonts and caches warm
    report("E1", "extrato 50 items, ESC/POS", measure(sale.xml, extrato::Format::EscPos, 41), 0.005,
           41);
    report("E2", "extrato 50 items, PNG", measure(sale.xml, extrato::Format::Png, 21), 0.050, 21);
    return 0;
}
