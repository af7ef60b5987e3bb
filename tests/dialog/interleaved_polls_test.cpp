// The monitor's interleaved bookkeeping against a scripted server that
// interleaves as chronyd does: the requests' form, the answers' mode, and
// the times an interleaved answer's figures pair its transmit time with.
#include "query/InterleavedPolls.h"
#include "support/DialogRig.h"
#include "support/UdpResponder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>

namespace {
using Responder = CUdpResponder;

// chronyd's way: the precise transmit time of an answer is kept only for a
// request in interleaved form, so the first of those is answered in basic
// mode. A server that answers basic only never interleaves.
class InterleavingServer {
public:
    InterleavingServer(bool interleaves, std::set<int> dropped, int restartAt)
        : m_interleaves(interleaves), m_dropped(std::move(dropped)), m_restartAt(restartAt)
    {
    }

    std::vector<Responder::Datagram> Answer(const Responder::Request& request)
    {
        std::lock_guard lock(m_mutex);
        const CNtpMsg asked(request.bytes.data());
        if (++m_requests == m_restartAt)
            m_saved = false;
        CNtpMsg answer = Responder::ServerReply(request);
        answer.m_receive.Fraction += static_cast<uint32_t>(m_requests); // two in one millisecond differ
        // A basic request's timestamps carry a random last byte, no more.
        const bool interleavedForm = asked.m_originate.Seconds != 0 && asked.m_receive != asked.m_transmit;
        if (m_interleaves && interleavedForm && m_saved && asked.m_originate == m_savedReceive) {
            answer.m_originate = asked.m_receive;
            answer.m_transmit = m_savedTransmit;
        }
        if (m_interleaves && interleavedForm) {
            m_saved = true;
            m_savedReceive = answer.m_receive;
            // Later than the time written into the answer, as the kernel's is.
            m_savedTransmit = NtpTimestamp{answer.m_receive.Seconds, answer.m_receive.Fraction ^ 0xFFFu};
            m_precise.push_back(m_savedTransmit);
        }
        if (m_dropped.count(m_requests) != 0)
            return {};
        return {Responder::Message(answer)};
    }

    std::vector<NtpTimestamp> Precise()
    {
        std::lock_guard lock(m_mutex);
        return m_precise;
    }

private:
    std::mutex m_mutex;
    bool m_interleaves;
    std::set<int> m_dropped; // answers lost on the way back
    int m_restartAt;         // the request before which the server forgets
    int m_requests = 0;
    bool m_saved = false;
    NtpTimestamp m_savedReceive;
    NtpTimestamp m_savedTransmit;
    std::vector<NtpTimestamp> m_precise;
};

struct PollsCase {
    const char* name;
    bool interleaves;
    std::set<int> dropped;
    int restartAt;
    const char* forms; // per poll: b basic, i interleaved request
    const char* modes; // per poll: B basic, I interleaved answer, - none
};

const PollsCase Cases[] = {
    {"AnswersInterleaved", true, {}, 0, "biiiii", "BBIIII"},
    {"AnswersBasic", false, {}, 0, "biiiibb", "BBBBBBB"},
    {"LosesAPoll", true, {3}, 0, "biiiii", "BB-BII"},
    {"Restarts", true, {}, 4, "biiiii", "BBIBII"},
};

class InterleavedPollsTest : public ::testing::TestWithParam<PollsCase>, public DialogRig {};

TEST_P(InterleavedPollsTest, FormsModesAndPairedTimes)
{
    const PollsCase& c = GetParam();
    InterleavingServer script(c.interleaves, c.dropped, c.restartAt);
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
            const std::vector<NtpTimestamp> precise = script.Precise();
            EXPECT_NE(std::find(precise.begin(), precise.end(), t.t3), precise.end());
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
