// The answer of a web server of any bytes (status line, headers and body as they come over the
// connection) to a download: a download either succeeds and leaves the file, or fails and
// leaves the older file as it was, never a part file. The server is one thread on the loopback
// interface; any other address the answer sends the download to goes to a closed port.
#include "FuzzSupport.h"

#include "core/Download.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <mutex>
#include <sstream>
#include <thread>

using namespace qmt;

namespace {

// Answers every connection with the current answer and closes it.
class Server {
public:
    Server()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        ::listen(m_fd, 16);
        std::thread([this] { serve(); }).detach();
    }
    void answer(std::string_view BYTES)
    {
        std::lock_guard lock(m_mutex);
        m_answer = BYTES;
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/EHAM.xml"; }

private:
    void serve()
    {
        for (;;) {
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0) {
                continue;
            }
            char request[4096];
            (void)::recv(c, request, sizeof request, 0);
            std::string answer;
            {
                std::lock_guard lock(m_mutex);
                answer = m_answer;
            }
            (void)::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::shutdown(c, SHUT_RDWR);
            ::close(c);
        }
    }
    int m_fd = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::string m_answer;
};

Server& lf_server()
{
    static Server* const server = [] {
        // Redirects to anywhere else end at a closed port, never on the network.
        ::setenv("all_proxy", "http://127.0.0.1:9", 1);
        ::setenv("no_proxy", "127.0.0.1", 1);
        gf_setDownloadTimeoutsForTests(2, 5);
        return new Server;
    }();
    return *server;
}

std::string lf_read(const std::filesystem::path& PATH)
{
    std::ifstream in(PATH, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* DATA, size_t SIZE)
{
    Server& server = lf_server();
    fuzz::resetCore();
    gf_setDownloadTimeoutsForTests(2, 5);
    server.answer(fuzz::bytesOf(DATA, SIZE));
    const auto target = g_airportsPath / "park_airport.xml";
    fuzz::writeBytes(target, "the older file");
    auto part = target;
    part += ".part";
    std::string failure;
    const bool done = gf_download(server.url(), target, &failure);
    fuzz::require(!std::filesystem::exists(part), "a part file is left");
    if (done) {
        fuzz::require(std::filesystem::is_regular_file(target), "a download that succeeded left no file");
    } else {
        fuzz::require(!failure.empty(), "a failed download without a reason");
        fuzz::require(lf_read(target) == "the older file", "a failed download changed the older file");
    }
    return 0;
}
