// Network targets end to end: COM names mapped to the real ser2net in front of devsim's pseudo-terminal, and
// a thousand targets on devsim's RFC 2217 server at once.
#include "Files.h"
#include "PortMap.h"
#include "Ser2net.h"
#include "Simulator.h"
#include "TempDir.h"
#include "VellPortDll.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPortNumber = 7;
// The library's bound for a network call (VellPortDll.h); failures are checked against twice that.
constexpr std::chrono::seconds kNetworkBound{2};

// A TLS row: which certificate ser2net shows, whether it wants the client's, which one the client has, and
// whether the target is the plain telnet port instead of the TLS one.
struct TlsRow {
    enum class Server { None, Good, Expired, OtherName } server = Server::None;
    bool clientAuth = false;
    const char* clientCa = nullptr; // "ca" or "other": the CA of client.pem beside ca.pem
    bool plainPort = false;
    bool keyOpen = false; // client.key readable by group and others
};

// The test's own CAs and certificates, made with the openssl command in dir.
bool MakeCertificates(const std::string& dir) {
    const std::string script =
        R"(set -e; cd ")" + dir + R"("; k="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
for ca in ca other; do openssl req -x509 $k -keyout $ca.key -out $ca.pem -days 2 -subj /CN=$ca; done
leaf() { openssl req $k -keyout $1.key -out $1.csr -subj /CN=$2
  printf "subjectAltName=$3\n" >$1.ext; openssl x509 -req -in $1.csr -CA $4.pem -CAkey $4.key -days $5 -extfile $1.ext -out $1.pem; }
leaf server localhost IP:127.0.0.1 ca 2; leaf expired localhost IP:127.0.0.1 ca -1; leaf othername box DNS:box ca 2
leaf clientca client DNS:client ca 2; leaf clientother client DNS:client other 2
mkdir -p auth/client/allowed_certs; cp ca.pem auth/client/allowed_certs/; openssl rehash auth/client/allowed_certs
mkdir -p config/VellPortDll/tls; cp ca.pem config/VellPortDll/tls/)";
    WriteBytes(dir + "/make.sh", script);
    return std::system(("bash " + dir + "/make.sh >/dev/null 2>&1").c_str()) == 0;
}

struct Ser2netCase {
    const char* name;
    const char* scheme;
    bool atRawPort; // the target points at ser2net's raw port instead of its RFC 2217 port
    bool held;      // another client holds the target's port first
    int rate;
    std::vector<unsigned char> data;
    std::vector<int> results; // any of these
    const char* arrived;      // the bytes the pseudo-terminal shows, and the rate it was at
    int arrivedRate;
    bool deviceMissing = false; // ser2net is pointed at a device that does not exist
    TlsRow tls{};
};

const std::vector<unsigned char> kOn{0x1B, 0x27, 0x0A, 0x01};

class ThroughSer2net : public testing::TestWithParam<Ser2netCase> {};

