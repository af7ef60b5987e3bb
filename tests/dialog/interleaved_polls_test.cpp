// The monitor's interleaved bookkeeping against a scripted server that
// interleaves as chronyd does: the requests' form, the answers' mode, and
// the times an interleaved answer's figures pair its transmit time with.
#include "query/InterleavedPolls.h"
#include "support/DialogRig.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {
using Responder = CUdpResponder;

struct PollsCase {
    const char* name;
    bool interleaves;
    int dropped;       // the request whose answer is lost on the way back
    int restartAt;     // the request before which the server forgets
    const char* forms; // per poll: b basic, i interleaved request
    const char* modes; // per poll: B basic, I interleaved answer, - none
};

const PollsCase Cases[] = {
    {"AnswersInterleaved", true, 0, 0, "biiiii", "BBIIII"},
    {"AnswersBasic", false, 0, 0, "biiiibb", "BBBBBBB"},
    {"LosesAPoll", true, 3, 0, "biiiii", "BB-BII"},
    {"Restarts", true, 0, 4, "biiiii", "BBIBII"},
};

// The precise transmit time the server keeps for an answer of this receive time.
NtpTimestamp PreciseTransmit(const NtpTimestamp& receive) { return {receive.Seconds, receive.Fraction ^ 0xFFFu}; }

class InterleavedPollsTest : public ::testing::TestWithParam<PollsCase>, public DialogRig {};

TEST_P(InterleavedPollsTest, FormsModesAndPairedTimes)
{
    const PollsCase& c = GetParam();
    // chronyd's way: the precise transmit time of an answer is kept only for
    // a request in interleaved form, so the first of those is answered in
    // basic mode. Touched on the responder's thread only.
    int requests = 0;
    NtpTimestamp saved; // the receive time of the answer kept; zero: none
    Responder server([&](const Responder::Request& r) -> std::vector<Responder::Datagram> {
        const CNtpMsg asked(r.bytes.data());
        if (++requests == c.restartAt)
            saved = NtpTimestamp{};
        CNtpMsg answer = Responder::ServerReply(r);
        answer.m_receive.Fraction += static_cast<uint32_t>(requests); // two in one millisecond differ
        // A basic request's timestamps carry a random last byte, no more.
        if (c.interleaves && asked.m_originate.Seconds != 0 && asked.m_receive != asked.m_transmit) {
            if (asked.m_originate == saved) {
                answer.m_originate = asked.m_receive;
                answer.m_transmit = PreciseTransmit(saved);
            }
            saved = answer.m_receive;
        }
        if (requests == c.dropped)
            return {};
        return {Responder::Message(answer)};
    });
    CExchangeEngine& engine = dialog.Engine();
    NtpExchange opened;
    SocketHandle socket = engine.OpenSocket(opened);
    ASSERT_NE(socket, InvalidSocket);
    ExchangeOptions options;
    options.timeoutSeconds = 1;
    CInterleavedPolls polls;
    std::string forms, modes;
    NtpExchange lastAnswered;
    for (size_t n = 0; n < std::strlen(c.forms); ++n) {
        CNtpMsg request = engine.NewRequest(false);
        polls.Prepare(request);
        forms += request.m_originate == NtpTimestamp{} ? 'b' : 'i';
        NtpExchange e;
        ASSERT_EQ(engine.Send(socket, server.Endpoint(), request, options, e), 48);
        engine.Receive(socket, options, e);
        polls.Settle(e);
        modes += !e.Answered() ? '-' : e.mode == ExchangeMode::Interleaved ? 'I' : 'B';
        if (e.mode == ExchangeMode::Interleaved) {
            // It completes the last exchange answered, with the precise
            // transmit time of that answer.
            const ExchangeTimes t = MeasuredTimes(e);
            EXPECT_EQ(std::tie(t.t1, t.t2, t.t4),
                      std::tie(lastAnswered.sentAt, lastAnswered.reply.m_receive, lastAnswered.arrivedAt));
            EXPECT_EQ(t.t3, PreciseTransmit(t.t2));
            EXPECT_TRUE(IsTrustedAnswer(e)) << UntrustedReason(e);
        }
        if (e.Answered())
            lastAnswered = e;
    }
    engine.CloseSocket(socket);
    EXPECT_EQ(forms, c.forms);
    EXPECT_EQ(modes, c.modes);
}
INSTANTIATE_TEST_SUITE_P(Servers, InterleavedPollsTest, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
