#include "parking/ParkingTest.h"

#include "core/Download.h"
#include "stands/ApfLookup.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <thread>

namespace qmt::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::filesystem::path kData = std::filesystem::path(QUILLON_SOURCE_DIR) / "tests" / "stands" / "data";

// A small HTTP/1.1 server on 127.0.0.1 answering GET requests from a fixed table; every
// other path gets 404. It serves at most 64 connections and stops with the test.
class TinyHttpServer {
public:
    explicit TinyHttpServer(std::map<std::string, std::pair<int, std::string>> ROUTES) : m_routes(std::move(ROUTES))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listen, 8) != 0) {
            throw std::runtime_error("test server: bind/listen failed");
        }
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~TinyHttpServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }
    std::vector<std::string> paths() const
    {
        std::lock_guard lock(m_mutex);
        return m_paths;
    }

private:
    void run()
    {
        for (int served = 0; served < 64 && !m_stop;) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            const int c = ::accept(m_listen, nullptr, nullptr);
            if (c < 0) {
                continue;
            }
            ++served;
            answer(c);
            ::close(c);
        }
    }
    void answer(int C)
    {
        timeval tv{2, 0};
        ::setsockopt(C, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::string request;
        char buf[1024];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
            const ssize_t n = ::recv(C, buf, sizeof buf, 0);
            if (n <= 0) {
                return;
            }
            request.append(buf, static_cast<size_t>(n));
        }
        const size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        {
            std::lock_guard lock(m_mutex);
            m_paths.push_back(path);
        }
        int status = 404;
        std::string body = "not found";
        if (const auto it = m_routes.find(path); it != m_routes.end()) {
            status = it->second.first;
            body = it->second.second;
        }
        const std::string reply = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Error") +
                                  "\r\nContent-Length: " + std::to_string(body.size()) +
                                  "\r\nConnection: close\r\n\r\n" + body;
        ::send(C, reply.data(), reply.size(), MSG_NOSIGNAL);
    }

    std::map<std::string, std::pair<int, std::string>> m_routes;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;  // guards m_paths
    std::vector<std::string> m_paths;
};

class LookupTest : public ParkingTest {
protected:
    void SetUp() override
    {
        ParkingTest::SetUp();
        gf_setDownloadTimeoutsForTests(2, 5);
    }
    void TearDown() override
    {
        gf_setDownloadTimeoutsForTests(0, 0);
        ParkingTest::TearDown();
    }
    const std::string archived = readFile(kData / "archived_EHAM.xml");
};

TEST_F(LookupTest, LocalFilesLinksAndTheArchive)
{
    const auto third = m_dir / "airports" / "my_thirdparty";
    const auto simaddon = m_dir / "airports" / "my_simaddon";
    writeFile(third / "EGLL.xml", "<root/>");
    writeFile(third / "EGLL.txt", "archive/thirdparty/Some%20Publisher/EGLL.xml\n");
    EXPECT_EQ(lf_resolveApf("EGLL"), "archive/thirdparty/Some%20Publisher/EGLL.xml");

    writeFile(third / "EGLL.txt", "archive/thirdparty/Pub/EGLL.XML \r\nsecond line\n");
    EXPECT_EQ(lf_resolveApf("EGLL"), "archive/thirdparty/Pub/EGLL.XML");

    writeFile(third / "EGLL.txt", "archive/thirdparty/Pub/EGLL.xm\n");
    EXPECT_EQ(lf_resolveApf("EGLL"), "airports/my_thirdparty/EGLL.xml");

    writeFile(simaddon / "LFPG.txt", "");
    writeFile(simaddon / "LFPG.xml", "<root/>");
    EXPECT_EQ(lf_resolveApf("LFPG"), "airports/my_simaddon/LFPG.xml");
    EXPECT_TRUE(gf_apfExists("LFPG"));

    EXPECT_EQ(lf_resolveApf("EHAM"), "archive/stock/EHAM.xml");
    auto airports = g_airports;
    airports[0].stands = 0;
    gf_setAirports(airports);
    EXPECT_EQ(lf_resolveApf("EHAM"), "");
    EXPECT_FALSE(gf_apfExists("EHAM"));
    EXPECT_FALSE(gf_apfExists("KJFK"));
}

TEST_F(LookupTest, ArchiveFolderByPrefixNotBySubstring)
{
    EXPECT_EQ(gf_archiveFolderOf("archive/stock/EHAM.xml", 2), "downloads/MSFS/");
    EXPECT_EQ(gf_archiveFolderOf("archive/simaddon/EHAM.xml", 2), "downloads/MSFS2024/");
    EXPECT_EQ(gf_archiveFolderOf("archive/thirdparty/Stockholm%20stock/ESSA.xml", 2), "downloads/MSFS2024/");
    EXPECT_EQ(gf_archiveFolderOf("archive/thirdparty/Pub/ESSA.xml", 1), "downloads/MSFS/");
}

TEST_F(LookupTest, DownloadedArchiveIsReadWithItsLearnedFile)
{
    TinyHttpServer server({{"/downloads/MSFS/archive/stock/EHAM.xml", {200, archived}}});
    g_archiveBaseUrl = server.baseUrl();
    g_isMsfs2020 = false;  // stock files come from the 2020 folder for both simulators
    writeFile(m_dir / "airports" / "learned" / "stock" / "EHAM.xml", readFile(kData / "learned_EHAM.xml"));
    ASSERT_EQ(gf_readApf("archive/stock/EHAM.xml", g_parkApfInfo), "");
    EXPECT_EQ(g_stands.size(), 7u);
    EXPECT_NE(standNamed("M1"), nullptr);
    EXPECT_TRUE(std::filesystem::exists(m_dir / "airports" / "park_airport.xml"));
    EXPECT_EQ(server.paths(), std::vector<std::string>{"/downloads/MSFS/archive/stock/EHAM.xml"});
}

