#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "CoreTestSupport.h"
#include "core/Download.h"
#include "core/Log.h"

namespace qmt::test {
namespace {

// "hello" compressed by gzip.
const std::string GZIP_BODY("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xcb\x48\xcd\xc9\xc9\x07\x00\x86\xa6\x10\x36\x05\x00\x00\x00", 25);

// A one-thread HTTP server on the loopback interface that answers by path:
// /ok 200 with a body, /missing 404, /cut a body shorter than announced.
class LocalServer {
public:
    LocalServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        ::listen(m_fd, 8);
        m_thread = std::thread([this] { serve(); });
    }
    ~LocalServer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        m_thread.join();
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

private:
    void serve()
    {
        while (!m_stop) {
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0) return;
            char buf[4096];
            const ssize_t n = ::recv(c, buf, sizeof buf - 1, 0);
            const std::string req(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
            std::string resp;
            if (req.starts_with("GET /ok "))
                resp = "HTTP/1.1 200 OK\r\nContent-Length: 11\r\nConnection: close\r\n\r\nhello world";
            else if (req.starts_with("GET /cut "))
                resp = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\npartial data";
            else if (req.starts_with("GET /big "))
                resp = "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\nConnection: close\r\n\r\n" + std::string(5000, 'b');
            else if (req.starts_with("GET /unsized "))
                resp = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(5000, 'u');
            else if (req.starts_with("GET /gzip "))
                resp = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(GZIP_BODY.size()) +
                       "\r\nConnection: close\r\n\r\n" + GZIP_BODY;
            else
                resp = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found";
            ::send(c, resp.data(), resp.size(), MSG_NOSIGNAL);
            ::close(c);
        }
    }
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

using DownloadTest = CoreTest;

TEST_F(DownloadTest, SuccessWritesTheFile)
{
    LocalServer server;
    EXPECT_TRUE(gf_download(server.url("/ok"), dir() / "ok.xml"));
    EXPECT_EQ(readFile(dir() / "ok.xml"), "hello world");
    EXPECT_FALSE(std::filesystem::exists(dir() / "ok.xml.part"));
}

TEST_F(DownloadTest, FailuresLeaveNoPartialFileAndKeepTheOldOne)
{
    ASSERT_TRUE(gf_openLog(dir() / "Log.txt", "test"));
    gf_setDownloadTimeoutsForTests(2, 5);
    LocalServer server;
    EXPECT_FALSE(gf_download(server.url("/missing"), dir() / "a.xml"));
    EXPECT_FALSE(std::filesystem::exists(dir() / "a.xml"));
    writeFile(dir() / "b.xml", "previous");
    EXPECT_FALSE(gf_download(server.url("/cut"), dir() / "b.xml"));
    EXPECT_EQ(readFile(dir() / "b.xml"), "previous");
    EXPECT_FALSE(std::filesystem::exists(dir() / "b.xml.part"));
    EXPECT_FALSE(gf_download("http://127.0.0.1:1/x", dir() / "c.xml")); // nobody listens
    EXPECT_FALSE(std::filesystem::exists(dir() / "c.xml"));
    EXPECT_FALSE(gf_download(server.url("/ok"), dir() / "no" / "such" / "d.xml"));
    gf_setDownloadTimeoutsForTests(0, 0);
    gf_closeLog();
    EXPECT_NE(readFile(dir() / "Log.txt").find("HTTP status 404"), std::string::npos);
}

// An answer larger than the limit, announced or not, is refused and leaves the old file; a
// compressed answer is kept as sent, so that a small one cannot unpack into a huge file.
TEST_F(DownloadTest, SizeIsBoundedAndCompressedAnswersAreKeptAsSent)
{
    gf_setDownloadTimeoutsForTests(2, 5);
    LocalServer server;
    for (const char* path : {"/big", "/unsized"}) {
        writeFile(dir() / "a.xml", "previous");
        std::string why;
        EXPECT_FALSE(gf_download(server.url(path), dir() / "a.xml", &why, 4096)) << path;
        EXPECT_EQ(why, "the answer is larger than 4096 bytes") << path;
        EXPECT_EQ(readFile(dir() / "a.xml"), "previous") << path;
        EXPECT_TRUE(gf_download(server.url(path), dir() / "a.xml", &why, 5000)) << path;
        EXPECT_EQ(readFile(dir() / "a.xml").size(), 5000u) << path;
    }
    EXPECT_TRUE(gf_download(server.url("/gzip"), dir() / "z.xml"));
    EXPECT_EQ(readFile(dir() / "z.xml"), GZIP_BODY);
    gf_setDownloadTimeoutsForTests(0, 0);
}

} // namespace
} // namespace qmt::test
