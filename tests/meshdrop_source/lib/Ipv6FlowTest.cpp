// The library over IPv6 through its entry points, as a player on an
// IPv6-only network meets it: servers on [::1] only, reached by literal, by a
// name that resolves only to ::1, and over HTTPS with a certificate for ::1;
// a name whose first address refuses; and the same jobs through the engine.
// The names live in a private /etc/hosts of this test process (and of the
// engine it starts).

#include "TestDriveC.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "DirectTestSupport.h"
#include "EngineTestSupport.h"
#include "EngineUpdate.h"
#include "EntryPointFlow.h"
#include "HttpFileServer.h"
#include "InstalledEngine.h"
#include "LibraryLog.h"
#include "MeshdropLib.h"
#include "NginxServer.h"
#include "PrivateHosts.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"
#include "TestCertificates.h"
#include "TestClientWindow.h"

namespace {

constexpr const char* kV6Only = "v6only.meshdrop.test";
constexpr const char* kDual = "dual.meshdrop.test";
constexpr const char* kFolder = "C:\\games\\ipv6\\";

std::string g_hostsWhy;
// Before any thread starts: the names are for this process and its children.
const bool g_hosts = testsupport::enterPrivateHosts(
    "::1 v6only.meshdrop.test\n::1 dual.meshdrop.test\n127.0.0.1 dual.meshdrop.test", &g_hostsWhy);

bool HasIpv6Loopback()
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    if (fd >= 0)
        ::close(fd);
    return bound;
}

// The addresses of `name` in the resolver's order, as text.
std::vector<std::string> Addresses(const char* name)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<std::string> addresses;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* bytes = a->ai_family == AF_INET6
                                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(a->ai_addr)->sin6_addr)
                                : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
        inet_ntop(a->ai_family, bytes, text, sizeof(text));
        if (std::find(addresses.begin(), addresses.end(), text) == addresses.end())
            addresses.emplace_back(text);
    }
    freeaddrinfo(found);
    return addresses;
}

// A TCP port of `address` bound but not listening: connects to it are refused.
class RefusingPort {
public:
    RefusingPort(const std::string& address, uint16_t port)
    {
        sockaddr_storage a{};
        socklen_t length = 0;
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
        auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
        if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(port);
            length = sizeof(*v6);
        } else {
            inet_pton(AF_INET, address.c_str(), &v4->sin_addr);
            v4->sin_family = AF_INET;
            v4->sin_port = htons(port);
            length = sizeof(*v4);
        }
        m_fd = ::socket(a.ss_family, SOCK_STREAM, 0);
        m_held = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), length) == 0;
    }
    ~RefusingPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};

