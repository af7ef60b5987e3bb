// The NTS check against the real chronyd as NTS server on loopback: one
// table of server set-ups with the verdict each must give, then the whole
// report as the terminal prints it and the window shows it.
#include "support/ChildProcess.h"
#include "support/NtsChrony.h"
#include "support/QtTestMain.h"
#include "support/QtWindowDriver.h"
#include "support/TestPaths.h"
#include "support/UdpResponder.h"

#include "fakes/FakeWindow.h"
#include "frontends/qt/QtDialogWindow.h"
#include "frontends/terminal/TerminalText.h"
#include "nts/NtsReport.h"
#include "query/ClockSetting.h"
#include "query/KissCode.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>

using namespace qtdriver;

namespace {

enum class NtpSide { Chrony, PlainOnly, Silent };       // who answers on the NTP port
enum class Between { Nothing, KeepKeys, FreshKeys };    // chronyd restarted after the key exchange

struct SetUpRow {
    const char* name;
    const char* certificate; // "good", "expired", "other"; "" for no server at all
    bool trustCa;
    NtpSide ntp;
    Between between;
    const char* verdict;
};

const SetUpRow Rows[] = {
    {"full authenticated report", "good", true, NtpSide::Chrony, Between::Nothing, "works"},
    {"certificate not trusted without --nts-ca", "good", false, NtpSide::Chrony, Between::Nothing,
     "certificate-untrusted"},
    {"expired certificate", "expired", true, NtpSide::Chrony, Between::Nothing, "certificate-expired"},
    {"certificate for another name", "other", true, NtpSide::Chrony, Between::Nothing, "certificate-other-name"},
    {"key-exchange port closed", "", true, NtpSide::Chrony, Between::Nothing, "ke-refused"},
    {"NTS packets dropped, plain NTP answered", "good", true, NtpSide::PlainOnly, Between::Nothing, "nts-dropped"},
    {"NTP port silent", "good", true, NtpSide::Silent, Between::Nothing, "ntp-silent"},
    {"restart keeping the key store", "good", true, NtpSide::Chrony, Between::KeepKeys, "works"},
    {"restart with a fresh key store", "good", true, NtpSide::Chrony, Between::FreshKeys, "nak"},
};

class NtsChronyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certs = MakeNtsCertificates(ProcessTempDir("nts-certs")); }

    void SetUp() override { ASSERT_TRUE(certs.ok) << certs.error; }

    // Starts chronyd as the row says and returns the key-exchange server text.
    std::string Serve(const SetUpRow& row)
    {
        if (*row.certificate == '\0')
            return "127.0.0.1:" + std::to_string(FreeLoopbackPort());
        NtsChronySetUp setUp;
        const std::string which = row.certificate;
        setUp.cert = which == "good" ? certs.good : which == "expired" ? certs.expired : certs.otherName;
        setUp.key = which == "good" ? certs.goodKey : which == "expired" ? certs.expiredKey : certs.otherNameKey;
        if (row.ntp != NtpSide::Chrony) {
            // chronyd on 127.0.0.2 sends the client to the same port on
            // 127.0.0.1, where the test decides what answers.
            setUp.address = "127.0.0.2";
            setUp.ntsNtpServer = "127.0.0.1";
        }
        chrony = std::make_unique<CNtsChrony>(ProcessTempDir("nts-chrony"));
        if (!chrony->Start(setUp)) {
            ADD_FAILURE() << chrony->Error();
            return "";
        }
        if (row.ntp != NtpSide::Chrony) {
            const bool plain = row.ntp == NtpSide::PlainOnly;
            responder = std::make_unique<CUdpResponder>(
                [plain](const CUdpResponder::Request& r) -> std::vector<CUdpResponder::Datagram> {
                    if (!plain || r.bytes.size() != 48)
                        return {}; // as a path that drops large datagrams
                    return {CUdpResponder::Message(CUdpResponder::ServerReply(r))};
                },
                "127.0.0.1", static_cast<uint16_t>(chrony->NtpPort()));
            EXPECT_TRUE(responder->IsListening());
        }
        return chrony->KeServerText();
    }

    static NtsCertificates certs;
    std::unique_ptr<CNtsChrony> chrony;
    std::unique_ptr<CUdpResponder> responder;
    CExchangeEngine engine{PosixSockets(), SystemClock()};
    CNtsChecker checker{engine, SystemTls(), SystemCrypto()};
};
NtsCertificates NtsChronyTest::certs;

uint8_t VersionOf(const std::vector<uint8_t>& packet) { return (packet.at(0) >> 3) & 7; }

