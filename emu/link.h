// The device line: a pseudo-terminal pair, optionally behind a symbolic link.
#pragma once

#include <string>

namespace satemu {

class Link {
  public:
    Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    ~Link() { close(); }

    // Opens a new pair in raw mode; `link_path` (may be empty) is pointed at its slave.
    bool open(const std::string& link_path, std::string& error);
    // Closes both sides, as if the cable were pulled; the link itself stays in place.
    void close();
    // Removes the symbolic link if it still points at this line.
    void remove_link();

    int master() const { return master_; }
    const std::string& path() const { return path_; }

  private:
    int master_ = -1;
    // The emulator keeps the slave open itself: the driver opens and closes it for every
    // exchange, and the master would otherwise see a hang-up each time.
    int slave_ = -1;
    std::string path_;
    std::string link_;
};

} // namespace satemu
