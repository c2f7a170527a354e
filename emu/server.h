// The emulator's event loop: the device line, the control socket, fault timing
// and the transcript, around one Device.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "device.h"
#include "fault.h"
#include "frame.h"
#include "link.h"

namespace satemu {

struct ServerOptions {
    std::string link;       // symbolic link to the device line
    std::string control;    // UNIX socket for control requests
    std::string transcript; // file recording every frame and answer
};

class Server {
  public:
    Server(Device& device, FaultSet& faults, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the line, the link, the socket and the transcript.
    bool start(std::string& error);
    // Runs until SIGINT or SIGTERM (which the caller has blocked) arrives.
    int run();

    const std::string& device_path() const { return link_.path(); }

    // One control request line -> the reply (lines joined with '\n', no final newline).
    std::string control_request(const std::string& line);
    // What one received frame makes the emulator send (used by the loop; public for tests).
    void on_frame(const std::string& frame);

  private:
    struct Chunk {
        int64_t due = 0; // monotonic ms before which nothing of it is written
        std::string bytes;
        size_t written = 0;
        bool hangup = false;
        std::string note; // transcript line written when the chunk starts
    };
    struct Client {
        int fd = -1;
        std::string in, out;
        bool eof = false;
    };

    void record(const char* tag, const std::string& text);
    void write_output(int64_t now);
    void hangup();
    void read_line();
    void accept_clients();
    void serve_client(Client& c, short revents);

    Device& device_;
    FaultSet& faults_;
    ServerOptions options_;
    Link link_;
    FrameAssembler assembler_;
    // Frames received, for the control socket's `frames` (kept only with --control,
    // and only the newest kFramesKept bytes of them, so a long run does not grow without end).
    std::deque<std::string> frames_;
    size_t frames_bytes_ = 0;
    std::deque<Chunk> output_;
    // An answer kept back by the `hold` fault: it goes out with the next answer,
    // `held_ms_` before it (in the same write when 0), as a late answer meets the
    // answer of the command sent after it.
    std::optional<Chunk> held_;
    long held_ms_ = 0;
    int listen_fd_ = -1;
    std::vector<Client> clients_;
    std::FILE* transcript_ = nullptr;
};

} // namespace satemu