TEST_P(ThroughSer2net, BytesAndRateArriveAsAsked) {
    if (Ser2net::program().empty()) {
        GTEST_SKIP() << "ser2net is not installed (scripts/install-deps test)";
    }
    const Ser2netCase& row = GetParam();
    const TempDir folder;
    Simulator display;
    ASSERT_TRUE(display.start({"--json", "--link", folder.file("ttyDISPLAY")}));
    Ser2net::Tls tls;
    if (row.tls.server != TlsRow::Server::None) {
        ASSERT_TRUE(MakeCertificates(folder.path())) << "the openssl command (scripts/install-deps test)";
        const char* names[] = {"", "server", "expired", "othername"};
        const std::string serverName = names[static_cast<int>(row.tls.server)];
        tls = {folder.file(serverName + ".key"), folder.file(serverName + ".pem"),
               row.tls.clientAuth ? folder.file("auth") : ""};
        ASSERT_EQ(::setenv("XDG_CONFIG_HOME", folder.file("config").c_str(), 1), 0);
        for (const char* part : {".pem", ".key"}) {
            ASSERT_TRUE(!row.tls.clientCa || std::filesystem::copy_file(
                                                 folder.file("client" + std::string(row.tls.clientCa) + part),
                                                 folder.file("config/VellPortDll/tls/client") + part));
        }
        if (row.tls.keyOpen) {
            std::filesystem::permissions(folder.file("config/VellPortDll/tls/client.key"),
                                         std::filesystem::perms::others_read,
                                         std::filesystem::perm_options::add);
        }
    }
    Ser2net server;
    ASSERT_TRUE(
        server.start(folder.file(row.deviceMissing ? "ttyMISSING" : "ttyDISPLAY"), folder.path(), tls));
    const bool tlsPort = !tls.key.empty() && !row.tls.plainPort;
    const int port = tlsPort ? (row.atRawPort ? server.tlsRawPort() : server.tlsPort())
                             : (row.atRawPort ? server.rawPort() : server.rfc2217Port());
    const PortMap map(kPortNumber, std::string(row.scheme) + "://127.0.0.1:" + std::to_string(port));
    // A client on the plain port holds the device the TLS ports share.
    ASSERT_TRUE(!row.held || server.hold(tlsPort ? server.rfc2217Port() : port));
    const std::string name = "COM" + std::to_string(kPortNumber);

    ASSERT_EQ(SetComParam(name.c_str(), row.rate, 8, 'N', 1, 0), VELLPORT_OK);
    // devsim reads the line settings when it reads the bytes, and ser2net puts its own back as the connection
    // ends: a reader that ran late under load sees those. Only then is the row sent once more; a library that
    // never sets the rate fails both times.
    std::string seen;
    std::vector<int> rates;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto started = Clock::now();
        const int result = SendData(name.c_str(), row.data.data(), static_cast<int>(row.data.size()));
        EXPECT_NE(std::find(row.results.begin(), row.results.end(), result), row.results.end())
            << result << " " << VellPortLastError();
        EXPECT_EQ(VellPortLastDelivery(),
                  result == VELLPORT_OK ? VELLPORT_DELIVERY_CONFIRMED : VELLPORT_DELIVERY_NONE);
        EXPECT_LT(Clock::now() - started, 2 * kNetworkBound);

        // devsim may see the bytes in more than one read: gather them until they are all there or none come.
        seen.clear();
        rates.clear();
        const std::regex event(R"re(\{"event":"[a-z]+","bytes":"([0-9A-F ]*)","rate":(\d+),.*)re");
        while (seen.size() < std::string(row.arrived).size()) {
            const std::optional<std::string> line = display.readLine(std::chrono::milliseconds(1500));
            if (!line) {
                break;
            }
            std::smatch fields;
            ASSERT_TRUE(std::regex_match(*line, fields, event)) << *line;
            rates.push_back(std::stoi(fields[2]));
            seen += (seen.empty() ? "" : " ") + fields[1].str();
        }
        const bool lateReader = std::any_of(rates.begin(), rates.end(), [&](int rate) {
            return rate != row.arrivedRate && rate == Ser2net::kDefaultRate;
        });
        if (!lateReader) {
            break;
        }
    }
    EXPECT_EQ(seen, row.arrived);
    for (const int rate : rates) {
        EXPECT_EQ(rate, row.arrivedRate);
    }
    server.stop();
    EXPECT_EQ(display.stop(), std::vector<std::string>{}) << "the display saw more than was sent";
}