std::string HostText(const std::string& address)
{
    return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

class Ipv6FlowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_certificates = std::make_unique<testsupport::TestCertificates>();
        s_server = s_certificates->issue("ipv6", "IP:::1,DNS:v6only.meshdrop.test");
        s_certificates->trustInThisProcess();
    }
    static void TearDownTestSuite() { s_certificates.reset(); }

    void SetUp() override
    {
        if (!HasIpv6Loopback())
            GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
        ASSERT_TRUE(s_certificates->ok()) << s_certificates->error();
        m_log = LibraryLog::Prepare();
        // No engine of an earlier test in this process is found installed.
        std::filesystem::remove_all(installedengine::Folder());
        W32SetInternetConnectedForTesting(1);
        ASSERT_TRUE(m_written);
        m_port = m_files.listenOn(0, "::1");
        ASSERT_NE(m_port, 0);
        m_nginx.listenOn("::1");
        testsupport::NginxServer::Tls tls;
        tls.certificate = s_server.certificate;
        tls.key = s_server.key;
        m_nginx.useTls(tls);
        ASSERT_TRUE(m_nginx.start()) << m_nginx.error();
    }

    void TearDown() override
    {
        MeshdropLib_Finalize();
        W32SetInternetConnectedForTesting(-1);
    }

    void Initialize() { ASSERT_EQ(MeshdropLib_Initialize(m_window.Handle(), nullptr, nullptr), MESHDROPLIB_OK); }

    std::string Url(const std::string& host, const std::string& name) const { return UrlOn(host, m_port, name); }
    static std::string UrlOn(const std::string& host, uint16_t port, const std::string& name)
    {
        return "http://" + host + ":" + std::to_string(port) + "/" + name;
    }
    std::string SecureUrl(const std::string& host, const std::string& name) const
    {
        return "https://" + host + ":" + std::to_string(m_nginx.port()) + "/" + name;
    }

    // A job of the files, each saved under its own name; `sizes` of 0 are
    // probed first.
    MeshdropJobHandle StartJob(const std::vector<std::pair<std::string, size_t>>& files, bool engine)
    {
        MeshdropJobHandle job = 0;
        if (engine) {
            EXPECT_EQ(MeshdropLib_SetEngineServiceId("joyvend_veilrune_tw"), MESHDROPLIB_OK);
        }
        EXPECT_EQ(MeshdropLib_CreateJob(&job, "TW", "joyvend_veilrune_tw"), MESHDROPLIB_OK);
        if (engine) {
            EXPECT_EQ(MeshdropLib_SetJobEngineFlag(job), MESHDROPLIB_OK);
        }
        for (const auto& [url, size] : files) {
            const DWORD given = size ? static_cast<DWORD>(size) : 0xFFFFFFFF;
            EXPECT_EQ(MeshdropLib_AddFile(job, url.c_str(), kFolder, nullptr, given, size ? 0 : 0xFFFFFFFF, 1),
                      MESHDROPLIB_OK)
                << url;
        }
        EXPECT_EQ(MeshdropLib_StartJob(job, 1), MESHDROPLIB_OK);
        return job;
    }

    // Runs the job to its end: every file arrived, byte-exact, no notice.
    void ExpectJobArrives(MeshdropJobHandle job, const std::vector<std::pair<std::string, const std::string*>>& files)
    {
        ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_JOB_FINISHED, MESHDROPLIB_EVENT_JOB_NOTICE));
        EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_FILE_DONE), files.size());
        for (const auto& [name, bytes] : files)
            EXPECT_EQ(directtest::FileHash(Local(name)), directtest::Hash(*bytes)) << name;
        EXPECT_EQ(MeshdropLib_DeleteJob(job), MESHDROPLIB_OK);
    }

    size_t LogCount(const std::string& prefix) const
    {
        const auto lines = LibraryLog::Messages(m_log);
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                                 [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
    }

    static std::string Local(const std::string& name) { return directtest::DrivePath("games/ipv6/" + name); }

    static std::unique_ptr<testsupport::TestCertificates> s_certificates;
    static testsupport::ServerCertificate s_server;
    const std::string m_list = "http://[::1]/a.pak\r\n";
    const std::string m_a = testsupport::patternBytes(700'000, 11);
    const std::string m_b = testsupport::patternBytes(90'000, 12);
    const std::string m_c = testsupport::patternBytes(300'000, 13);
    testsupport::TempDir m_root{"meshdrop-ipv6-root"};
    bool m_written =
        testsupport::writeFile(m_root.file("list.txt"), m_list) && testsupport::writeFile(m_root.file("a.pak"), m_a) &&
        testsupport::writeFile(m_root.file("b.pak"), m_b) && testsupport::writeFile(m_root.file("c.pak"), m_c);
    publisher::HttpFileServer m_files{publisher::ServerOptions{m_root.path()}};
    uint16_t m_port = 0;
    testsupport::NginxServer m_nginx{m_root.path()};
    TestClientWindow m_window;
    std::string m_log;
};

std::unique_ptr<testsupport::TestCertificates> Ipv6FlowTest::s_certificates;
testsupport::ServerCertificate Ipv6FlowTest::s_server;

} // namespace

TEST_F(Ipv6FlowTest, ServerOnIpv6OnlyServesTheFileListSizesAndAJobByLiteral)
{
    Initialize();
    ASSERT_EQ(MeshdropLib_FetchFileList(Url("[::1]", "list.txt").c_str()), MESHDROPLIB_OK);
    ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_FILE_LIST_DONE, MESHDROPLIB_EVENT_FILE_LIST_FAILED));
    uint64_t size = 0;
    ASSERT_EQ(MeshdropLib_GetFileListSize(&size), MESHDROPLIB_OK);
    std::string bytes(size, '\0');
    FileListBuffer record{bytes.data(), size};
    ASSERT_EQ(MeshdropLib_GetFileListData(&record), MESHDROPLIB_OK);
    EXPECT_EQ(bytes, m_list);

    ASSERT_EQ(MeshdropLib_AddFileSizeCheck(Url("[::1]", "a.pak").c_str()), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_AddFileSizeCheck(SecureUrl("[::1]", "b.pak").c_str()), MESHDROPLIB_OK);
    ASSERT_EQ(MeshdropLib_StartFileSizeCheck(), MESHDROPLIB_OK);
    ASSERT_TRUE(PumpUntilOutcome(m_window, MESHDROPLIB_EVENT_SIZE_CHECK_DONE, MESHDROPLIB_EVENT_SIZE_CHECK_FAILED));
    uint64_t total = 0;
    EXPECT_EQ(MeshdropLib_GetFileSizeTotal(&total), MESHDROPLIB_OK);
    EXPECT_EQ(total, m_a.size() + m_b.size());

    // Sizes unknown: the job probes them too. HTTPS checks the certificate's
    // address entry.
    const MeshdropJobHandle job =
        StartJob({{Url("[::1]", "a.pak"), 0}, {SecureUrl("[::1]", "b.pak"), 0}, {Url("[::1]", "c.pak"), 0}}, false);
    ExpectJobArrives(job, {{"a.pak", &m_a}, {"b.pak", &m_b}, {"c.pak", &m_c}});
}

