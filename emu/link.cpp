#include "link.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace satemu {

bool Link::open(const std::string& link_path, std::string& error) {
    close();
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        if (m >= 0) ::close(m);
        return false;
    }
    char name[128];
    if (ptsname_r(m, name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        ::close(m);
        return false;
    }
    int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (s < 0) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        ::close(m);
        return false;
    }
    termios tio{};
    if (tcgetattr(s, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(s, TCSANOW, &tio);
    }
    master_ = m;
    slave_ = s;
    path_ = name;
    if (!link_path.empty()) {
        struct stat st {};
        if (lstat(link_path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = link_path + " exists and is not a symbolic link";
                close();
                return false;
            }
            ::unlink(link_path.c_str());
        }
        if (symlink(name, link_path.c_str()) != 0) {
            error = "cannot create " + link_path + ": " + std::strerror(errno);
            close();
            return false;
        }
        link_ = link_path;
    }
    return true;
}

void Link::close() {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
}

void Link::remove_link() {
    if (link_.empty()) return;
    char target[PATH_MAX];
    ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
    if (n >= 0) {
        target[n] = '\0';
        if (path_ == target) ::unlink(link_.c_str());
    }
    link_.clear();
}

} // namespace satemu
