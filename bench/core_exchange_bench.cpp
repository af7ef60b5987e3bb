// The core exchange against its physical floor, and the rendering of one
// answer, all in one run on a loopback responder.
//
// Exchange: one complete query (OnOK: open, resolve, encode, send, wait,
// receive, decode and every report text) through the dialog on the
// in-memory window, beside the floor: a bare sendto/recvfrom round trip of
// a 48-byte request to the same responder. Rounds alternate the two, in
// turn first and second, so that load and cache effects hit both alike.
//
// Rendering: GetPacketContent + FormatResultBox + GetTimeZoneText of one
// decoded answer, timed in batches.
//   core_exchange_bench [ROUNDS]        default 3000
#include "BenchStats.h"

#include "fakes/FakeWindow.h"
#include "support/UdpResponder.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace bench;

namespace {

constexpr double ExchangeGoalUs = 50.0;
constexpr double RenderingGoalUs = 10.0;

sockaddr_in Address(const SockAddrIn& endpoint)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = endpoint.port;
    a.sin_addr.s_addr = endpoint.address;
    return a;
}

// The floor: one request out, one answer in, on a socket that already exists.
bool BareRoundTrip(int fd, const sockaddr_in& server)
{
    uint8_t request[NtpHeaderSize];
    CNtpMsg().Encode(request, false);
    if (::sendto(fd, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&server), sizeof server) !=
        static_cast<ssize_t>(sizeof request))
        return false;
    uint8_t answer[64];
    return ::recvfrom(fd, answer, sizeof answer, 0, nullptr, nullptr) == NtpHeaderSize;
}

// The same with the socket's life around it, as a random-port query has it:
// what the floor leaves out that the tool cannot.
bool FreshSocketRoundTrip(const sockaddr_in& server)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    const bool ok = fd >= 0 && BareRoundTrip(fd, server);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

bool WholeReport(FakeWindow& window)
{
    return window.LogText().find("Timestamps shown in local time zone:") != std::string::npos;
}

// An answer as the responder sends it, decoded as the transport decodes it.
CNtpMsg DecodedAnswer()
{
    CUdpResponder::Request request;
    uint8_t bytes[NtpHeaderSize];
    CNtpMsg().Encode(bytes, false);
    request.bytes.assign(bytes, bytes + NtpHeaderSize);
    request.received = CurrentNtpTime();
    const CUdpResponder::Datagram datagram = CUdpResponder::Message(CUdpResponder::ServerReply(request));
    return CNtpMsg(datagram.bytes.data());
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3000;
    if (rounds < 10) {
        std::fprintf(stderr, "usage: %s [ROUNDS >= 10]\n", argv[0]);
        return 2;
    }

    CUdpResponder responder(CUdpResponder::NtpServer());
    if (!responder.IsListening()) {
        std::fprintf(stderr, "no loopback responder\n");
        return 1;
    }
    const sockaddr_in server = Address(responder.Endpoint());
    const int floorSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);

    FakeWindow window;
    window.SetText(IDC_SERVER, responder.ServerText());
    CTikkaraDlg dialog(window); // the real sockets and clock

    std::printf("== Core exchange: OnOK on the in-memory window vs a bare round trip, %s, %d rounds\n",
                responder.ServerText().c_str(), rounds);
    PrintLoad("before");

    std::vector<double> floorUs, freshUs, toolUs;
    const int warmUp = 100;
    int failures = 0;
    for (int i = -warmUp; i < rounds; ++i) {
        double bare = 0, fresh = 0, tool = 0;
        auto timeFloor = [&] {
            const double t0 = NowUs();
            failures += !BareRoundTrip(floorSocket, server);
            bare = NowUs() - t0;
            const double t1 = NowUs();
            failures += !FreshSocketRoundTrip(server);
            fresh = NowUs() - t1;
        };
        auto timeTool = [&] {
            const double t0 = NowUs();
            dialog.OnOK();
            tool = NowUs() - t0;
            failures += !WholeReport(window);
        };
        if (i % 2 == 0) {
            timeFloor();
            timeTool();
        } else {
            timeTool();
            timeFloor();
        }
        if (i >= 0) {
            floorUs.push_back(bare);
            freshUs.push_back(fresh);
            toolUs.push_back(tool);
        }
    }
    ::close(floorSocket);
    if (failures != 0) {
        std::fprintf(stderr, "%d exchanges failed; last log:\n%s\n", failures, window.LogText().c_str());
        return 1;
    }

    PrintSpread("floor: bare sendto/recvfrom", floorUs, "us");
    PrintSpread("  + socket()/close() around it", freshUs, "us");
    PrintSpread("tool: one query (OnOK)", toolUs, "us");
    const double overhead = Median(toolUs) - Median(floorUs);
    std::printf("  tool overhead (median - floor median): %.1f us; ratio tool/floor %.2f\n", overhead,
                Median(toolUs) / Median(floorUs));
    std::printf("  GOAL overhead < %.0f us: %s\n", ExchangeGoalUs, Verdict(overhead < ExchangeGoalUs));
    PrintLoad("after");

    // Rendering of one answer: the three texts a successful query logs.
    const CNtpMsg answer = DecodedAnswer();
    const int batch = 100;
    const int batches = std::max(50, rounds / 10);
    std::vector<double> perAnswerUs;
    size_t bytes = 0;
    for (int b = -5; b < batches; ++b) {
        const double t0 = NowUs();
        for (int i = 0; i < batch; ++i) {
            bytes += dialog.FormatResultBox(answer).size();
            bytes += answer.GetPacketContent().size();
            bytes += answer.GetTimeZoneText().size();
        }
        if (b >= 0)
            perAnswerUs.push_back((NowUs() - t0) / batch);
    }
    std::printf("== Rendering: FormatResultBox + GetPacketContent + GetTimeZoneText, %d x %d answers "
                "(%zu bytes)\n",
                batches, batch, bytes / static_cast<size_t>((batches + 5) * batch));
    PrintSpread("per answer", perAnswerUs, "us");
    const double rendering = Median(perAnswerUs);
    std::printf("  ratio rendering/floor round trip %.3f\n", rendering / Median(floorUs));
    std::printf("  GOAL rendering < %.0f us per answer: %s\n", RenderingGoalUs, Verdict(rendering < RenderingGoalUs));
    return 0;
}
