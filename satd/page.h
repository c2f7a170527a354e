// The technician's page at "/": the device's status with its warnings, the
// latest calls of the journal and the buttons ConsultarSAT, TesteFimAFim and
// ExtrairLogs. Server-rendered HTML with its CSS inline: nothing is loaded from
// elsewhere, since a shop's network may have no internet. Every value printed
// comes from the device or the journal and is escaped.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "journal.h"
#include "status.h"

namespace satd {

struct PageData {
    std::optional<Status> status; // of the last successful poll
    std::time_t polled = 0;       // when that poll answered; 0: never
    std::string poll_error;       // of the last poll, when it failed
    std::vector<Entry> calls;     // the newest first
    std::string test_sale;        // TesteFimAFim's dadosVenda to offer
    std::time_t now = 0;
};

std::string html_escape(const std::string& text);
std::string status_page(const PageData& d);
// A button's outcome: the device's answer in <pre id="resultado">.
std::string result_page(const std::string& title, const std::string& answer);

} // namespace satd
