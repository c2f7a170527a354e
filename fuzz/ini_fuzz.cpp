// libFuzzer target for the INI module: the input becomes a file and a request;
// every reader runs on the file, then one write request, after which a value
// that was set must read back unchanged and no temporary file may be left.
#include "ini.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace {

std::string g_dir;
std::string g_file;

bool is_blank(char c) {
    return static_cast<signed char>(c) <= 32;
}

// Names and values the format can carry without loss: no line feed, no
// leading blank (skipped by the reader), names without their own separators
// or markers, and short enough not to be cut.
bool writable_name(const std::string& s, bool is_key) {
    if (s.size() > 100) return false;
    if (s.find('\n') != std::string::npos) return false;
    if (is_key) {
        if (s.empty() || is_blank(s.front()) || is_blank(s.back())) return false;
        if (s.front() == '[' || s.front() == ';' || s.front() == '#') return false;
        if (s.find('=') != std::string::npos) return false;
    } else if (s.find(']') != std::string::npos) {
        return false;
    }
    return true;
}

bool writable_value(const std::string& s) {
    if (s.size() > 200) return false;
    if (s.find('\n') != std::string::npos) return false;
    return s.empty() || !is_blank(s.front());
}

int count_cb(const char* s, const char* k, const char* v, void* user) {
    // The three texts share one 512-byte area.
    if (std::strlen(s) + std::strlen(k) + std::strlen(v) + 3 > 512) std::abort();
    return ++*static_cast<int*>(user) < 10000;
}

void check_no_leftovers() {
    DIR* d = opendir(g_dir.c_str());
    if (d == nullptr) std::abort();
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (std::strcmp(e->d_name, "f.ini") != 0) std::abort(); // a temporary file was left
    }
    closedir(d);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A memory file system where there is one: every write ends in fsync.
    std::string templ = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    templ += "/ini_fuzz-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    g_dir = templ;
    g_file = g_dir + "/f.ini";
    std::atexit([] {
        unlink(g_file.c_str());
        rmdir(g_dir.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks the request, so that seed files read naturally.
    const int op = data[0];
    FuzzedDataProvider fdp(data + 1, size - 1);
    // The module sees C strings: each text ends at its first NUL.
    const std::string section = fdp.ConsumeRandomLengthString(120).c_str();
    const std::string key = fdp.ConsumeRandomLengthString(120).c_str();
    const std::string value = fdp.ConsumeRandomLengthString(300).c_str();
    const std::string content = fdp.ConsumeRemainingBytesAsString();

    FILE* f = std::fopen(g_file.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);

    const char* file = g_file.c_str();
    const char* sec = section.c_str();
    const char* k = key.c_str();
    char buf[600];
    int n = ini_gets(sec, k, "dflt", buf, static_cast<int>(op % 7 + 1), file);
    if (n < 0 || n > op % 7) std::abort();
    n = ini_gets(sec, k, "dflt", buf, sizeof buf, file);
    if (n != static_cast<int>(std::strlen(buf)) || n > 511) std::abort();
    (void)ini_getl(sec, k, 7, file);
    (void)ini_getf(sec, k, 7.0f, file);
    const int b = ini_getbool(sec, k, 5, file);
    if (b != 0 && b != 1 && b != 5) std::abort();
    for (int i = 0; i < 64 && ini_getsection(i, buf, sizeof buf, file) > 0; i++) {
    }
    for (int i = 0; i < 64 && ini_getkey(sec, i, buf, sizeof buf, file) > 0; i++) {
    }
    int calls = 0;
    if (ini_browse(count_cb, &calls, file) != 1) std::abort();

    auto lf = [](const std::string& t) { return t.find('\n') != std::string::npos; };
    // Requests naming a line feed are refused; the others must succeed.
    bool has_lf = lf(section);
    int r = 0;
    switch (op % 4) {
    case 0:
        has_lf = has_lf || lf(key) || lf(value);
        r = ini_puts(sec, k, value.c_str(), file);
        if (r == 1 && writable_name(section, false) && writable_name(key, true) &&
            writable_value(value)) {
            ini_gets(sec, k, "\x01missing", buf, sizeof buf, file);
            if (value != buf) std::abort();
        }
        break;
    case 1:
        has_lf = has_lf || lf(key);
        r = ini_puts(sec, k, nullptr, file);
        break;
    case 2:
        r = ini_puts(sec, nullptr, nullptr, file);
        break;
    case 3: {
        has_lf = has_lf || lf(key);
        const long v = static_cast<long>(fdp.ConsumeIntegral<int64_t>()) ^ static_cast<long>(op);
        r = ini_putl(sec, k, v, file);
        if (r == 1 && writable_name(section, false) && writable_name(key, true) &&
            ini_getl(sec, k, v + 1, file) != v)
            std::abort();
        break;
    }
    }
    if (r != (has_lf ? 0 : 1)) std::abort();
    check_no_leftovers();
    return 0;
}