const std::vector<unsigned char> kWithIac{0x41, 0xFF, 0x42};
const std::vector<int> kOk{VELLPORT_OK};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rows, ThroughSer2net,
    testing::Values(
        Ser2netCase{"rfc2217 sets 2400", "rfc2217", false, false, 2400, kOn, kOk, "1B 27 0A 01", 2400},
        Ser2netCase{"rfc2217 sets 9600", "rfc2217", false, false, 9600, kOn, kOk, "1B 27 0A 01", 9600},
        Ser2netCase{"rfc2217 sets 115200", "rfc2217", false, false, 115200, kOn, kOk, "1B 27 0A 01", 115200},
        Ser2netCase{"rfc2217 byte 0xFF arrives once", "rfc2217", false, false, 19200, kWithIac, kOk, "41 FF 42", 19200},
        Ser2netCase{"tcp sends bytes as they are at the server's rate", "tcp", true, false, 115200, kWithIac, kOk,
                    "41 FF 42", 9600},
        Ser2netCase{"rfc2217 at a raw port writes nothing and fails", "rfc2217", true, false, 9600, kOn,
                    {VELLPORT_ERR_PROTOCOL, VELLPORT_ERR_TIMEOUT}, "", 0},
        Ser2netCase{"tcp to a port another client holds fails busy", "tcp", true, true, 9600, kOn,
                    {VELLPORT_ERR_BUSY}, "", 0},
        Ser2netCase{"rfc2217 to a port another client holds fails busy", "rfc2217", false, true, 9600, kOn,
                    {VELLPORT_ERR_BUSY}, "", 0},
        Ser2netCase{"rfc2217 to a server without its device fails no device", "rfc2217", false, false, 9600, kOn,
                    {VELLPORT_ERR_NO_DEVICE}, "", 0, true},
        Ser2netCase{"tcp to a server without its device fails no device", "tcp", true, false, 9600, kOn,
                    {VELLPORT_ERR_NO_DEVICE}, "", 0, true},
        Ser2netCase{"tls rfc2217 sets 2400", "rfc2217+tls", false, false, 2400, kOn, kOk, "1B 27 0A 01", 2400, false,
                    {TlsRow::Server::Good}},
        Ser2netCase{"tls tcp sends bytes as they are", "tcp+tls", true, false, 9600, kWithIac, kOk, "41 FF 42", 9600,
                    false, {TlsRow::Server::Good}},
        Ser2netCase{"tls client certificate accepted", "rfc2217+tls", false, false, 19200, kOn, kOk, "1B 27 0A 01",
                    19200, false, {TlsRow::Server::Good, true, "ca"}},
        Ser2netCase{"tls client key others may read fails tls", "rfc2217+tls", false, false, 9600, kOn,
                    {VELLPORT_ERR_TLS}, "", 0, false, {TlsRow::Server::Good, true, "ca", false, true}},
        Ser2netCase{"tls client certificate missing fails tls", "rfc2217+tls", false, false, 9600, kOn,
                    {VELLPORT_ERR_TLS}, "", 0, false, {TlsRow::Server::Good, true}},
        Ser2netCase{"tls client certificate of another CA fails tls", "tcp+tls", true, false, 9600, kOn,
                    {VELLPORT_ERR_TLS}, "", 0, false, {TlsRow::Server::Good, true, "other"}},
        Ser2netCase{"tls server certificate of another name fails tls", "rfc2217+tls", false, false, 9600, kOn,
                    {VELLPORT_ERR_TLS}, "", 0, false, {TlsRow::Server::OtherName}},
        Ser2netCase{"tls expired server certificate fails tls", "rfc2217+tls", false, false, 9600, kOn,
                    {VELLPORT_ERR_TLS}, "", 0, false, {TlsRow::Server::Expired}},
        Ser2netCase{"tls at a plain telnet port writes nothing", "rfc2217+tls", false, false, 9600, kOn,
                    {VELLPORT_ERR_PROTOCOL}, "", 0, false, {TlsRow::Server::Good, false, nullptr, true}},
        Ser2netCase{"tls to a port another client holds fails busy", "rfc2217+tls", false, true, 9600, kOn,
                    {VELLPORT_ERR_BUSY}, "", 0, false, {TlsRow::Server::Good}}),
    // clang-format on
    [](const testing::TestParamInfo<Ser2netCase>& info) {
        return std::regex_replace(info.param.name, std::regex("[^A-Za-z0-9]"), "_");
    });

// A thousand targets, each on its own port of one devsim server, sent to from 256 threads at once: as many
// connections in flight from one process as the library promises to carry.
TEST(Fleet, EveryTargetReceivesItsBytesExactlyOnce) {
    constexpr int kTargets = 1000;
    constexpr int kThreads = 256;
    Simulator server;
    ASSERT_TRUE(server.start({"--rfc2217-server", "0", "--listeners", std::to_string(kTargets)}));
    const std::vector<int> ports = server.ports();
    ASSERT_EQ(ports.size(), std::size_t{kTargets}) << server.firstLine();

    std::atomic<std::size_t> next{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < kThreads; ++i) {
        senders.emplace_back([&] {
            for (std::size_t target = next++; target < ports.size(); target = next++) {
                const std::string url = "rfc2217://127.0.0.1:" + std::to_string(ports[target]);
                failed +=
                    VellPortSendTo(url.c_str(), 38400, 8, 'N', 1, 0, kOn.data(), 4) != VELLPORT_OK ? 1 : 0;
            }
        });
    }
    // Read while they send: a thousand records do not fit in the pipe, and a blocked server would stall them.
    std::map<int, std::vector<std::string>> received;
    const std::regex record(
        R"re(\{"id":\d+,"port":(\d+),"rate":(\d+),"dataBits":8,"parity":"N","stopBits":1,"bytes":"([0-9A-F ]*)"\})re");
    for (int count = 0; count < kTargets; ++count) {
        const std::optional<std::string> line = server.readLine(std::chrono::seconds(20));
        if (!line) {
            break;
        }
        std::smatch fields;
        ASSERT_TRUE(std::regex_match(*line, fields, record)) << *line;
        EXPECT_EQ(fields[2], "38400");
        received[std::stoi(fields[1])].push_back(fields[3]);
    }
    for (std::thread& sender : senders) {
        sender.join();
    }
    EXPECT_EQ(failed, 0);
    for (const int port : ports) {
        EXPECT_EQ(received[port], std::vector<std::string>{"1B 27 0A 01"}) << "port " << port;
    }
    EXPECT_EQ(server.stop(), std::vector<std::string>{}) << "connections that never ended";
}

} // namespace
