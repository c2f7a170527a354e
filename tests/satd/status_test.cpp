// satd's pieces without HTTP: the status decoder, the page's escaping, the metrics
// writer and the device worker's turns.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "device.h"
#include "metrics.h"
#include "page.h"
#include "status.h"

using namespace satd;

namespace {

// A status answer with `field` (0-27) replaced by `value`.
std::string status_answer(size_t field = 0, const std::string& value = "000001") {
    std::vector<std::string> f = {"000001",
                                  "10000",
                                  "Resposta com Sucesso",
                                  "",
                                  "",
                                  "900000001",
                                  "DHCP",
                                  "192.168.0.50",
                                  "02:53:41:00:00:01",
                                  "255.255.255.0",
                                  "192.168.0.1",
                                  "8.8.8.8",
                                  "8.8.4.4",
                                  "CONECTADO",
                                  "ALTO",
                                  "4 Gbytes",
                                  "330 Mbytes",
                                  "20261207120000",
                                  "01.00.00",
                                  "00.07",
                                  std::string(44, '0'),
                                  "",
                                  "",
                                  "20261206235959",
                                  "20261201080000",
                                  "20261101",
                                  "20310228",
                                  "0"};
    f[field] = value;
    std::string out;
    for (const std::string& v : f)
        out += (out.empty() ? "" : "|") + v;
    return out;
}

TEST(SatdStatus, DecodesFieldsAndKeepsEmptyOrMalformedOnesUnknown) {
    setenv("TZ", "UTC", 1);
    tzset();
    const auto s = decode_status(status_answer());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->serial, "900000001");
    EXPECT_EQ(s->memory_total, 4ull << 30);
    EXPECT_EQ(s->memory_used, 330ull << 20);
    EXPECT_EQ(s->last_contact, 1796112000);       // 2026-12-01 08:00:00 UTC
    EXPECT_EQ(s->certificate_expiry, 1930089599); // end of 2031-02-28
    EXPECT_EQ(s->state, 0);
    EXPECT_EQ(s->last_cfe, ""); // 44 zeros: none
    EXPECT_EQ(decode_status(status_answer(21, "CFe1"))->first_pending, "CFe1");
    EXPECT_FALSE(s->last_transmission == std::nullopt);

    // "field:value" that must stay unknown.
    for (const std::string row : {"16:", "16:330 MB", "16:-1 Mbytes", "16:99999999999999 Tbytes",
                                  "24:", "24:20260231080000", "24:20261201", "24:20261201080099",
                                  "24:00000000000000", "26:2031022", "27:", "27:5"}) {
        const auto d = decode_status(status_answer(std::stoul(row), row.substr(3)));
        ASSERT_TRUE(d) << row;
        EXPECT_FALSE(d->memory_used && d->last_contact && d->certificate_expiry && d->state) << row;
    }
    EXPECT_TRUE(decode_status(status_answer() + "|"));
    for (const std::string& bad :
         {std::string("000001|10001|Código de ativação inválido||"), status_answer(1, "10098"),
          std::string(""), status_answer().substr(0, status_answer().rfind('|')),
          status_answer() + "|x"})
        EXPECT_FALSE(decode_status(bad)) << bad;
}

TEST(SatdStatus, AlertsAtTheDocumentedLimits) {
    Status s;
    const std::time_t now = 2000000000, day = 86400;
    EXPECT_TRUE(alerts(s, now).empty()); // unknown raises nothing
    s.certificate_expiry = now + 31 * day;
    s.memory_total = 1000;
    s.memory_used = 800;
    s.last_contact = now - 5 * day + 1;
    s.state = 0;
    EXPECT_TRUE(alerts(s, now).empty());
    s.certificate_expiry = now + 29 * day;
    s.memory_used = 801;
    s.last_contact = now - 5 * day;
    s.state = 2;
    std::string what;
    for (const Alert& a : alerts(s, now))
        what += std::string(a.what) + (a.critical ? "! " : " ");
    EXPECT_EQ(what, "certificado memoria comunicacao estado! ");
}

TEST(SatdPage, EscapesEveryValueFromTheDeviceAndTheJournal) {
    PageData d;
    d.status = decode_status(status_answer(5, "<b>9</b>"));
    Entry e;
    e.funcao = "<script>x</script>";
    e.valor = "\"'&";
    d.calls = {e};
    d.test_sale = "</textarea><img src=x>";
    d.poll_error = "<i>";
    const std::string html = status_page(d) + result_page("<t>", "a<b");
    for (const char* raw : {"<b>9", "<script>", "\"'&", "</textarea><img", "<i>", "<t>", "a<b"})
        EXPECT_EQ(html.find(raw), std::string::npos) << raw;
}

TEST(SatdMetrics, WriterFollowsTheTextFormat) {
    Exposition out;
    out.family("x_total", "counter", "Help.");
    out.sample("x_total", {{"a", "q\"\\\nz"}, {"b", ""}}, 3);
    out.sample("x_total", {{"a", "\xff\xc3\xa9\xed\xa0\x80"}}, 1); // not UTF-8, é, a surrogate
    Histogram h;
    for (double v : {0.05, 0.07, 200.0})
        h.observe(v);
    out.histogram("d_seconds", {}, h);
    const std::string t = out.text();
    EXPECT_NE(t.find("# HELP x_total Help.\n# TYPE x_total counter\n"
                     "x_total{a=\"q\\\"\\\\\\nz\",b=\"\"} 3\n"),
              std::string::npos);
    for (const char* line :
         {"d_seconds_bucket{le=\"0.05\"} 1\n", "d_seconds_bucket{le=\"0.1\"} 2\n",
          "d_seconds_bucket{le=\"120\"} 2\n", "d_seconds_bucket{le=\"+Inf\"} 3\n",
          "d_seconds_sum 200.12\n", "d_seconds_count 3\n",
          "x_total{a=\"\xef\xbf\xbd\xc3\xa9\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"} 1\n"})
        EXPECT_NE(t.find(line), std::string::npos) << line << t;
}

TEST(SatdDevice, ThePollWaitsForRestAndYieldsToCheckouts) {
    Device device;
    std::string order;
    std::optional<std::string> polled;
    device.run(1, std::chrono::seconds(5), [&] { return order += "1", std::string(); });
    std::thread poll([&] {
        polled = device.run_idle(std::chrono::milliseconds(500), std::chrono::seconds(5),
                                 [&] { return order += "P", std::string("status"); });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the device still rests
    device.run(2, std::chrono::seconds(5), [&] { return order += "2", std::string(); });
    poll.join();
    EXPECT_EQ(order, "12P");
    EXPECT_EQ(polled, "status");
    EXPECT_FALSE(device.run_idle(std::chrono::seconds(9), std::chrono::milliseconds(50),
                                 [] { return std::string(); }));
}

TEST(SatdDevice, ACallThatGaveUpLeavesNoTurnBehind) {
    Device device;
    std::atomic<bool> running{false};
    std::thread busy([&] {
        device.run(1, std::chrono::seconds(5), [&] {
            running = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return std::string();
        });
    });
    while (!running)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(device.run(2, std::chrono::milliseconds(50), [] { return std::string("x"); }));
    busy.join();
    EXPECT_EQ(device.waiting(), 0);
    EXPECT_EQ(device.run(3, std::chrono::seconds(1), [] { return std::string("3"); }), "3");
    EXPECT_EQ(device.run(2, std::chrono::seconds(1), [] { return std::string("2"); }), "2");
}

} // namespace