// An airport file given for an airport (quillon --airport-file) stands in for the archive's and
// for any local one, also of an airport the archive does not have; it is read as a download is.
TEST_F(LookupTest, AGivenAirportFileStandsInForTheArchives)
{
    writeFile(m_dir / "given.xml", archived);
    writeFile(m_dir / "airports" / "my_thirdparty" / "EHAM.xml", "<root/>");
    gf_setGivenAirportFile("EHAM", m_dir / "given.xml");
    gf_setGivenAirportFile("QLNA", m_dir / "given.xml");
    EXPECT_EQ(lf_resolveApf("EHAM"), "archive/stock/EHAM.xml");
    EXPECT_TRUE(gf_apfExists("QLNA"));
    g_archiveBaseUrl = "file:///nonexistent/";
    ASSERT_EQ(gf_readApf(lf_resolveApf("QLNA"), g_parkApfInfo), "");
    EXPECT_EQ(g_stands.size(), 6u); // the archived file's stands, none learned
    gf_setGivenAirportFile("EHAM", {});
    gf_setGivenAirportFile("QLNA", {});
    EXPECT_EQ(lf_resolveApf("EHAM"), "airports/my_thirdparty/EHAM.xml");
    EXPECT_FALSE(gf_apfExists("QLNA"));
}

TEST_F(LookupTest, FailedDownloadsLeaveNoFile)
{
    TinyHttpServer server({{"/downloads/MSFS2024/archive/thirdparty/stockholm%20Sim/ESSA.xml",
                            {200, "<root><parkpositions><parkpos id=\"A1\""}},
                           {"/downloads/MSFS/archive/stock/EGLL.xml", {500, "<root/>"}}});
    g_archiveBaseUrl = server.baseUrl();
    const auto local = m_dir / "airports" / "park_airport.xml";

    writeFile(local, "stale copy of another airport");
    const std::string error = gf_readApf("archive/stock/EHBK.xml", g_parkApfInfo);
    EXPECT_THAT(error, StartsWith("failed to download: '" + server.baseUrl() + "downloads/MSFS/archive/stock/EHBK.xml' ("));
    EXPECT_FALSE(std::filesystem::exists(local));
    EXPECT_FALSE(logHas("EHBK")); // said once, by the park airport's manager

    EXPECT_THAT(gf_readApf("archive/stock/EGLL.xml", g_parkApfInfo), HasSubstr("failed to download"));
    EXPECT_FALSE(std::filesystem::exists(local));

    g_isMsfs2020 = false;
    EXPECT_THAT(gf_readApf("archive/thirdparty/stockholm%20Sim/ESSA.xml", g_parkApfInfo),
                HasSubstr("archive/thirdparty/stockholm%20Sim/ESSA.xml: could not load file"));
    EXPECT_FALSE(std::filesystem::exists(local));
    EXPECT_EQ(server.paths().back(), "/downloads/MSFS2024/archive/thirdparty/stockholm%20Sim/ESSA.xml");
    EXPECT_EQ(g_parkLoaded.load(), 0);
}

TEST_F(LookupTest, NearestStandOfADestination)
{
    TinyHttpServer server({{"/downloads/MSFS/archive/stock/EHAM.xml", {200, archived}}});
    g_archiveBaseUrl = server.baseUrl();
    std::string stand;
    const double d = gf_readDestApfForClosestStand("EHAM", 52.311310, 4.760939, stand);
    EXPECT_LT(d, 0.001);
    EXPECT_EQ(stand, "D3");
    EXPECT_FALSE(std::filesystem::exists(m_dir / "airport.xml"));

    stand.clear();
    EXPECT_EQ(gf_readDestApfForClosestStand("KJFK", 40.64, -73.78, stand), 100.0);
    writeFile(m_dir / "airports" / "my_simaddon" / "LFPG.xml", "<root><other/></root>");
    EXPECT_EQ(gf_readDestApfForClosestStand("LFPG", 49.0, 2.5, stand), 100.0);
    EXPECT_TRUE(stand.empty());
    // Angles past the globe wrap round onto the aircraft's position: no stand is there.
    writeFile(m_dir / "airports" / "my_simaddon" / "LFPG.xml",
              R"(<root><parkpositions><parkpos id="X" latitude="409.0" longitude="362.5"/></parkpositions></root>)");
    EXPECT_EQ(gf_readDestApfForClosestStand("LFPG", 49.0, 2.5, stand), 100.0);
    EXPECT_TRUE(stand.empty());
}

TEST_F(LookupTest, CodeAndNumber)
{
    int32_t n = -1;
    gf_splitCodeNumber("EHAM 212", "thirdparties20", "EHAM", n);
    EXPECT_EQ(n, 212);
    gf_splitCodeNumber("EGLL 99", "thirdparties20", "EHAM", n);
    EXPECT_EQ(n, 212);
    gf_splitCodeNumber("EHAM many", "thirdparties20", "EHAM", n);
    EXPECT_EQ(n, 212);
    EXPECT_TRUE(logHas("thirdparties20 EHAM EHAM many invalid number"));
}

} // namespace
} // namespace qmt::test