TEST_F(NtsChronyTest, EachServerSetUpGivesItsVerdict)
{
    for (const SetUpRow& row : Rows) {
        SCOPED_TRACE(row.name);
        const std::string server = Serve(row);
        ASSERT_FALSE(server.empty());
        NtsCheck check;
        NtpExchange where;
        ASSERT_TRUE(engine.Resolve(server, where, NtsKePort));
        check.keyExchange = checker.KeyExchange(where, row.trustCa ? std::vector<std::string>{certs.ca}
                                                                   : std::vector<std::string>{});
        if (row.between != Between::Nothing) {
            ASSERT_TRUE(chrony->Restart(row.between == Between::FreshKeys)) << chrony->Error();
        }
        checker.TimeExchanges(check);
        const NtsVerdict verdict = JudgeNtsCheck(check);
        EXPECT_EQ(verdict.code, row.verdict) << verdict.text;
        const std::vector<std::string> blocks = NtsReportBlocks(check, verdict, SystemClock().Now().seconds);
        EXPECT_EQ(blocks.back(), "\r\nVerdict: " + verdict.text);

        const NtsKeyExchange& ke = check.keyExchange;
        const std::string code = row.verdict;
        if (*row.certificate == '\0') {
            EXPECT_EQ(ke.connect.outcome, TcpConnectOutcome::Refused);
            EXPECT_FALSE(check.first.run);
            continue;
        }
        // Every server here gets through the handshake and the records.
        EXPECT_EQ(ke.tls.version, "TLS1.3");
        EXPECT_EQ(ke.tls.alpn, "ntske/1");
        EXPECT_TRUE(ke.endOfMessage);
        EXPECT_EQ(ke.response.aeadAlgorithms, std::vector<uint16_t>{AeadAesSivCmac256});
        EXPECT_EQ(ke.response.cookies.size(), 8u);
        EXPECT_EQ(ke.response.ntpPort, chrony->NtpPort());
        EXPECT_EQ(ke.tls.certificate.expired, code == "certificate-expired");
        EXPECT_EQ(ke.tls.certificate.nameMatches, code != "certificate-other-name");
        EXPECT_EQ(ke.tls.certificate.verified, row.trustCa && code != "certificate-expired");
        // No NTS request follows a certificate that was not verified.
        ASSERT_EQ(check.first.run, code.rfind("certificate", 0) != 0);
        if (!check.first.run)
            continue;
        EXPECT_EQ(VersionOf(check.first.exchange.request), 4);
        if (code == "works") {
            EXPECT_TRUE(check.first.Authenticated());
            EXPECT_EQ(check.first.answer.cookies.size(), 2u) << "one for the cookie, one for the placeholder";
            EXPECT_TRUE(check.second.Authenticated());
            EXPECT_NE(check.second.exchange.request, check.first.exchange.request);
            EXPECT_FALSE(check.plainRun);
        }
        if (code == "nak") {
            EXPECT_TRUE(check.first.Nak());
            EXPECT_EQ(KissCode(check.first.exchange), "NTSN");
            EXPECT_FALSE(check.second.run);
        }
        if (code == "nts-dropped" || code == "ntp-silent") {
            EXPECT_EQ(check.keyExchange.response.ntpServer, "127.0.0.1");
            EXPECT_EQ(check.first.exchange.outcome, ExchangeOutcome::TimedOut);
            ASSERT_TRUE(check.plainRun);
            EXPECT_EQ(check.plain.Answered(), code == "nts-dropped");
            EXPECT_EQ(VersionOf(check.plain.request), 3);
            EXPECT_EQ(check.plain.request.size(), 48u);
        }
        responder.reset();
        chrony.reset();
    }
}

ProgramRun Horolab(std::vector<std::string> args)
{
    args.insert(args.begin(), HOROLAB_PROGRAM);
    return RunProgram(args, ::testing::TempDir());
}

