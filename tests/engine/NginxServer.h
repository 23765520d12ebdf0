#pragma once

// Starts a real nginx on a free loopback port for the duration of a test or benchmark,
// with a configuration of ours in a temporary folder: one process (no master, no daemon),
// no user switch, every path (logs, pid, temporary files) inside that folder.
//
//     if (qrv::test::TNginxServer::Binary().empty()) GTEST_SKIP() << "nginx not installed";
//     qrv::test::TNginxServer nginx("location = /x { return 200 \"x\"; }");
//     nginx.WriteFile("page.html", "<p>hi</p>");   // served from the document root
//     client.Get(nginx.Url("/page.html"));
//
// In the locations text, "$PORT" is replaced by the port. Header-only, so that benchmarks
// can use it too.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qrv::test {

class TNginxServer {
public:
    // The nginx program, or empty when it is not installed.
    static std::string Binary() {
        for (const char* candidate :
             {"/usr/sbin/nginx", "/usr/bin/nginx", "/usr/local/sbin/nginx"}) {
            if (::access(candidate, X_OK) == 0) {
                return candidate;
            }
        }
        return {};
    }

    explicit TNginxServer(const std::string& locations) {
        char pattern[] = "/tmp/qrv-nginx-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            throw std::runtime_error("nginx: no temporary folder");
        }
        dir_ = pattern;
        std::filesystem::create_directories(dir_ + "/html");
        std::filesystem::create_directories(dir_ + "/tmp");
        port_ = FreePort();
        std::string text = locations;
        for (std::size_t at = text.find("$PORT"); at != std::string::npos;
             at = text.find("$PORT", at)) {
            text.replace(at, 5, std::to_string(port_));
        }
        WriteText(dir_ + "/nginx.conf", Config(text));
        Start();
    }

    ~TNginxServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    TNginxServer(const TNginxServer&) = delete;
    TNginxServer& operator=(const TNginxServer&) = delete;

    int Port() const { return port_; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string Root() const { return dir_ + "/html"; }

    // A file in the document root (folders are created as needed).
    void WriteFile(const std::string& relative, const std::string& bytes) const {
        const std::filesystem::path path = Root() + "/" + relative;
        std::filesystem::create_directories(path.parent_path());
        WriteText(path.string(), bytes);
    }
    // A file of `size` bytes made of a repeating pattern, written in blocks.
    void WritePatternFile(const std::string& relative, std::uint64_t size) const {
        std::ofstream out(Root() + "/" + relative, std::ios::binary);
        std::string block(1 << 20, '\0');
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>('a' + i % 26);
        }
        for (std::uint64_t left = size; left > 0;) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
            out.write(block.data(), static_cast<std::streamsize>(n));
            left -= n;
        }
    }

    std::string ErrorLog() const {
        std::ifstream in(dir_ + "/error.log");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    static int FreePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
            throw std::runtime_error("nginx: no free port");
        }
        ::close(fd);
        return ntohs(addr.sin_port);
    }

    static void WriteText(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        if (!out) {
            throw std::runtime_error("nginx: cannot write " + path);
        }
    }

    std::string Config(const std::string& locations) const {
        const std::string tmp = dir_ + "/tmp/";
        return "daemon off;\n"
               "master_process off;\n"
               "worker_processes 1;\n"
               "error_log " +
               dir_ +
               "/error.log warn;\n"
               "pid " +
               dir_ +
               "/nginx.pid;\n"
               "events { worker_connections 256; }\n"
               "http {\n"
               "  access_log off;\n"
               "  client_body_temp_path " +
               tmp +
               "body;\n"
               "  proxy_temp_path " +
               tmp +
               "proxy;\n"
               "  fastcgi_temp_path " +
               tmp +
               "fastcgi;\n"
               "  uwsgi_temp_path " +
               tmp +
               "uwsgi;\n"
               "  scgi_temp_path " +
               tmp +
               "scgi;\n"
               "  types { text/html html; text/plain txt; application/octet-stream bin; }\n"
               "  default_type application/octet-stream;\n"
               "  sendfile on;\n"
               "  keepalive_timeout 60s;\n"
               "  server {\n"
               "    listen 127.0.0.1:" +
               std::to_string(port_) +
               ";\n"
               "    server_name localhost;\n"
               "    root " +
               dir_ + "/html;\n" + locations +
               "\n  }\n"
               "}\n";
    }

    void Start() {
        const std::string binary = Binary();
        const std::string conf = dir_ + "/nginx.conf";
        const std::string prefix = dir_ + "/";
        const std::string errorLog = dir_ + "/error.log";
        std::vector<std::string> args = {binary, "-c", conf, "-p", prefix, "-e", errorLog};
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, binary.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
            throw std::runtime_error("nginx: cannot start " + binary);
        }
        // Ready once the port accepts connections.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                throw std::runtime_error("nginx ended at start: " + ErrorLog());
            }
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(static_cast<std::uint16_t>(port_));
            const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
            ::close(fd);
            if (up) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        throw std::runtime_error("nginx did not come up: " + ErrorLog());
    }

    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

} // namespace qrv::test
