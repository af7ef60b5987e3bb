// The monitor's interleaved bookkeeping against a scripted server that
// interleaves as chronyd does: the requests' form, the answers' mode, and
// the times an interleaved answer's figures pair its transmit time with.
#include "query/InterleavedPolls.h"
#include "support/DialogRig.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <set>

namespace {
using Responder = CUdpResponder;

struct PollsCase {
    const char* name;
    bool interleaves;
    std::set<int> dropped; // answers lost on the way back
    int restartAt;         // the request before which the server forgets
    const char* forms;     // per poll: b basic, i interleaved request
    const char* modes;     // per poll: B basic, I interleaved answer, - none
};

const PollsCase Cases[] = {
    {"AnswersInterleaved", true, {}, 0, "biiiii", "BBIIII"},
    {"AnswersBasic", false, {}, 0, "biiiibb", "BBBBBBB"},
    {"LosesAPoll", true, {3}, 0, "biiiii", "BB-BII"},
    {"Restarts", true, {}, 4, "biiiii", "BBIBII"},
};

// The precise transmit time the server keeps for an answer of this receive time.
NtpTimestamp PreciseTransmit(const NtpTimestamp& receive) { return {receive.Seconds, receive.Fraction ^ 0xFFFu}; }

// chronyd's way: the precise transmit time of an answer is kept only for a
// request in interleaved form, so the first of those is answered in basic
// mode. Runs on the responder's thread only.
struct InterleavingServer {
    const PollsCase& script;
    int requests = 0;
    NtpTimestamp savedReceive; // zero: nothing kept

    std::vector<Responder::Datagram> Answer(const Responder::Request& request)
    {
        const CNtpMsg asked(request.bytes.data());
        if (++requests == script.restartAt)
            savedReceive = NtpTimestamp{};
        CNtpMsg answer = Responder::ServerReply(request);
        answer.m_receive.Fraction += static_cast<uint32_t>(requests); // two in one millisecond differ
        // A basic request's timestamps carry a random last byte, no more.
        const bool interleavedForm = asked.m_originate.Seconds != 0 && asked.m_receive != asked.m_transmit;
        if (script.interleaves && interleavedForm) {
            if (savedReceive != NtpTimestamp{} && asked.m_originate == savedReceive) {
                answer.m_originate = asked.m_receive;
                answer.m_transmit = PreciseTransmit(savedReceive);
            }
            savedReceive = answer.m_receive;
        }
        if (script.dropped.count(requests) != 0)
            return {};
        return {Responder::Message(answer)};
    }
};

class InterleavedPollsTest : public ::testing::TestWithParam<PollsCase>, public DialogRig {};

TEST_P(InterleavedPollsTest, FormsModesAndPairedTimes)
{
    const PollsCase& c = GetParam();
    InterleavingServer script{c, 0, {}};
    Responder server([&](const Responder::Request& r) { return script.Answer(r); });
    CExchangeEngine& engine = dialog.Engine();
    NtpExchange opened;
    SocketHandle socket = engine.OpenSocket(opened);
    ASSERT_NE(socket, InvalidSocket);
    ExchangeOptions options;
    options.timeoutSeconds = 1;

    CInterleavedPolls polls;
    std::string forms, modes;
    NtpExchange lastAnswered;
    for (size_t n = 0; n < std::string(c.forms).size(); ++n) {
        CNtpMsg request = engine.NewRequest(false);
        polls.Prepare(request);
        forms += request.m_originate == NtpTimestamp{} ? 'b' : 'i';
        NtpExchange e;
        ASSERT_EQ(engine.Send(socket, server.Endpoint(), request, options, e), 48);
        engine.Receive(socket, options, e);
        polls.Settle(e);
        if (!e.Answered()) {
            modes += '-';
            continue;
        }
        modes += e.mode == ExchangeMode::Interleaved ? 'I' : 'B';
        if (e.mode == ExchangeMode::Interleaved) {
            // The exchange completed is the last one answered, with the
            // precise transmit time of its answer.
            const ExchangeTimes t = MeasuredTimes(e);
            EXPECT_EQ(t.t1, lastAnswered.sentAt);
            EXPECT_EQ(t.t2, lastAnswered.reply.m_receive);
            EXPECT_EQ(t.t4, lastAnswered.arrivedAt);
            EXPECT_EQ(t.t3, PreciseTransmit(t.t2));
            EXPECT_TRUE(IsTrustedAnswer(e)) << UntrustedReason(e);
        }
        lastAnswered = e;
    }
    engine.CloseSocket(socket);
    EXPECT_EQ(forms, c.forms);
    EXPECT_EQ(modes, c.modes);
}
INSTANTIATE_TEST_SUITE_P(Servers, InterleavedPollsTest, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