TEST_F(NtsChronyTest, TerminalAndWindowGiveTheWholeReport)
{
    const std::string server = Serve(Rows[0]);
    ASSERT_FALSE(server.empty());

    const ProgramRun run = Horolab({"--nts", server, "--nts-ca", certs.ca});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::cout << run.out; // the real report, for whoever reads the test log
    EXPECT_EQ(run.out.rfind("Querying host " + server + " with NTS from random port\n", 0), 0u) << run.out;
    for (const char* part : {"+--NTS Key Exchange---", "| ALPN:               ntske/1 agreed",
                             "| Verification:       trusted, with --nts-ca", "New Cookie        8 cookies of",
                             "NTS exchange 1 with 127.0.0.1:", "NTS exchange 2 with 127.0.0.1:",
                             "+--Result---", "+--Packet Content---", "| Version:              4 ",
                             "Timestamps shown in local time zone:"})
        EXPECT_NE(run.out.find(part), std::string::npos) << part;
    size_t authenticated = 0;
    for (size_t at = 0; (at = run.out.find("\nNTS: authenticated, 2 new cookies\n", at)) != std::string::npos; ++at)
        ++authenticated;
    EXPECT_EQ(authenticated, 2u) << "both exchanges";
    EXPECT_NE(run.out.find("\nVerdict: NTS works"), std::string::npos);

    const ProgramRun untrusted = Horolab({"--nts", server});
    EXPECT_EQ(untrusted.status, 1);
    EXPECT_NE(untrusted.out.find("Verdict: the server's certificate is not trusted"), std::string::npos);

    const ProgramRun json = Horolab({"--nts", server, "--nts-ca", certs.ca, "--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    const nlohmann::json out = nlohmann::json::parse(json.out);
    EXPECT_EQ(out["verdict"]["code"], "works");
    EXPECT_EQ(out["key_exchange"]["tls"]["alpn"], "ntske/1");
    EXPECT_EQ(out["key_exchange"]["cookie_bytes"].size(), 8u);
    for (int i : {0, 1}) {
        EXPECT_TRUE(out["exchanges"][i]["authenticated"].get<bool>()) << i;
        EXPECT_EQ(out["exchanges"][i]["new_cookies"], 2) << i;
        EXPECT_EQ(out["exchanges"][i]["answer"]["version"], 4) << i;
    }

    // The window: N on a button checks "Secure (&NTS)", then the server and Enter.
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    dialog.SetNtsCaFiles({certs.ca});
    QLineEdit* field = static_cast<QComboBox*>(window.Control(IDC_SERVER))->lineEdit();
    window.Control(IDC_GO)->setFocus();
    Type(window.Control(IDC_GO), "n");
    ASSERT_TRUE(WaitFor([&] { return window.IsChecked(IDC_NTS); })) << "N did not check \"Secure (&NTS)\"";
    field->setFocus();
    Type(field, server);
    Key(field, Qt::Key_Return); // the check runs to its end inside this call
    ASSERT_TRUE(WaitFor([&] { return window.GetText(IDC_LOG).find("Verdict:") != std::string::npos; }));
    const std::string log = ToLfLines(window.GetText(IDC_LOG));
    Pump(100);
    EXPECT_FALSE(SaveScreenshot(&window, "qt_dialog_nts_report.png").isEmpty());
    window.EndDialog(IDCANCEL);
    EXPECT_EQ(log.substr(0, log.find("+--NTS")), run.out.substr(0, run.out.find("+--NTS")));
    EXPECT_NE(log.find("\nVerdict: NTS works"), std::string::npos) << log;
    EXPECT_EQ(dialog.LastNtsVerdict().code, "works");
}

// The real clock for reading, a record instead of setting it.
struct RecordingClock : IClock {
    WallTime Now() override { return SystemClock().Now(); }
    int64_t MonotonicMicroseconds() override { return SystemClock().MonotonicMicroseconds(); }
    uint32_t GetTickCount() override { return SystemClock().GetTickCount(); }
    void Sleep(uint32_t ms) override { SystemClock().Sleep(ms); }
    bool SetSystemTime(const SystemTime& utc, std::string&) override
    {
        settings.push_back(utc);
        return true;
    }
    std::vector<SystemTime> settings;
};

TEST_F(NtsChronyTest, SetSystemTimeTakesOnlyAnAuthenticatedAnswerFromAVerifiedServer)
{
    const std::string server = Serve(Rows[0]);
    ASSERT_FALSE(server.empty());
    for (const bool trusted : {true, false}) {
        SCOPED_TRACE(trusted ? "certificate verified" : "certificate not trusted");
        FakeWindow window;
        RecordingClock clock;
        CTikkaraDlg dialog(window, PosixSockets(), clock);
        dialog.OnInitDialog();
        dialog.SetNtsCaFiles(trusted ? std::vector<std::string>{certs.ca} : std::vector<std::string>{});
        window.SetText(IDC_SERVER, server);
        window.SetChecked(IDC_NTS, true);
        window.SetChecked(IDC_SET_TIME, true);
        dialog.OnOK();
        const NtsCheck& check = dialog.LastNtsCheck();
        ASSERT_EQ(check.second.Authenticated(), trusted) << window.LogText();
        EXPECT_EQ(dialog.LastClockSetting().asked, true);
        EXPECT_EQ(dialog.LastClockSetting().set, trusted) << dialog.LastClockSetting().reason;
        if (trusted) {
            ASSERT_EQ(clock.settings.size(), 1u);
            EXPECT_EQ(clock.settings[0], TransmitTimeToSystemTime(check.second.exchange.reply.m_transmit))
                << "from the last authenticated answer";
            EXPECT_EQ(window.LogText().find("System time not set"), std::string::npos);
        } else {
            EXPECT_TRUE(clock.settings.empty());
            EXPECT_NE(window.LogText().find("\r\n--System time not set: the server's certificate was not "
                                            "verified\r\n"),
                      std::string::npos)
                << window.LogText();
        }
    }
}

} // namespace

HOROLAB_QT_TEST_MAIN()