TEST_F(Ipv6FlowTest, NameWithOnlyAnIpv6AddressServesAJobOverHttpAndHttps)
{
    if (!g_hosts)
        GTEST_SKIP() << g_hostsWhy;
    ASSERT_EQ(Addresses(kV6Only), (std::vector<std::string>{"::1"}));
    Initialize();
    const MeshdropJobHandle job =
        StartJob({{Url(kV6Only, "a.pak"), m_a.size()}, {SecureUrl(kV6Only, "b.pak"), m_b.size()}}, false);
    ExpectJobArrives(job, {{"a.pak", &m_a}, {"b.pak", &m_b}});
}

TEST_F(Ipv6FlowTest, FirstAddressRefusingCostsTheSessionNoAttempt)
{
    if (!g_hosts)
        GTEST_SKIP() << g_hostsWhy;
    const std::vector<std::string> addresses = Addresses(kDual);
    ASSERT_EQ(addresses.size(), 2u);
    // The server answers on the second address only, and closes its first two
    // connections: with the three attempts a session has per address, the
    // file arrives only if the refusal of the first address cost none.
    const std::string body = testsupport::patternBytes(200'000, 14);
    const auto serve = testsupport::ScriptedHttpServer::serveBody(body);
    testsupport::ScriptedHttpServer server(
        [&](testsupport::HttpConnection& c, int index) {
            if (index < 2) {
                c.readRequest();
                c.close();
                return;
            }
            serve(c, index);
        },
        addresses[1].find(':') == std::string::npos ? AF_INET : AF_INET6);
    ASSERT_NE(server.port(), 0);
    RefusingPort refusing(addresses[0], server.port());
    ASSERT_TRUE(refusing.Held()) << HostText(addresses[0]) << ":" << server.port() << " is taken";
    Initialize();
    const MeshdropJobHandle job = StartJob({{UrlOn(kDual, server.port(), "d.pak"), body.size()}}, false);
    ExpectJobArrives(job, {{"d.pak", &body}});
    EXPECT_EQ(server.connectionCount(), 3);
    EXPECT_EQ(LogCount("[MeshdropLib] TryMax Over"), 0u);
}

namespace {

// The engine path: the engine update from a server on [::1], then the job.
class Ipv6EnginePathTest : public Ipv6FlowTest {
protected:
    void SetUp() override
    {
        Ipv6FlowTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        const uint16_t updatePort = m_updateServer.listenOn(0, "::1");
        ASSERT_NE(updatePort, 0);
        publisher::UpdateOptions update;
        update.root = m_updateRoot.path();
        update.host = "[::1]";
        update.port = updatePort;
        std::string error;
        ASSERT_TRUE(publisher::generateEngineUpdate(update, error)) << error;
        setenv("MESHDROP_UPDATE_LIST_URL", UrlOn("[::1]", updatePort, publisher::kUpdateListPath + 1).c_str(), 1);
        setenv("MESHDROP_ENGINE_PORT", std::to_string(enginetest::FreePort()).c_str(), 1);
        // Should the test fail before it stops its engine, the engine leaves by itself.
        setenv("MESHDROP_ENGINE_IDLE_EXIT", "30", 1);
    }

    void TearDown() override
    {
        Ipv6FlowTest::TearDown();
        EXPECT_TRUE(installedengine::Stop());
        // The other tests of this program reach no engine (as by default).
        setenv("MESHDROP_UPDATE_LIST_URL", "http://127.0.0.1:1/", 1);
        setenv("MESHDROP_ENGINE_PORT", "1", 1);
    }

    testsupport::TempDir m_updateRoot{"meshdrop-ipv6-update"};
    publisher::HttpFileServer m_updateServer{publisher::ServerOptions{m_updateRoot.path()}};
};

} // namespace

TEST_F(Ipv6EnginePathTest, TheEngineIsUpdatedAndFetchesTheSameFilesOverIpv6)
{
    std::vector<std::pair<std::string, size_t>> files = {{Url("[::1]", "a.pak"), 0}, {SecureUrl("[::1]", "b.pak"), 0}};
    std::vector<std::pair<std::string, const std::string*>> expected = {{"a.pak", &m_a}, {"b.pak", &m_b}};
    // With the names: one that has only ::1, and one whose first address refuses.
    std::unique_ptr<publisher::HttpFileServer> second;
    std::unique_ptr<RefusingPort> refusing;
    if (g_hosts) {
        const std::vector<std::string> addresses = Addresses(kDual);
        ASSERT_EQ(addresses.size(), 2u);
        second = std::make_unique<publisher::HttpFileServer>(publisher::ServerOptions{m_root.path()});
        const uint16_t port = second->listenOn(0, addresses[1]);
        ASSERT_NE(port, 0);
        refusing = std::make_unique<RefusingPort>(addresses[0], port);
        ASSERT_TRUE(refusing->Held());
        files.emplace_back(Url(kV6Only, "c.pak"), 0);
        files.emplace_back(UrlOn(kDual, port, "list.txt"), 0);
        expected.emplace_back("c.pak", &m_c);
        expected.emplace_back("list.txt", &m_list);
    }
    Initialize();
    const MeshdropJobHandle job = StartJob(files, true);
    ExpectJobArrives(job, expected);
    EXPECT_EQ(m_window.Count(MESHDROPLIB_EVENT_ENGINE_READY), 1u);
    EXPECT_EQ(LogCount("[MeshdropLib] CPlatFormDownloader Begin"), 0u);
    if (!g_hosts)
        GTEST_SKIP() << "only the literals were tried: " << g_hostsWhy;
}
