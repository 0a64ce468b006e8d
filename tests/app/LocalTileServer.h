#pragma once

// A tiny HTTP server on 127.0.0.1 for the map tests: it answers GET requests with whatever
// the test's handler returns (404 when it returns nothing) and records the paths asked for.
// One connection at a time, "Connection: close" on every answer. Never leaves the machine.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stb_image_write.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class LocalTileServer {
public:
    using Handler = std::function<std::optional<std::string>(const std::string& path)>;

    explicit LocalTileServer(Handler handler) : respond(std::move(handler)) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        if (listener < 0) throw std::runtime_error("socket");
        const int yes = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0)
            throw std::runtime_error("bind/listen on 127.0.0.1");
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        portNumber = ntohs(address.sin_port);
        worker = std::jthread([this](std::stop_token stop) { serve(stop); });
    }

    ~LocalTileServer() {
        worker.request_stop();
        worker.join();
        ::close(listener);
    }

    LocalTileServer(const LocalTileServer&) = delete;
    LocalTileServer& operator=(const LocalTileServer&) = delete;

    int port() const { return portNumber; }
    std::string urlTemplate() const { return "http://127.0.0.1:" + std::to_string(portNumber) + "/{z}/{x}/{y}.png"; }
    std::vector<std::string> requests() const {
        std::lock_guard guard(lock);
        return paths;
    }

private:
    void serve(const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            pollfd p{.fd = listener, .events = POLLIN, .revents = 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int client = ::accept(listener, nullptr, nullptr);
            if (client < 0) continue;
            answer(client);
            ::close(client);
        }
    }

    void answer(int client) {
        std::string request;
        char buffer[2048];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
            pollfd p{.fd = client, .events = POLLIN, .revents = 0};
            if (::poll(&p, 1, 2000) <= 0) return;
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const std::size_t start = request.find(' ');
        const std::size_t end = request.find(' ', start + 1);
        if (start == std::string::npos || end == std::string::npos) return;
        const std::string path = request.substr(start + 1, end - start - 1);
        {
            std::lock_guard guard(lock);
            paths.push_back(path);
        }
        const std::optional<std::string> body = respond(path);
        std::string reply = body ? "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n"
                                 : "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n";
        const std::string payload = body ? *body : std::string("no such tile");
        reply += "Content-Length: " + std::to_string(payload.size()) + "\r\nConnection: close\r\n\r\n" + payload;
        std::size_t sent = 0;
        while (sent < reply.size()) {
            const ssize_t n = ::send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }

    Handler respond;
    int listener = -1;
    int portNumber = 0;
    mutable std::mutex lock;
    std::vector<std::string> paths;
    std::jthread worker;
};

// A 256 × 256 PNG of one colour with a darker one-pixel border, so tile seams are visible.
inline std::string solidTilePNG(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::vector<std::uint8_t> pixels(256 * 256 * 3);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const bool edge = x == 0 || y == 0;
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * 256 + x) * 3];
            p[0] = edge ? r / 2 : r;
            p[1] = edge ? g / 2 : g;
            p[2] = edge ? b / 2 : b;
        }
    std::string png;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
        },
        &png, 256, 256, 3, pixels.data(), 256 * 3);
    return png;
}
